#!/usr/bin/env python3
"""An HTTPS server for the RDAP tests, on one loopback address.

    rdap_test_server.py ADDRESS PORT CERT KEY ROUTES LOG READY

ROUTES is a JSON object: "host/path" -> a list of answers, the n-th request getting the n-th
answer (the last one again after that). An answer: {"status": 200, "headers": {...},
"body": "..." or "file": "...", "holdSeconds": 0}; with holdSeconds the server sends the
headers and the first half of the body, then waits that long or until the client goes.
Every request is written to LOG as "host/path"; a client that left a held answer as
"gone host/path". READY is written once the server listens.
"""
import http.server
import json
import select
import ssl
import sys
import threading
import time

address, port, cert, key, routes_file, log_file, ready_file = sys.argv[1:8]
with open(routes_file, encoding="utf-8") as f:
    routes = json.load(f)
counts = {}
lock = threading.Lock()


def log(line):
    with lock, open(log_file, "a", encoding="utf-8") as f:
        f.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        host = (self.headers.get("Host") or "").split(":")[0]
        route = host + self.path
        log(route)
        with lock:
            n = counts.get(route, 0)
            counts[route] = n + 1
        answers = routes.get(route)
        if not answers:
            answer = {"status": 404, "body": ""}
        else:
            answer = answers[min(n, len(answers) - 1)]
        if "file" in answer:
            with open(answer["file"], "rb") as f:
                body = f.read()
        else:
            body = answer.get("body", "").encode("utf-8")
        self.send_response(answer.get("status", 200))
        headers = {"Content-Type": "application/rdap+json"}
        headers.update(answer.get("headers", {}))
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        hold = answer.get("holdSeconds", 0)
        if hold:
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            end = time.monotonic() + hold
            while time.monotonic() < end:
                readable, _, _ = select.select([self.connection], [], [], 0.05)
                try:
                    gone = readable and not self.connection.recv(1)
                except OSError:
                    gone = True
                if gone:
                    log("gone " + route)
                    return
            return
        self.wfile.write(body)


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server = http.server.ThreadingHTTPServer((address, int(port)), Handler)
server.daemon_threads = True
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(ready_file, "w", encoding="utf-8") as f:
    f.write("ready\n")
server.serve_forever()
