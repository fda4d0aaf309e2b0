#include "host/ssh_command.h"

#include <cctype>

#include "base/outside_text.h"

namespace {

// ssh's errors shown at most: a changed host key's warning is about 1,200 bytes.
constexpr size_t kErrorTextLimit = 4096;

bool IsNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool IsHostText(const std::string& host) {
  if (host.empty() || host.size() > 253 || host.front() == '-') return false;
  for (char c : host) {
    if (!IsNameCharacter(c) && c != ':' && c != '%') return false;  // ':' and '%' for IPv6
  }
  return true;
}

bool IsUserText(const std::string& user) {
  if (user.empty() || user.size() > 64 || user.front() == '-') return false;
  for (char c : user) {
    if (!IsNameCharacter(c) && c != '$') return false;
  }
  return true;
}

// A port of 1 to 65535 written in decimal.
int PortOf(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  int port = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

}  // namespace

std::optional<SshDestination> ParseSshDestination(const std::string& text) {
  SshDestination destination;
  std::string rest = text;
  if (const size_t at = rest.rfind('@'); at != std::string::npos) {
    destination.user = rest.substr(0, at);
    rest = rest.substr(at + 1);
    if (!IsUserText(destination.user)) return std::nullopt;
  }
  if (!rest.empty() && rest.front() == '[') {  // [address] or [address]:port
    const size_t close = rest.find(']');
    if (close == std::string::npos) return std::nullopt;
    destination.host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':' || (destination.port = PortOf(after.substr(1))) == 0) {
        return std::nullopt;
      }
    }
  } else if (const size_t colon = rest.find(':');
             colon != std::string::npos && rest.find(':', colon + 1) == std::string::npos) {
    destination.host = rest.substr(0, colon);  // host:port
    if ((destination.port = PortOf(rest.substr(colon + 1))) == 0) return std::nullopt;
  } else {
    destination.host = rest;  // a name, an alias, or an IPv6 address without a port
  }
  if (!IsHostText(destination.host)) return std::nullopt;
  return destination;
}

std::string SshDestinationText(const SshDestination& destination) {
  std::string text = destination.user.empty() ? "" : destination.user + "@";
  const bool ipv6 = destination.host.find(':') != std::string::npos;
  if (destination.port == 0) return text + destination.host;
  text += ipv6 ? "[" + destination.host + "]" : destination.host;
  return text + ":" + std::to_string(destination.port);
}

std::string RemoteAgentCommand() {
  return "sh -c 'if command -v pelorin-agent >/dev/null 2>&1; then exec pelorin-agent; "
         "elif [ -x /usr/libexec/pelorin/pelorin-agent ]; then "
         "exec /usr/libexec/pelorin/pelorin-agent; else exit 127; fi'";
}

std::vector<std::string> SshAgentCommand(const SshDestination& destination,
                                         const std::string& ssh) {
  std::vector<std::string> command = {
      ssh, "-T", "-o", "ServerAliveInterval=15", "-o", "ServerAliveCountMax=3"};
  if (!destination.user.empty()) command.insert(command.end(), {"-l", destination.user});
  if (destination.port != 0) {
    command.insert(command.end(), {"-p", std::to_string(destination.port)});
  }
  // After "--" nothing is an option, whatever the destination holds.
  command.insert(command.end(), {"--", destination.host, RemoteAgentCommand()});
  return command;
}

namespace {

// `lead`, then ssh's own words line by line (text from outside: nothing in one can pass for
// another line), else its exit status.
std::string WithSshWords(const std::string& lead, int exitStatus, const std::string& sshErrors) {
  std::string said = sshErrors.substr(0, kErrorTextLimit);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  if (said.empty()) {
    if (exitStatus < 0) return lead + ": ssh ended";
    return lead + ": ssh ended with status " + std::to_string(exitStatus);
  }
  std::string text = lead + ":";
  size_t start = 0;
  while (start <= said.size()) {
    size_t end = said.find('\n', start);
    if (end == std::string::npos) end = said.size();
    std::string line = said.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text += "\n" + EscapedTextFromOutside(line, ' ');
    start = end + 1;
  }
  return text;
}

}  // namespace

std::string SshFailureText(const SshDestination& destination, int exitStatus,
                           const std::string& sshErrors) {
  const std::string host = SshDestinationText(destination);
  if (exitStatus == kAgentMissing) {
    return "pelorin-agent is not installed on " + host +
           ": install the package pelorin-agent there";
  }
  return WithSshWords("Cannot connect to " + host, exitStatus, sshErrors);
}

std::string SshLossText(const SshDestination& destination, int exitStatus,
                        const std::string& sshErrors) {
  return WithSshWords("The connection to " + SshDestinationText(destination) + " was lost",
                      exitStatus, sshErrors);
}
