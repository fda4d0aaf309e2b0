#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "netinfo/rtnetlink_dump.h"

namespace {

// Netlink's messages, attributes and next hops all start on 4-byte boundaries.
constexpr size_t kAlignment = 4;

// The next `length` bytes as a reader of their own; the cursor moves past them and past the
// padding that follows (which the last item may lack).
ByteReader NextItem(ByteReader& bytes, size_t length) {
  const uint8_t* item = bytes.nextSpan(length);
  const size_t padding = (kAlignment - length % kAlignment) % kAlignment;
  bytes.skip(std::min(padding, bytes.remaining()));
  return ByteReader(item, item ? length : 0);
}

// Calls f(type, payload) for every attribute in the bytes; stops at the first one that claims
// more than remains. Each takes at least its header, so the loop ends.
template <typename F>
void ForEachAttribute(ByteReader bytes, F f) {
  while (bytes.hasNext(sizeof(rtattr))) {
    const rtattr attribute = bytes.native<rtattr>(bytes.position());
    if (attribute.rta_len < RTA_LENGTH(0) || attribute.rta_len > bytes.remaining()) return;
    f(attribute.rta_type, NextItem(bytes, attribute.rta_len).from(RTA_LENGTH(0)));
  }
}

// The attributes after a message body's fixed header, false when the header is cut.
template <typename Header, typename F>
bool ForEachAttributeAfter(ByteReader body, Header& header, F f) {
  if (!body.hasNext(sizeof header)) return false;
  header = body.native<Header>(0);
  const size_t skip = NLMSG_ALIGN(sizeof(Header));
  if (skip < body.length()) ForEachAttribute(body.from(skip), f);
  return true;
}

bool ReadU32(ByteReader payload, uint32_t& value) {
  if (!payload.hasNext(sizeof value)) return false;
  value = payload.native<uint32_t>(0);
  return true;
}

// Calls f(type, body) for every message of a datagram. kDone at the dump's end, kFailed at an
// error reply or a message that claims more than remains.
template <typename F>
DumpState ForEachMessage(ByteReader datagram, F f) {
  while (datagram.hasNext(sizeof(nlmsghdr))) {
    const nlmsghdr header = datagram.native<nlmsghdr>(datagram.position());
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.remaining()) {
      return DumpState::kFailed;
    }
    if (header.nlmsg_type == NLMSG_DONE) return DumpState::kDone;
    if (header.nlmsg_type == NLMSG_ERROR) return DumpState::kFailed;
    ByteReader message = NextItem(datagram, header.nlmsg_len);
    if (header.nlmsg_len > NLMSG_HDRLEN) f(header.nlmsg_type, message.from(NLMSG_HDRLEN));
  }
  return DumpState::kMore;
}

}  // namespace

DumpState AdapterDump::add(const uint8_t* data, size_t size) {
  return ForEachMessage(ByteReader(data, size), [this](uint16_t type, ByteReader body) {
    if (type == RTM_NEWLINK) addLink(body);
    if (type == RTM_NEWADDR) addAddress(body);
    if (type == RTM_NEWROUTE) addRoute(body);
  });
}

void AdapterDump::addLink(ByteReader body) {
  ifinfomsg link{};
  AdapterRecord record;
  const bool whole = ForEachAttributeAfter(body, link, [&](uint16_t type, ByteReader payload) {
    if (type == IFLA_IFNAME) {
      // A zero-terminated name of at most IFNAMSIZ - 1 characters.
      const size_t n = std::min(payload.length(), size_t(IFNAMSIZ - 1));
      record.name.assign(reinterpret_cast<const char*>(payload.data()), n);
      record.name.resize(std::strlen(record.name.c_str()));
    } else if (type == IFLA_ADDRESS) {
      payload.nextBytes(record.mac.data(), std::min(payload.length(), record.mac.size()));
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
bool ReadAddress(uint8_t family, ByteReader payload, IpAddress& address) {
  if (family == AF_INET) {
    uint32_t value = 0;
    if (!ReadU32(payload, value)) return false;
    address = IpAddress::Ipv4(value);
    return true;
  }
  if (family == AF_INET6 && payload.hasNext(16)) {
    address = IpAddress::Ipv6(payload.data());
    return true;
  }
  return false;
}

// An IPv4 or IPv6 address message: the interface's own address (on a point-to-point link
// IFA_ADDRESS is the far end, IFA_LOCAL the adapter's own) and its prefix length, false when the
// message holds none.
bool ReadInterfaceAddress(ByteReader body, DumpedAddress& own) {
  ifaddrmsg message{};
  IpAddress local, address;
  bool hasLocal = false, hasAddress = false;
  const bool whole = ForEachAttributeAfter(body, message, [&](uint16_t type, ByteReader payload) {
    if (type == IFA_LOCAL) hasLocal = ReadAddress(message.ifa_family, payload, local);
    if (type == IFA_ADDRESS) hasAddress = ReadAddress(message.ifa_family, payload, address);
  });
  const int bits = message.ifa_family == AF_INET ? 32 : 128;
  if (!whole || message.ifa_prefixlen > bits || (!hasLocal && !hasAddress)) return false;
  own.index = int(message.ifa_index);
  own.address = hasLocal ? local : address;
  own.prefixLength = message.ifa_prefixlen;
  return true;
}

// The next hops of a multipath route: each a fixed header, then attributes of its own.
void AddNextHops(uint8_t family, ByteReader hops, std::vector<std::pair<int, IpAddress>>& out) {
  while (hops.hasNext(sizeof(rtnexthop))) {
    const rtnexthop hop = hops.native<rtnexthop>(hops.position());
    if (hop.rtnh_len < sizeof hop || hop.rtnh_len > hops.remaining()) return;
    ByteReader item = NextItem(hops, hop.rtnh_len);
    IpAddress hopGateway;
    bool hasHopGateway = false;
    const size_t skip = RTNH_ALIGN(sizeof hop);
    if (skip < hop.rtnh_len) {
      ForEachAttribute(item.from(skip), [&](uint16_t type, ByteReader payload) {
        if (type == RTA_GATEWAY) hasHopGateway = ReadAddress(family, payload, hopGateway);
      });
    }
    if (hasHopGateway) out.emplace_back(hop.rtnh_ifindex, hopGateway);
  }
}

}  // namespace

void AdapterDump::addAddress(ByteReader body) {
  DumpedAddress dumped;
  if (!ReadInterfaceAddress(body, dumped)) return;
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

void AdapterDump::addRoute(ByteReader body) {
  rtmsg route{};
  uint32_t table = 0, oif = 0;
  IpAddress gateway;
  bool hasGateway = false, hasOif = false;
  std::vector<std::pair<int, IpAddress>> nextHops;  // of a multipath route
  const bool whole = ForEachAttributeAfter(body, route, [&](uint16_t type, ByteReader payload) {
    if (type == RTA_TABLE) ReadU32(payload, table);
    if (type == RTA_GATEWAY) hasGateway = ReadAddress(route.rtm_family, payload, gateway);
    if (type == RTA_OIF) hasOif = ReadU32(payload, oif);
    if (type == RTA_MULTIPATH) AddNextHops(route.rtm_family, payload, nextHops);
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
  return ForEachMessage(ByteReader(data, size), [&](uint16_t type, ByteReader body) {
    if (type != RTM_NEWNEIGH) return;
    ndmsg neighbour{};
    uint32_t destination = 0;
    bool hasDestination = false;
    const bool whole = ForEachAttributeAfter(body, neighbour, [&](uint16_t t, ByteReader payload) {
      if (t == NDA_DST) hasDestination = payload.length() == 4 && ReadU32(payload, destination);
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
  return ForEachMessage(ByteReader(data, size), [&](uint16_t type, ByteReader body) {
    DumpedAddress entry;
    if (type == RTM_NEWADDR && ReadInterfaceAddress(body, entry)) {
      addresses.push_back(entry);
    }
  });
}

int AckError(const uint8_t* data, size_t size) {
  ByteReader reply(data, size);
  const nlmsghdr header = reply.native<nlmsghdr>(0);
  const nlmsgerr error = reply.native<nlmsgerr>(NLMSG_HDRLEN);
  if (reply.failed() || header.nlmsg_type != NLMSG_ERROR || header.nlmsg_len > size) return 1;
  return error.error;
}
