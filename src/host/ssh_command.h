#pragma once

#include <optional>
#include <string>
#include <vector>

// A host reached with the system's ssh client, which runs pelorin-agent there. The destination
// is what ssh itself takes: [user@]host[:port], where host is a name, an address ([...] around an
// IPv6 one that has a port after it) or a Host alias of the user's ssh configuration.
struct SshDestination {
  std::string user;  // empty: ssh's own choice (the configuration's, else the local user)
  std::string host;
  int port = 0;  // 0: ssh's own choice
};

// The destination, or nothing for one ssh could take as an option or that holds anything but
// the characters of user names, host names and addresses.
std::optional<SshDestination> ParseSshDestination(const std::string& text);

// The destination as the user wrote it, for the window's title and messages.
std::string SshDestinationText(const SshDestination& destination);

// The remote command: pelorin-agent from the remote PATH, else from the package's folder, run by
// a POSIX shell whatever the user's login shell is; kAgentMissing when there is none.
inline constexpr int kAgentMissing = 127;
std::string RemoteAgentCommand();

// The ssh command line that runs the agent on the destination: no terminal, keep-alives, the
// user's own configuration, keys, agent and known hosts.
std::vector<std::string> SshAgentCommand(const SshDestination& destination,
                                         const std::string& ssh = "ssh");

// Why a connection gave no agent, for the user: the agent missing on the host, else ssh's own
// words (what it printed on its error output, as text from outside), else its exit status.
std::string SshFailureText(const SshDestination& destination, int exitStatus,
                           const std::string& sshErrors);
// Why a connection that gave an agent was lost: ssh's words after the agent answered, else its
// exit status (-1 while it has not ended).
std::string SshLossText(const SshDestination& destination, int exitStatus,
                        const std::string& sshErrors);
