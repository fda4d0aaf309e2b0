#include "shell/command_line.h"

#include <algorithm>
#include <string_view>

#include "version.h"

namespace {

// The toolkit's own options, which it takes out of the arguments when the application starts.
// Each is written with one dash or two, a value after it or after "=".
struct ToolkitOption {
  std::string_view name;
  bool takesValue;
};

constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"qwindowicon", true},
    {"qwindowtitle", true},
    {"session", true},
    {"style", true},
    {"stylesheet", true},
    {"display", true},
    {"geometry", true},
    {"name", true},
    {"visual", true},
    {"reverse", false},
    {"widgetcount", false},
    {"qmljsdebugger", false},
    {"nograb", false},
    {"dograb", false},
    {"sync", false},
};

const ToolkitOption* FindToolkitOption(std::string_view name) {
  const auto* found = std::find_if(std::begin(kToolkitOptions), std::end(kToolkitOptions),
                                   [&](const ToolkitOption& o) { return o.name == name; });
  return found != std::end(kToolkitOptions) ? found : nullptr;
}

CommandLine Mistake(std::string text) {
  CommandLine line;
  line.action = CommandLineAction::kError;
  line.error = "pelorin: " + std::move(text) + "; 'pelorin --help' lists the options";
  return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  bool options = true;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!options || argument.size() < 2 || argument[0] != '-') {
      line.files.push_back(argument);  // "-" alone is a file's name too
      continue;
    }
    if (argument == "--") {
      options = false;
      continue;
    }
    const bool longForm = argument[1] == '-';
    const std::string_view option = std::string_view(argument).substr(longForm ? 2 : 1);
    const size_t equals = option.find('=');
    const std::string_view name = option.substr(0, equals);
    if (longForm && (name == "help" || name == "version")) {
      if (equals != std::string_view::npos) {
        return Mistake("option '--" + std::string(name) + "' takes no value");
      }
      line.action = name == "help" ? CommandLineAction::kHelp : CommandLineAction::kVersion;
      return line;
    }
    if (longForm && name == "agent-here") {
      if (equals != std::string_view::npos) return Mistake("option '--agent-here' takes no value");
      line.agentHere = true;
      continue;
    }
    if (longForm && name == "connect") {
      if (equals != std::string_view::npos) return Mistake("option '--connect' takes no value");
      line.askForHost = true;
      continue;
    }
    if (longForm && name == "host") {
      if (equals != std::string_view::npos) {
        line.host = std::string(option.substr(equals + 1));
      } else if (i + 1 < arguments.size()) {
        line.host = arguments[++i];
      } else {
        return Mistake("option '--host' needs a destination");
      }
      if (line.host.empty()) return Mistake("option '--host' needs a destination");
      continue;
    }
    if (const ToolkitOption* toolkit = FindToolkitOption(name)) {
      if (toolkit->takesValue && equals == std::string_view::npos) ++i;  // its value
      continue;
    }
    return Mistake("unknown option '" + argument + "'");
  }
  return line;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return ParseCommandLine(arguments);
}

std::string HelpText() {
  return "Usage: pelorin [OPTION]... [FILE]...\n"
         "Nine network tools in one window: Netstat, Ping / Trace, DNS, Whois, Packet Capture,\n"
         "TCP Socket, UDP Socket, Base64 / MD5 and NetInfo.\n"
         "\n"
         "A FILE is a capture file (pcap or pcapng): Packet Capture shows the first one as\n"
         "File... > Open Capture File... does.\n"
         "\n"
         "      --agent-here  inspect this computer through pelorin-agent, as a remote host\n"
         "                    is inspected (for trying the agent)\n"
         "      --connect     ask for a host to inspect over ssh, as File > Connect To\n"
         "                    Host... does, then inspect it as --host does\n"
         "      --help        display this help and exit\n"
         "      --host=DEST   inspect the Linux host DEST over ssh, through its\n"
         "                    pelorin-agent: [user@]host[:port] or a Host of ~/.ssh/config\n"
         "      --version     output version information and exit\n"
         "\n"
         "The options every Qt program takes, such as -platform NAME, are taken too.\n"
         "Exit status: 0, or 2 for a mistake on the command line.\n"
         "\n"
         "The manual page pelorin(1) tells more; F1 in the window shows the help page.\n";
}

std::string VersionText() {
  return "pelorin (Pelorin) " + std::to_string(PELORIN_VERSION_MAJOR) + "." +
         std::to_string(PELORIN_VERSION_MINOR) + "." + std::to_string(PELORIN_VERSION_BUILD) + "." +
         std::to_string(PELORIN_VERSION_REVISION) +
         "\n"
         "Free software under the MIT License: you may change and pass it on.\n"
         "There is NO WARRANTY, to the extent permitted by law.\n";
}

namespace {

// A text that could not be written (a full disk, a closed pipe) is a failure, as GNU programs
// report it.
int Print(const std::string& text, FILE* out, FILE* err) {
  if (std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0) return 0;
  std::fputs("pelorin: write error\n", err);
  return 1;
}

}  // namespace

int AnswerCommandLine(const CommandLine& line, FILE* out, FILE* err) {
  switch (line.action) {
    case CommandLineAction::kHelp:
      return Print(HelpText(), out, err);
    case CommandLineAction::kVersion:
      return Print(VersionText(), out, err);
    case CommandLineAction::kError:
      std::fputs((line.error + "\n").c_str(), err);
      return 2;
    case CommandLineAction::kRun:
      break;
  }
  return 0;
}
