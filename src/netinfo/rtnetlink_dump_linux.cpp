#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "netinfo/rtnetlink_dump.h"

namespace {

// A fixed header out of the bytes, if they hold one whole.
template <typename T>
bool ReadHeader(const uint8_t* data, size_t size, T& header) {
  if (size < sizeof(T)) return false;
  std::memcpy(&header, data, sizeof(T));
  return true;
}

// Calls f(type, payload, payloadSize) for every attribute in the bytes; stops at the first one
// that claims more than remains.
template <typename F>
void ForEachAttribute(const uint8_t* data, size_t size, F f) {
  rtattr attribute{};
  while (ReadHeader(data, size, attribute)) {
    if (attribute.rta_len < RTA_LENGTH(0) || attribute.rta_len > size) return;
    f(attribute.rta_type, data + RTA_LENGTH(0), size_t(attribute.rta_len) - RTA_LENGTH(0));
    const size_t step = RTA_ALIGN(attribute.rta_len);
    if (step >= size) return;
    data += step;
    size -= step;
  }
}

// The attributes after a message body's fixed header.
template <typename Header, typename F>
bool ForEachAttributeAfter(const uint8_t* body, size_t size, Header& header, F f) {
  if (!ReadHeader(body, size, header)) return false;
  const size_t skip = NLMSG_ALIGN(sizeof(Header));
  if (skip < size) ForEachAttribute(body + skip, size - skip, f);
  return true;
}

bool ReadU32(const uint8_t* payload, size_t size, uint32_t& value) {
  return ReadHeader(payload, size, value);
}

// Calls f(type, body, bodySize) for every message of a datagram. kDone at the dump's end,
// kFailed at an error reply or a message that claims more than remains.
template <typename F>
DumpState ForEachMessage(const uint8_t* data, size_t size, F f) {
  nlmsghdr header{};
  while (ReadHeader(data, size, header)) {
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > size) return DumpState::kFailed;
    if (header.nlmsg_type == NLMSG_DONE) return DumpState::kDone;
    if (header.nlmsg_type == NLMSG_ERROR) return DumpState::kFailed;
    const size_t headerSize = NLMSG_HDRLEN;
    if (header.nlmsg_len > headerSize) {
      f(header.nlmsg_type, data + headerSize, size_t(header.nlmsg_len) - headerSize);
    }
    const size_t step = NLMSG_ALIGN(header.nlmsg_len);
    if (step >= size) break;
    data += step;
    size -= step;
  }
  return DumpState::kMore;
}

}  // namespace

DumpState AdapterDump::add(const uint8_t* data, size_t size) {
  return ForEachMessage(data, size, [this](uint16_t type, const uint8_t* body, size_t length) {
    if (type == RTM_NEWLINK) addLink(body, length);
    if (type == RTM_NEWADDR) addAddress(body, length);
    if (type == RTM_NEWROUTE) addRoute(body, length);
  });
}

void AdapterDump::addLink(const uint8_t* body, size_t size) {
  ifinfomsg link{};
  AdapterRecord record;
  const bool whole = ForEachAttributeAfter(
      body, size, link, [&](uint16_t type, const uint8_t* payload, size_t length) {
        if (type == IFLA_IFNAME) {
          // A zero-terminated name of at most IFNAMSIZ - 1 characters.
          const size_t n = std::min(length, size_t(IFNAMSIZ - 1));
          record.name.assign(reinterpret_cast<const char*>(payload), n);
          record.name.resize(std::strlen(record.name.c_str()));
        } else if (type == IFLA_ADDRESS) {
          std::memcpy(record.mac.data(), payload, std::min(length, record.mac.size()));
        }
      });
  if (!whole || link.ifi_index <= 0) return;
  record.index = link.ifi_index;
  record.linkType = link.ifi_type;
  record.flags = link.ifi_flags;
  byIndex_[record.index] = std::move(record);
}

namespace {

// An address attribute of the message's family: 4 bytes for IPv4, 16 for IPv6.
bool ReadAddress(uint8_t family, const uint8_t* payload, size_t size, IpAddress& address) {
  if (family == AF_INET) {
    uint32_t value = 0;
    if (!ReadU32(payload, size, value)) return false;
    address = IpAddress::Ipv4(value);
    return true;
  }
  if (family == AF_INET6 && size >= 16) {
    address = IpAddress::Ipv6(payload);
    return true;
  }
  return false;
}

// An IPv4 or IPv6 address message: the interface's own address (on a point-to-point link
// IFA_ADDRESS is the far end, IFA_LOCAL the adapter's own) and its prefix length, false when the
// message holds none.
bool ReadInterfaceAddress(const uint8_t* body, size_t size, DumpedAddress& own) {
  ifaddrmsg message{};
  IpAddress local, address;
  bool hasLocal = false, hasAddress = false;
  const bool whole = ForEachAttributeAfter(
      body, size, message, [&](uint16_t type, const uint8_t* payload, size_t length) {
        if (type == IFA_LOCAL) hasLocal = ReadAddress(message.ifa_family, payload, length, local);
        if (type == IFA_ADDRESS) {
          hasAddress = ReadAddress(message.ifa_family, payload, length, address);
        }
      });
  const int bits = message.ifa_family == AF_INET ? 32 : 128;
  if (!whole || message.ifa_prefixlen > bits || (!hasLocal && !hasAddress)) return false;
  own.index = int(message.ifa_index);
  own.address = hasLocal ? local : address;
  own.prefixLength = message.ifa_prefixlen;
  return true;
}

}  // namespace

void AdapterDump::addAddress(const uint8_t* body, size_t size) {
  DumpedAddress dumped;
  if (!ReadInterfaceAddress(body, size, dumped)) return;
  const auto it = byIndex_.find(dumped.index);
  if (it == byIndex_.end()) return;
  AdapterRecord& adapter = it->second;
  if (dumped.address.isIpv6()) {
    adapter.ipv6Addresses.push_back({dumped.address, dumped.prefixLength});
    return;
  }
  if (adapter.addresses.empty()) adapter.firstPrefixLength = dumped.prefixLength;
  adapter.addresses.push_back(dumped.address.ipv4());
}

void AdapterDump::addRoute(const uint8_t* body, size_t size) {
  rtmsg route{};
  uint32_t table = 0, oif = 0;
  IpAddress gateway;
  bool hasGateway = false, hasOif = false;
  std::vector<std::pair<int, IpAddress>> nextHops;  // of a multipath route
  const bool whole = ForEachAttributeAfter(
      body, size, route, [&](uint16_t type, const uint8_t* payload, size_t length) {
        if (type == RTA_TABLE) ReadU32(payload, length, table);
        if (type == RTA_GATEWAY) {
          hasGateway = ReadAddress(route.rtm_family, payload, length, gateway);
        }
        if (type == RTA_OIF) hasOif = ReadU32(payload, length, oif);
        if (type == RTA_MULTIPATH) {
          rtnexthop hop{};
          while (ReadHeader(payload, length, hop) && hop.rtnh_len >= sizeof hop &&
                 hop.rtnh_len <= length) {
            IpAddress hopGateway;
            bool hasHopGateway = false;
            const size_t skip = RTNH_ALIGN(sizeof hop);
            if (skip < hop.rtnh_len) {
              ForEachAttribute(payload + skip, hop.rtnh_len - skip,
                               [&](uint16_t t, const uint8_t* p, size_t n) {
                                 if (t == RTA_GATEWAY) {
                                   hasHopGateway = ReadAddress(route.rtm_family, p, n, hopGateway);
                                 }
                               });
            }
            if (hasHopGateway) nextHops.emplace_back(hop.rtnh_ifindex, hopGateway);
            const size_t step = RTNH_ALIGN(hop.rtnh_len);
            if (step >= length) break;
            payload += step;
            length -= step;
          }
        }
      });
  if (table == 0) table = route.rtm_table;
  if (!whole || (route.rtm_family != AF_INET && route.rtm_family != AF_INET6) ||
      route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST || table != RT_TABLE_MAIN) {
    return;
  }
  if (hasGateway && hasOif) setGateway(int(oif), gateway);
  for (const auto& [index, hopGateway] : nextHops) setGateway(index, hopGateway);
}

void AdapterDump::setGateway(int index, const IpAddress& gateway) {
  const auto it = byIndex_.find(index);
  if (it == byIndex_.end() || gateway.isUnspecified()) return;
  AdapterRecord& adapter = it->second;
  if (gateway.isIpv4() && adapter.gateway == 0) adapter.gateway = gateway.ipv4();
  if (gateway.isIpv6() && !adapter.ipv6Gateway) adapter.ipv6Gateway = gateway;
}

std::vector<AdapterRecord> AdapterDump::adapters() const {
  std::vector<AdapterRecord> list;
  for (const auto& [index, adapter] : byIndex_) {
    if ((adapter.flags & IFF_LOOPBACK) == 0 && adapter.linkType != kArphrdLoopback) {
      list.push_back(adapter);
    }
  }
  return list;
}

DumpState AddNeighbours(const uint8_t* data, size_t size, int index,
                        std::vector<uint32_t>& addresses) {
  return ForEachMessage(data, size, [&](uint16_t type, const uint8_t* body, size_t length) {
    if (type != RTM_NEWNEIGH) return;
    ndmsg neighbour{};
    uint32_t destination = 0;
    bool hasDestination = false;
    const bool whole = ForEachAttributeAfter(
        body, length, neighbour, [&](uint16_t t, const uint8_t* payload, size_t n) {
          if (t == NDA_DST) hasDestination = n == 4 && ReadU32(payload, n, destination);
        });
    // The administrator's static entries and those that need no resolution are configuration,
    // not cache: they stay.
    const bool dynamic = (neighbour.ndm_state & (NUD_PERMANENT | NUD_NOARP)) == 0;
    if (whole && hasDestination && dynamic && neighbour.ndm_family == AF_INET &&
        neighbour.ndm_ifindex == index) {
      addresses.push_back(destination);
    }
  });
}

DumpState AddInterfaceAddresses(const uint8_t* data, size_t size,
                                std::vector<DumpedAddress>& addresses) {
  return ForEachMessage(data, size, [&](uint16_t type, const uint8_t* body, size_t length) {
    DumpedAddress entry;
    if (type == RTM_NEWADDR && ReadInterfaceAddress(body, length, entry)) {
      addresses.push_back(entry);
    }
  });
}

int AckError(const uint8_t* data, size_t size) {
  nlmsghdr header{};
  if (!ReadHeader(data, size, header) || header.nlmsg_type != NLMSG_ERROR ||
      header.nlmsg_len > size) {
    return 1;
  }
  nlmsgerr error{};
  if (!ReadHeader(data + NLMSG_HDRLEN, size - NLMSG_HDRLEN, error)) return 1;
  return error.error;
}
