#pragma once

#include <cstddef>
#include <memory>

#include "host/link.h"
#include "sys/run_token.h"

class CaptureService;
class DnsService;
class NetInfoService;
class NetstatService;
class PingService;
class SocketService;
class WhoisService;

// The services of a host behind a byte stream, one file each (remote_<tool>.cpp): each call is
// a round trip to pelorin-agent over `link`. Whatever the agent sends is decoded within bounds;
// a link that is lost fails every call as if the host's socket had failed.
std::unique_ptr<DnsService> NewRemoteDnsService(std::shared_ptr<Link> link);
std::unique_ptr<WhoisService> NewRemoteWhoisService(std::shared_ptr<Link> link);
std::unique_ptr<PingService> NewRemotePingService(std::shared_ptr<Link> link);
std::unique_ptr<CaptureService> NewRemoteCaptureService(std::shared_ptr<Link> link);
std::unique_ptr<SocketService> NewRemoteSocketService(std::shared_ptr<Link> link);
std::unique_ptr<NetstatService> NewRemoteNetstatService(std::shared_ptr<Link> link);
std::unique_ptr<NetInfoService> NewRemoteNetInfoService(std::shared_ptr<Link> link);

// NameService::resolveHost on the agent's host, which every remote service answers with.
int ResolveHostThere(Link& link, const char* name, char* destination, size_t capacity,
                     const RunToken* token);
