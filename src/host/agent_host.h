#pragma once

#include <memory>
#include <string>
#include <vector>

class Host;

// The window's side of pelorin-agent: a host behind a byte stream.

// Starts `command` (pelorin-agent itself, or a transport that runs it) as a child whose standard
// input and output are the stream, and waits for the agent's hello. The host, or null with
// `failure` saying why in a line for the user.
std::unique_ptr<Host> ConnectAgent(const std::vector<std::string>& command, std::string* failure);

// The agent of this build or installation, found as the helper is: beside the program, else in
// <prefix>/libexec/pelorin/; empty when there is none.
std::string FindAgentHere();

// The hello this window sends.
struct Hello;
Hello WindowHello();
