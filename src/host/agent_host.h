#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Host;

// The window's side of pelorin-agent: a host behind a byte stream.

// Starts `command` (pelorin-agent itself, or a transport that runs it) as a child whose standard
// input and output are the stream, and waits for the agent's hello. The host, or null with
// `failure` saying why in a line for the user.
std::unique_ptr<Host> ConnectAgent(const std::vector<std::string>& command, std::string* failure);

// The same with more said of the start.
struct AgentStart {
  std::vector<std::string> command;
  std::vector<std::string> environment;  // NAME=VALUE added to this process's for the command
  int helloTimeoutMs = 30000;            // a transport that asks the user needs longer
  // When set, the command's error output is kept (its first 16 KiB, the rest read and dropped)
  // and a start that gives no agent is explained from the command's exit status (-1 for a
  // signal) and that output.
  std::function<std::string(int exitStatus, const std::string& errors)> explain;
  // The same for a link lost after the hello, from what the command wrote after it.
  std::function<std::string(int exitStatus, const std::string& errors)> explainLoss;
};
std::unique_ptr<Host> ConnectAgent(const AgentStart& start, std::string* failure);

// The agent of this build or installation, found as the helper is: beside the program, else in
// <prefix>/libexec/pelorin/; empty when there is none.
std::string FindAgentHere();

// The hello this window sends.
struct Hello;
Hello WindowHello();
