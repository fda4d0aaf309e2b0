#pragma once

#include <memory>
#include <string>

#include "host/ssh_command.h"

class Host;

// The host at `destination`, through the system's ssh client running pelorin-agent there. ssh's
// questions (a password, a passphrase, an unknown host key) go to `askpass` (this program, which
// asks the user in a dialog when started with kAskpassVariable set); null with `failure` saying
// why in the user's terms.
std::unique_ptr<Host> ConnectSshHost(const SshDestination& destination, const std::string& askpass,
                                     std::string* failure);

// Set in the environment of the askpass program ssh starts.
inline constexpr const char* kAskpassVariable = "PELORIN_ASKPASS";
