// Destinations as ssh takes them, and nothing ssh could take as an option.
#include <gtest/gtest.h>

#include "host/ssh_command.h"

TEST(SshDestination, AsSshTakesThemAndNeverAnOption) {
  struct Case {
    const char* text;
    const char* user;
    const char* host;
    int port;
  };
  for (const Case& c :
       {Case{"lab", "", "lab", 0}, Case{"ops@db-1.example:2201", "ops", "db-1.example", 2201},
        Case{"[2001:db8::1]:22", "", "2001:db8::1", 22},
        Case{"root@fe80::1%eth0", "root", "fe80::1%eth0", 0}}) {
    const auto d = ParseSshDestination(c.text);
    ASSERT_TRUE(d) << c.text;
    EXPECT_EQ(d->user, c.user);
    EXPECT_EQ(d->host, c.host);
    EXPECT_EQ(d->port, c.port);
    EXPECT_EQ(SshDestinationText(*d), c.text);
  }
  for (const char* refused : {"", "-oProxyCommand=sh", "lab -v", "a@-x", "-l@lab", "lab:0",
                              "lab:65536", "[::1", "lab;true", "a b@lab", "lab\n"}) {
    EXPECT_FALSE(ParseSshDestination(refused)) << refused;
  }
  // The host comes after "--": the remote command is ours alone.
  const auto command = SshAgentCommand(*ParseSshDestination("ops@lab:2201"));
  ASSERT_GE(command.size(), 3u);
  EXPECT_EQ(command[command.size() - 3], "--");
  EXPECT_EQ(command[command.size() - 2], "lab");
  EXPECT_EQ(command.back(), RemoteAgentCommand());
}
