#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sockets/command_templates.h"
#include "sys/local_addresses.h"
#include "sockets/terminal_input.h"

namespace {

uint32_t Ip(const char* dotted) {
  return inet_addr(dotted);
}

InterfaceAddress Entry(unsigned index, const char* dotted, bool up = true, bool loopback = false) {
  InterfaceAddress a;
  a.interfaceIndex = index;
  a.up = up;
  a.loopback = loopback;
  a.address = Ip(dotted);
  return a;
}

}  // namespace

TEST(PortFromText, TakesTheLowSixteenBitsOfAnUnsignedNumber) {
  const std::vector<std::pair<std::string, uint16_t>> cases = {
      {"", 0},
      {"0", 0},
      {"80", 80},
      {"0080", 80},
      {"65535", 65535},
      {"65536", 0},
      {"70000", 4464},
      {"4294967295", 65535},
      {"4294967296", 0},
      {"99999999999", 0},
      {"12a", 0},
      {" 12", 0},
      {"000000000080", 80},  // leading zeros are no overflow
  };
  for (const auto& [text, port] : cases) EXPECT_EQ(PortFromText(text), port) << text;
}

TEST(SendDataFromText, TextAsItIsOrTheBytesOfHexPairs) {
  EXPECT_EQ(SendDataFromText("00 20 33", false),
            (std::vector<uint8_t>{'0', '0', ' ', '2', '0', ' ', '3', '3'}));
  EXPECT_EQ(SendDataFromText("00 20 33", true), (std::vector<uint8_t>{0x00, 0x20, 0x33}));
  EXPECT_EQ(SendDataFromText("", false), std::vector<uint8_t>{});
  EXPECT_FALSE(SendDataFromText("hello", true).has_value());  // no complete pair
  EXPECT_FALSE(SendDataFromText("", true).has_value());
  // 1000 characters of digits make the most bytes there are.
  EXPECT_EQ(SendDataFromText(std::string(1000, 'f'), true)->size(), 500u);
  EXPECT_EQ(SendDataFromText(std::string(1200, 'f'), true)->size(), 500u);
}

TEST(CommandTemplates, MenuOrderIdsAndTexts) {
  std::vector<std::string> submenus;
  std::set<int> ids;
  for (const CommandTemplate& t : CommandTemplates()) {
    if (submenus.empty() || submenus.back() != t.submenu) submenus.push_back(t.submenu);
    ids.insert(t.id);
  }
  EXPECT_EQ(submenus, (std::vector<std::string>{"HTTP", "POP3", "SMTP"}));
  EXPECT_EQ(ids.size(), 23u);
  EXPECT_STREQ(CommandTemplateText(40059),
               "GET / HTTP/1.1\r\nAccept: */*\r\nHost: www.example.com\r\n"
               "User-Agent: Opera\r\nConnection: close\r\n\r\n");
  EXPECT_STREQ(CommandTemplateText(40060),
               "HEAD / HTTP/1.1\r\nAccept: */*\r\nHost: www.example.com\r\n"
               "User-Agent: Opera\r\nConnection: close\r\n\r\n");
  EXPECT_STREQ(CommandTemplateText(40083), "UIDL 0\r\n");
  EXPECT_STREQ(CommandTemplateText(40076), "HELO \r\n");  // the blank before the line end
  EXPECT_STREQ(CommandTemplateText(40077), "MAIL FROM:<>\r\n");
  EXPECT_EQ(CommandTemplateText(0), nullptr);
  EXPECT_EQ(CommandTemplateText(40084), nullptr);
}

TEST(OrderLocalAddresses, OthersByInterfaceThenLoopbackDownOnesDropped) {
  const std::vector<InterfaceAddress> listed = {
      Entry(1, "127.0.0.1", true, true),
      Entry(3, "10.0.3.1"),
      Entry(2, "192.0.2.2"),
      Entry(4, "10.0.4.1", false),
      Entry(3, "10.0.3.2"),
      Entry(1, "127.0.0.53", true, true),
      Entry(2, "192.0.2.3"),
  };
  const std::vector<uint32_t> expected = {Ip("192.0.2.2"), Ip("192.0.2.3"), Ip("10.0.3.1"),
                                          Ip("10.0.3.2"),  Ip("127.0.0.1"), Ip("127.0.0.53")};
  EXPECT_EQ(OrderLocalAddresses(listed), expected);
  EXPECT_TRUE(OrderLocalAddresses({}).empty());
  EXPECT_TRUE(OrderLocalAddresses({Entry(5, "10.0.5.1", false)}).empty());
}
