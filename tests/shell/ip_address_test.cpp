#include "base/ip_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

std::string LibraryText(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN];
  return inet_ntop(AF_INET6, address.bytes().data(), text, sizeof text);
}

std::optional<IpAddress> LibraryParse(const std::string& text) {
  IpAddress::Bytes bytes;
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) != 1) return std::nullopt;
  return IpAddress::Ipv6(bytes);
}

// Addresses whose groups are mostly zero or 0xffff, so runs of zeros and IPv4 tails of every
// length and place come up.
IpAddress::Bytes RandomBytes(std::mt19937& random) {
  IpAddress::Bytes bytes{};
  for (size_t group = 0; group < 8; ++group) {
    const unsigned pick = random() % 4;
    const unsigned value = pick < 2 ? 0 : pick == 2 ? 0xffff : random() % 0x10000;
    bytes[2 * group] = uint8_t(value >> 8);
    bytes[2 * group + 1] = uint8_t(value);
  }
  return bytes;
}

}  // namespace

TEST(IpAddress, Ipv6TextIsTheCLibrarysAndReadsBack) {
  std::mt19937 random(5952);
  for (int i = 0; i < 20000; ++i) {
    const IpAddress address = IpAddress::Ipv6(RandomBytes(random));
    const std::string text = address.text();
    ASSERT_EQ(text, LibraryText(address));
    ASSERT_EQ(ParseIpv6Address(text), address) << text;
  }
  EXPECT_EQ(EndpointText(*ParseIpAddress("2001:db8::5"), 443), "[2001:db8::5]:443");
  EXPECT_EQ(EndpointText(*ParseIpAddress("::ffff:192.0.2.7"), 8080), "[::ffff:192.0.2.7]:8080");
  EXPECT_EQ(EndpointText(IpAddress::Ipv4(htonl(0xC0000207)), 80), "192.0.2.7:80");
}

TEST(IpAddress, ParsingAgreesWithTheCLibrary) {
  const std::vector<std::string> texts = {"::",
                                          ":",
                                          ":::",
                                          "1::",
                                          "1:",
                                          "::1:",
                                          "1:::2",
                                          "::1",
                                          "1::2::3",
                                          "::ffff:1.2.3.4",
                                          "::1.2.3.4",
                                          "::a.2.3.4",
                                          "::01.2.3.4",
                                          "::256.1.1.1",
                                          "::1.2.3",
                                          "::1.2.3.4.",
                                          "::1.2.3.4:5",
                                          "1:2:3:4:5:6:7:8",
                                          "1:2:3:4:5:6:7:8:9",
                                          "1:2:3:4:5:6:7::",
                                          "::1:2:3:4:5:6:7:8",
                                          "1:2:3:4:5:6:1.2.3.4",
                                          "1:2:3:4:5:6:7:1.2.3.4",
                                          "12345::",
                                          "0001::FFFF",
                                          "1.2.3.4",
                                          "",
                                          " ::1",
                                          "::1 ",
                                          "fe80::1%eth0",
                                          "2001:db8::/32",
                                          "::12345.1.1.1",
                                          "::1234.1.1.1",
                                          "g::"};
  for (const std::string& text : texts) {
    EXPECT_EQ(ParseIpv6Address(text), LibraryParse(text)) << text;
  }

  for (const char* text : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "01.2.3.4", "1.2.3",
                           "1.2.3.4.5", "256.0.0.1", "1..2.3", "127.1", ""}) {
    in_addr library{};
    const bool parsed = inet_pton(AF_INET, text, &library) == 1;
    const std::optional<IpAddress> ours = ParseIpv4Address(text);
    ASSERT_EQ(ours.has_value(), parsed) << text;
    if (parsed) {
      EXPECT_EQ(ours->ipv4(), library.s_addr) << text;
    }
  }
}

TEST(IpAddress, OrdersIpv4FirstThenEachFamilyNumerically) {
  std::set<IpAddress> sorted;
  for (const char* text : {"::ffff:1.2.3.4", "10.0.0.2", "2001:db8::1", "::", "9.255.255.255",
                           "10.0.0.10", "::1", "0.0.0.0", "fe80::1"}) {
    sorted.insert(*ParseIpAddress(text));
  }
  std::vector<std::string> texts;
  for (const IpAddress& address : sorted) texts.push_back(address.text());
  EXPECT_EQ(texts,
            (std::vector<std::string>{"0.0.0.0", "9.255.255.255", "10.0.0.2", "10.0.0.10",
                                      "::", "::1", "::ffff:1.2.3.4", "2001:db8::1", "fe80::1"}));
  EXPECT_TRUE(ParseIpAddress("::ffff:1.2.3.4")->isIpv4Mapped());
  EXPECT_TRUE(ParseIpAddress("fe80::1")->isLinkLocal());
  EXPECT_TRUE(ParseIpAddress("ff02::1")->isMulticast());
  EXPECT_TRUE(ParseIpAddress("::")->isUnspecified());
  EXPECT_FALSE(ParseIpAddress("::1")->isUnspecified());
}
