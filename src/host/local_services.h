#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "capture/capture_filter.h"
#include "dns/resolver_config.h"
#include "sys/resolve_host.h"
#include "sys/run_token.h"
#include "whois/rdap_bootstrap_store.h"

class CaptureService;
class DnsService;
class NetInfoService;
class NetstatService;
class PingService;
class SocketService;
class WhoisService;
struct NetInfoSources;

// The services of this computer, one file each (local_<tool>.cpp), which LocalHost holds.
// `resolverConfig`: where "Get Default" reads the resolver configuration (tests give their own).
std::unique_ptr<DnsService> NewLocalDnsService(
    const std::string& resolverConfig = kResolverConfigPath);
// Whois: how the port-43 servers' names are looked up and where the RDAP bootstrap is kept
// (tests give their own; nothing: the system's lookups and DefaultRdapBootstrapPlaces).
struct WhoisPlaces {
  const HostLookups* lookups = nullptr;
  std::optional<RdapBootstrapPlaces> rdapPlaces;
};
std::unique_ptr<WhoisService> NewLocalWhoisService(const WhoisPlaces& places = {});
std::unique_ptr<PingService> NewLocalPingService();
// `exclusion`: the connection its captures leave out (an agent's own ssh session).
std::unique_ptr<CaptureService> NewLocalCaptureService(const CaptureExclusion& exclusion = {});
std::unique_ptr<SocketService> NewLocalSocketService();
std::unique_ptr<NetstatService> NewLocalNetstatService();
std::unique_ptr<NetInfoService> NewLocalNetInfoService();
// Reading the files NetInfo's facts come from where `sources` says (tests give their own).
std::unique_ptr<NetInfoService> NewLocalNetInfoService(const NetInfoSources& sources);

// NameService::resolveHost on this computer, which every local service answers with.
int ResolveHostHere(const char* name, char* destination, size_t capacity, const RunToken* token);
