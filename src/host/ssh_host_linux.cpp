#include "host/ssh_host.h"

#include "host/agent_host.h"
#include "host/host.h"

namespace {

// The user may take a while over a password or a host key; ssh's own time-outs end a
// connection that does not come.
constexpr int kSshHelloTimeoutMs = 10 * 60 * 1000;

}  // namespace

std::unique_ptr<Host> ConnectSshHost(const SshDestination& destination, const std::string& askpass,
                                     std::string* failure) {
  AgentStart start;
  start.command = SshAgentCommand(destination);
  start.helloTimeoutMs = kSshHelloTimeoutMs;
  if (!askpass.empty()) {
    start.environment = {"SSH_ASKPASS=" + askpass, "SSH_ASKPASS_REQUIRE=force",
                         std::string(kAskpassVariable) + "=1"};
  }
  start.explain = [destination](int status, const std::string& errors) {
    return SshFailureText(destination, status, errors);
  };
  start.explainLoss = [destination](int status, const std::string& errors) {
    return SshLossText(destination, status, errors);
  };
  return ConnectAgent(start, failure);
}
