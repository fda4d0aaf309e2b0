#include "whois/whois_query.h"

#include <mutex>

#include "shell/message_presenter.h"
#include "shell/ui_thread.h"
#include "whois/rdap_answer.h"
#include "whois/rdap_bootstrap.h"
#include "whois/whois_answer.h"
#include "whois/whois_servers.h"
#include "whois/whois_service.h"

namespace {

std::mutex g_hooksMutex;
WhoisTestHooks g_hooks;

WhoisTestHooks CurrentHooks() {
  std::lock_guard lock(g_hooksMutex);
  return g_hooks;
}

// The box is shown only while the run is still wanted; a stopped run shows nothing more.
void ReportFailure(const WhoisRun& run, const std::string& text) {
  RunOnUiThread(run.token, [&] { ShowError(run.pane, "%s", text.c_str()); });
}

WhoisExchangeResult Exchange(const WhoisRun& run, const std::string& server,
                             const std::string& query) {
  return run.service->exchange(server, query, *run.token);
}

// What the user is told when a port-43 exchange fails; empty for none.
std::string FailureText(WhoisExchangeStatus status, const std::string& server) {
  switch (status) {
    case WhoisExchangeStatus::SocketFailed:
      return "Failed To Create Socket!";
    case WhoisExchangeStatus::ResolveFailed:
      return "Failed To Resolve Whois Server Name: " + server;
    case WhoisExchangeStatus::ConnectFailed:
      return "Failed To Connect To Whois Server: " + server;
    case WhoisExchangeStatus::SendFailed:
      return "Failed To Send Request!";
    case WhoisExchangeStatus::NoMemory:
      return "Memory Allocation Error!";
    case WhoisExchangeStatus::Ok:
    case WhoisExchangeStatus::Cancelled:
      break;
  }
  return {};
}

// A port-43 server that cannot be reached, or that closes without a word: a registry that left
// port 43 looks like this.
bool Unreachable(const WhoisExchangeResult& result) {
  return result.status == WhoisExchangeStatus::ResolveFailed ||
         result.status == WhoisExchangeStatus::ConnectFailed ||
         (result.status == WhoisExchangeStatus::Ok && result.answer.empty());
}

// The base URL of the RDAP service for the name, when the bootstrap lists one.
std::optional<std::string> RdapServiceFor(const WhoisRun& run, const std::string& name) {
  return run.service->rdapServiceFor(name, *run.token);
}

}  // namespace

void SetWhoisTestHooks(WhoisTestHooks hooks) {
  std::lock_guard lock(g_hooksMutex);
  g_hooks = std::move(hooks);
}

std::optional<std::string> WhoisQuery(const WhoisRun& run, const std::string& server,
                                      const std::string& query) {
  WhoisExchangeResult result = Exchange(run, server, query);
  if (result.status == WhoisExchangeStatus::Ok) return std::move(result.answer);
  if (result.status != WhoisExchangeStatus::Cancelled) {
    ReportFailure(run, FailureText(result.status, server));
  }
  return std::nullopt;
}

std::optional<RdapLookup> WhoisByRdap(const WhoisRun& run, const std::string& baseUrl,
                                      const std::string& name) {
  const std::string url = RdapDomainUrl(baseUrl, name);
  const RdapReply reply = run.service->exchangeRdap(url, *run.token);
  if (reply.transport == RdapTransport::Cancelled) return std::nullopt;
  const RdapText registry = RenderRdapReply(reply, name, url);
  RdapLookup lookup{RdapUrlLine(url) + registry.text, registry.answered};
  if (!registry.registrarUrl.empty()) {
    const RdapReply second = run.service->exchangeRdap(registry.registrarUrl, *run.token);
    if (second.transport == RdapTransport::Cancelled) return std::nullopt;
    lookup.text += "\r\n" + RdapUrlLine(registry.registrarUrl) +
                   RenderRdapReply(second, name, registry.registrarUrl).text;
  }
  return lookup;
}

std::optional<std::string> WhoisByName(const WhoisRun& run, std::string name,
                                       bool customServerChecked,
                                       const std::string& customServerText) {
  const std::optional<std::string> server =
      SelectWhoisServer(name, customServerChecked, customServerText);
  if (!server) {
    ReportFailure(run, "Bad Name!");
    return std::nullopt;
  }
  const WhoisPath path = ChooseWhoisPath(*server, customServerChecked);
  if (path == WhoisPath::RdapUrl) {
    const std::optional<RdapLookup> lookup = WhoisByRdap(run, *server, name);
    return lookup ? std::optional(lookup->text) : std::nullopt;
  }
  if (path == WhoisPath::RdapFirst) {
    if (const std::optional<std::string> base = RdapServiceFor(run, name)) {
      const std::optional<RdapLookup> lookup = WhoisByRdap(run, *base, name);
      return lookup ? std::optional(lookup->text) : std::nullopt;
    }
    if (run.token->cancelled()) return std::nullopt;
  }

  WhoisExchangeResult result = Exchange(run, *server, name);
  if (result.status == WhoisExchangeStatus::Cancelled) return std::nullopt;
  const std::string failure = result.status == WhoisExchangeStatus::Ok
                                  ? "No Answer From Whois Server: " + *server
                                  : FailureText(result.status, *server);
  if (path == WhoisPath::Port43ThenRdap && Unreachable(result)) {
    if (const std::optional<std::string> base = RdapServiceFor(run, name)) {
      const std::optional<RdapLookup> lookup = WhoisByRdap(run, *base, name);
      if (!lookup) return std::nullopt;
      // When RDAP cannot answer either, the port-43 failure is what the user is told.
      if (!lookup->answered && result.status != WhoisExchangeStatus::Ok) {
        ReportFailure(run, failure);
      }
      return "[" + failure + "]\r\n\r\n" + lookup->text;
    }
    if (run.token->cancelled()) return std::nullopt;
  }
  if (result.status == WhoisExchangeStatus::Ok) return std::move(result.answer);
  ReportFailure(run, failure);
  return std::nullopt;
}

std::optional<std::string> WhoisByAddress(const WhoisRun& run, const std::string& addressText) {
  const WhoisTestHooks hooks = CurrentHooks();
  const std::string registry = hooks.addressRegistry.empty()
                                   ? std::string(kWhoisAddressRegistryServer)
                                   : hooks.addressRegistry;
  std::optional<std::string> answer = WhoisQuery(run, registry, addressText);
  if (!answer) return std::nullopt;
  if (const std::optional<std::string> referral = FindReferralServer(*answer)) {
    answer = WhoisQuery(run, *referral, addressText);
  }
  return answer;
}
