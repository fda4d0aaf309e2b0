// The command line: files apart from the toolkit's options, the first --help, --version or
// mistake deciding, and the program itself answering as GNU programs do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/command_line.h"
#include "test_util.h"

namespace {

using Files = std::vector<std::string>;

const std::string kMistakeEnd = "; 'pelorin --help' lists the options";

}  // namespace

TEST(CommandLine, FilesAreWhatIsNeitherOursNorTheToolkits) {
  const CommandLine line =
      ParseCommandLine({"-platform", "offscreen", "a.pcap", "--style=fusion", "-session", "s1",
                        "-reverse", "b.pcapng", "-", "--", "--help", "-platform"});
  EXPECT_EQ(line.action, CommandLineAction::kRun);
  EXPECT_EQ(line.files, (Files{"a.pcap", "b.pcapng", "-", "--help", "-platform"}));
  // A toolkit option whose value is missing at the end takes nothing else with it.
  EXPECT_EQ(ParseCommandLine({"x.pcap", "--platform"}).files, Files{"x.pcap"});
  EXPECT_EQ(ParseCommandLine(std::vector<std::string>{}).files, Files{});
}

TEST(CommandLine, TheFirstOptionOfOursOrMistakeDecides) {
  EXPECT_EQ(ParseCommandLine({"a.pcap", "--version", "--frob"}).action,
            CommandLineAction::kVersion);
  EXPECT_EQ(ParseCommandLine({"--help", "--version"}).action, CommandLineAction::kHelp);
  const CommandLine unknown = ParseCommandLine({"a.pcap", "--frob", "--help"});
  EXPECT_EQ(unknown.action, CommandLineAction::kError);
  EXPECT_EQ(unknown.error, "pelorin: unknown option '--frob'" + kMistakeEnd);
  EXPECT_EQ(ParseCommandLine({"-h"}).error, "pelorin: unknown option '-h'" + kMistakeEnd);
  EXPECT_EQ(ParseCommandLine({"-help"}).action, CommandLineAction::kError);
  EXPECT_EQ(ParseCommandLine({"--version=2"}).error,
            "pelorin: option '--version' takes no value" + kMistakeEnd);
}

// The installed program's answers: to standard output with status 0, or one line on standard
// error with status 2; nothing starts a window.
TEST(CommandLine, TheProgramAnswersAsGnuProgramsDo) {
  const std::string program = PELORIN_PROGRAM;
  int status = -1;
  EXPECT_EQ(RunCommand(program + " --help 2>&1", &status), HelpText());
  EXPECT_EQ(status, 0);
  const std::string version = RunCommand(program + " a.pcap --version 2>/dev/null", &status);
  EXPECT_EQ(version.substr(0, version.find('\n')), "pelorin (Pelorin) 1.1.0.0");
  EXPECT_EQ(version, VersionText());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunCommand(program + " --frob 2>/dev/null", &status), "");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(RunCommand(program + " --frob 2>&1 >/dev/null", &status),
            "pelorin: unknown option '--frob'" + kMistakeEnd + "\n");
  EXPECT_EQ(RunCommand(program + " --help >/dev/full 2>&1", &status), "");
  EXPECT_EQ(status, 1);  // a help that could not be written is no success
}
