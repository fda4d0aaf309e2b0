#include "whois/whois_query.h"

#include <mutex>

#include "shell/message_presenter.h"
#include "shell/ui_thread.h"
#include "whois/whois_answer.h"
#include "whois/whois_exchange.h"
#include "whois/whois_servers.h"

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

}  // namespace

void SetWhoisTestHooks(WhoisTestHooks hooks) {
  std::lock_guard lock(g_hooksMutex);
  g_hooks = std::move(hooks);
}

std::optional<std::string> WhoisQuery(const WhoisRun& run, const std::string& server,
                                      const std::string& query) {
  const WhoisTestHooks hooks = CurrentHooks();
  const HostLookups& lookups = hooks.lookups ? *hooks.lookups : SystemHostLookups();
  WhoisExchangeResult result = ExchangeWhois(server, query, *run.token, lookups);
  switch (result.status) {
    case WhoisExchangeStatus::Ok:
      return std::move(result.answer);
    case WhoisExchangeStatus::SocketFailed:
      ReportFailure(run, "Failed To Create Socket!");
      break;
    case WhoisExchangeStatus::ResolveFailed:
      ReportFailure(run, "Failed To Resolve Whois Server Name: " + server);
      break;
    case WhoisExchangeStatus::ConnectFailed:
      ReportFailure(run, "Failed To Connect To Whois Server: " + server);
      break;
    case WhoisExchangeStatus::SendFailed:
      ReportFailure(run, "Failed To Send Request!");
      break;
    case WhoisExchangeStatus::NoMemory:
      ReportFailure(run, "Memory Allocation Error!");
      break;
    case WhoisExchangeStatus::Cancelled:
      break;
  }
  return std::nullopt;
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
  return WhoisQuery(run, *server, name);
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
