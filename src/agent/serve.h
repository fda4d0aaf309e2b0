#pragma once

#include "host/host.h"
#include "host/link.h"
#include "sys/name_service.h"

// The agent's side of each service: decodes the request a channel opened with, within bounds,
// asks this host's own service, sends the replies and ends the channel with the result (EINVAL
// for a request that cannot be read, ENOSYS for an operation it does not know). The channel's
// ended() token stops the work when the window cancels or goes.
void ServeChannel(Channel& channel, Host& host);

void ServeNames(Channel& channel, NameService& names);
void ServeDns(Channel& channel, DnsService& dns);
void ServeWhois(Channel& channel, WhoisService& whois);
void ServePing(Channel& channel, PingService& ping);
void ServeCapture(Channel& channel, CaptureService& capture);
void ServeSockets(Channel& channel, SocketService& sockets);
void ServeNetstat(Channel& channel, NetstatService& netstat);
void ServeNetInfo(Channel& channel, NetInfoService& netinfo);
