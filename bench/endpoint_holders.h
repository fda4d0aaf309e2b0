#pragma once

// Children that hold many TCP connections for a benchmark of the endpoint table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void HolderFail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::exit(1);
}

// A child that holds `count` connections to a listener of its own (both ends), says so on
// `ready`, and lets them go when `release` closes. Closing resets them, so no TIME_WAIT
// sockets are left behind.
inline pid_t StartHolder(const char* address, int count) {
  int ready[2], release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) HolderFail("no pipes");
  const pid_t pid = fork();
  if (pid != 0) {
    close(ready[1]);
    close(release[0]);
    char ok = 0;
    if (read(ready[0], &ok, 1) != 1 || ok != 'y')
      HolderFail("a holder could not make its connections");
    close(ready[0]);
    // The parent keeps release[1] open for the holder's life; it goes when the parent ends.
    return pid;
  }
  close(ready[0]);
  close(release[1]);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  sockaddr_storage sa{};
  socklen_t length = 0;
  if (in6_addr ipv6; inet_pton(AF_INET6, address, &ipv6) == 1) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&sa);
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = ipv6;
    length = sizeof *in6;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&sa);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = inet_addr(address);
    length = sizeof *in;
  }
  const int listener = socket(sa.ss_family, SOCK_STREAM, 0);
  if (bind(listener, reinterpret_cast<sockaddr*>(&sa), length) != 0 || listen(listener, 64) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    _exit(1);
  }
  const linger reset{1, 0};
  for (int i = 0; i < count; ++i) {
    const int client = socket(sa.ss_family, SOCK_STREAM, 0);
    if (client < 0 || connect(client, reinterpret_cast<sockaddr*>(&sa), length) != 0) _exit(1);
    setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    const int server = accept(listener, nullptr, nullptr);
    if (server < 0) _exit(1);
    setsockopt(server, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  char ok = 'y';
  if (write(ready[1], &ok, 1) != 1) _exit(1);
  char none;
  while (read(release[0], &none, 1) > 0) {
  }
  _exit(0);
}
