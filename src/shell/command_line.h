#pragma once

#include <cstdio>
#include <string>
#include <vector>

// What the program's command line asks for: `pelorin [OPTION]... [FILE]...`. The toolkit's own
// options (-platform NAME and the like) are left to the toolkit, which takes them out of the
// arguments itself; they are neither files nor unknown here.
enum class CommandLineAction {
  kRun,      // start the window; open the first file, if any
  kHelp,     // --help
  kVersion,  // --version
  kError,    // an unknown option, or a value given to an option that takes none
};

struct CommandLine {
  CommandLineAction action = CommandLineAction::kRun;
  std::vector<std::string> files;  // capture files, in the order given
  bool agentHere = false;          // --agent-here: this computer, through pelorin-agent
  std::string host;                // --host DEST: that host, over ssh
  bool askForHost = false;         // --connect: the host asked for first
  std::string error;               // kError: the one line that says what was wrong
};

// Reads the arguments after the program's name, in order: the first --help, --version or
// mistake decides; after "--" every argument is a file.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The texts of --help and --version, as GNU programs print them.
std::string HelpText();
std::string VersionText();

// For anything but kRun: prints the help or the version to `out`, or the error line to `err`,
// and returns the exit status (0, or 2 for a mistake).
int AnswerCommandLine(const CommandLine& line, FILE* out, FILE* err);
