#include "dns/dns_format.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/format_bounded.h"
#include "base/outside_text.h"

namespace {

struct DnsMode {
  const char* label;
  uint16_t type;
};

constexpr std::array<DnsMode, kDnsModeCount> kModes = {{
    {"Normal Resolve", 0},
    {"A", kDnsTypeA},
    {"NS", kDnsTypeNs},
    {"CNAME", kDnsTypeCname},
    {"SOA", kDnsTypeSoa},
    {"PTR", kDnsTypePtr},
    {"HINFO", kDnsTypeHinfo},
    {"MX", kDnsTypeMx},
    {"AAAA", kDnsTypeAaaa},
}};

struct SectionHeading {
  uint8_t section;
  const char* heading;
};

constexpr std::array<SectionHeading, 3> kSections = {{
    {kDnsAnswerSection, "[Authorititive Answers]\r\n"},
    {kDnsAuthoritySection, "[Authorititive Answers Can Be Found At]\r\n"},
    {kDnsAdditionalSection, "[Additional Records]\r\n"},
}};

// The SOA numbers are shown as the signed values of their 32 bits.
int Signed(uint32_t value) {
  return static_cast<int32_t>(value);
}

// A name or string of a reply as shown: UTF-8 label by label where valid, else Latin-1, and its
// control characters in \DDD form, so no reply can forge lines of the output.
std::string Shown(const char* bytes, uint16_t length) {
  return EscapedTextFromOutside(std::string_view(bytes, std::min<size_t>(length, kDnsMaxNameText)),
                                '.');
}

std::optional<std::string> FormatRecordLine(const DnsRecord& r) {
  const std::string name = Shown(r.name, r.nameLength);
  const std::string name2 = Shown(r.name2, r.name2Length);
  switch (r.type) {
    case kDnsTypeA:
      return FormatLine(kLineCapacity, "A:\t%s\r\n", DottedAddress(r.address).c_str());
    case kDnsTypeNs:
      return FormatLine(kLineCapacity, "NS:\t%s\r\n", name.c_str());
    case kDnsTypeCname:
      return FormatLine(kLineCapacity, "CNAME:\t%s\r\n", name.c_str());
    case kDnsTypeSoa:
      return FormatLine(kLineCapacity,
                        "SOA:\tmname:%s\r\n\tpname:%s\r\n\tserial:%d\r\n\trefresh:%d\r\n"
                        "\tretry:%d\r\n\texpire:%d\r\n\tminimum:%d\r\n",
                        name.c_str(), name2.c_str(), Signed(r.serial), Signed(r.refresh),
                        Signed(r.retry), Signed(r.expire), Signed(r.minimum));
    case kDnsTypePtr:
      return FormatLine(kLineCapacity, "PTR:\t%s\r\n", name.c_str());
    case kDnsTypeHinfo:
      return FormatLine(kLineCapacity, "HINFO:\t(cpu)%s\r\n\t(os)%s\r\n", name.c_str(),
                        name2.c_str());
    case kDnsTypeMx:
      return FormatLine(kLineCapacity, "MX:\t%-3d  %s\r\n", int{r.preference}, name.c_str());
    case kDnsTypeAaaa:
      return FormatLine(kLineCapacity, "AAAA:\t%s\r\n", IpAddress::Ipv6(r.address6).text().c_str());
    default:
      return std::nullopt;
  }
}

}  // namespace

const char* DnsModeLabel(int index) {
  return index >= 0 && index < kDnsModeCount ? kModes[static_cast<size_t>(index)].label : "";
}

uint16_t DnsQueryTypeOfMode(int index) {
  return index >= 0 && index < kDnsModeCount ? kModes[static_cast<size_t>(index)].type : 0;
}

std::string DnsQueryName(uint16_t type, const std::string& host) {
  const std::optional<IpAddress> address = ParseIpv6Address(host);
  if (type != kDnsTypePtr || !address) return host;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name;
  for (size_t i = address->bytes().size(); i-- > 0;) {
    const uint8_t byte = address->bytes()[i];
    name += {kHex[byte & 0x0F], '.', kHex[byte >> 4], '.'};
  }
  return name + "ip6.arpa";
}

std::optional<std::string> FormatDnsRecord(const DnsRecord& r) {
  std::optional<std::string> line = FormatRecordLine(r);
  if (line) DropCutCharacter(*line);  // a cut at 299 bytes never splits a character
  return line;
}

std::string FormatDnsSections(const DnsRecord* records, int count) {
  std::string text;
  for (const SectionHeading& s : kSections) {
    text += s.heading;
    for (int i = 0; records != nullptr && i < count; ++i) {
      if (records[i].section != s.section) continue;
      if (std::optional<std::string> line = FormatDnsRecord(records[i])) text += *line;
    }
    text += "\r\n";
  }
  return text;
}
