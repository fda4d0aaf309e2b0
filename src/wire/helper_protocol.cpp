#include "wire/helper_protocol.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <type_traits>

namespace {

// The layouts have no padding, so a record's bytes are exactly its fields.
template <typename Record>
constexpr bool kPlainLayout =
    std::is_trivially_copyable_v<Record>&& std::has_unique_object_representations_v<Record>;
static_assert(kPlainLayout<HelperHeader> && kPlainLayout<WireAddress> &&
              kPlainLayout<HelperEchoRequest> && kPlainLayout<WireCaptureFilter> &&
              kPlainLayout<WireCaptureExclusion> && kPlainLayout<HelperCaptureRequest> &&
              kPlainLayout<HelperKillRequest> && kPlainLayout<HelperFlushRequest> &&
              kPlainLayout<HelperFactRequest> && kPlainLayout<HelperStatusReply> &&
              kPlainLayout<HelperAbilitiesReply> && kPlainLayout<HelperEchoReply> &&
              kPlainLayout<HelperCaptureEndedReply> && kPlainLayout<HelperOwnerPairsReply> &&
              kPlainLayout<HelperOwnerNamesReply> && kPlainLayout<HelperFactReply>);

template <typename Record>
Record Read(const uint8_t* data) {
  Record record;
  std::memcpy(&record, data, sizeof record);
  return record;
}

bool AllZero(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// An IPv4 address out of a wire address: 0 and the address, or the errno.
int Ipv4Of(const WireAddress& wire, uint32_t* address) {
  if (wire.reserved != 0) return EINVAL;
  if (wire.family == kWireIpv6) return EAFNOSUPPORT;
  if (wire.family != kWireIpv4 || !AllZero(wire.bytes + 4, sizeof wire.bytes - 4)) return EINVAL;
  std::memcpy(address, wire.bytes, 4);
  return 0;
}

// An address of either family out of a wire address: 0 and the address, or EINVAL.
int AddressOf(const WireAddress& wire, IpAddress* address) {
  if (wire.reserved != 0) return EINVAL;
  if (wire.family == kWireIpv6) {
    *address = IpAddress::Ipv6(wire.bytes);
    return 0;
  }
  uint32_t ipv4 = 0;
  if (const int error = Ipv4Of(wire, &ipv4); error != 0) return error;
  *address = IpAddress::Ipv4(ipv4);
  return 0;
}

bool IsFlag(int32_t value) {
  return value == 0 || value == 1;
}

bool IsListMode(int32_t mode) {
  return mode >= 0 && mode <= 3;
}

int FilterOf(const WireCaptureFilter& wire, CaptureFilter* filter) {
  if (!IsFlag(wire.includeTcp) || !IsFlag(wire.includeUdp) || !IsListMode(wire.portMode) ||
      !IsListMode(wire.addressMode) || wire.portCount > kFilterListLength ||
      wire.addressCount > kFilterListLength) {
    return EINVAL;
  }
  *filter = CaptureFilter{};
  filter->includeTcp = wire.includeTcp;
  filter->includeUdp = wire.includeUdp;
  filter->portMode = wire.portMode;
  filter->addressMode = wire.addressMode;
  for (uint32_t i = 0; i < kFilterListLength; ++i) {
    const bool listed = i < wire.portCount;
    if ((wire.ports[i] != 0) != listed) return EINVAL;  // members are never 0, the rest is
    filter->ports[i] = wire.ports[i];
  }
  for (uint32_t i = 0; i < kFilterListLength; ++i) {
    const WireAddress& entry = wire.addresses[i];
    if (i >= wire.addressCount) {
      if (!AllZero(&entry, sizeof entry)) return EINVAL;
      continue;
    }
    if (const int error = AddressOf(entry, &filter->addresses[i]); error != 0) return error;
    if (filter->addresses[i].isUnspecified()) return EINVAL;  // 0.0.0.0 or ::, the list's end
  }
  return 0;
}

int DecodeEcho(const HelperEchoRequest& r, HelperRequest* request) {
  if (r.ttl > 255) return EINVAL;
  request->ttl = uint8_t(r.ttl);
  request->timeoutMs = r.timeoutMs;
  return AddressOf(r.destination, &request->destination);
}

int ExclusionOf(const WireCaptureExclusion& wire, CaptureExclusion* exclusion) {
  if (wire.active == 0) {
    const WireCaptureExclusion none;
    return std::memcmp(&wire, &none, sizeof wire) == 0 ? 0 : EINVAL;
  }
  if (wire.active != 1 || wire.addressA.family != wire.addressB.family || wire.portA == 0 ||
      wire.portB == 0) {
    return EINVAL;
  }
  exclusion->active = true;
  exclusion->portA = wire.portA;
  exclusion->portB = wire.portB;
  if (const int error = AddressOf(wire.addressA, &exclusion->addressA); error != 0) return error;
  if (const int error = AddressOf(wire.addressB, &exclusion->addressB); error != 0) return error;
  return exclusion->addressA.isUnspecified() || exclusion->addressB.isUnspecified() ? EINVAL : 0;
}

int DecodeCapture(const HelperCaptureRequest& r, HelperRequest* request) {
  if (const int error = AddressOf(r.address, &request->captureAddress); error != 0) return error;
  if (const int error = ExclusionOf(r.exclusion, &request->exclusion); error != 0) return error;
  return FilterOf(r.filter, &request->filter);
}

int DecodeKill(const HelperKillRequest& r, HelperRequest* request) {
  if (r.local.family != r.remote.family) return EINVAL;
  if (const int error = AddressOf(r.local, &request->localAddress); error != 0) return error;
  if (const int error = AddressOf(r.remote, &request->remoteAddress); error != 0) return error;
  // An established connection has both ends.
  if (r.localPort == 0 || r.remotePort == 0 || request->remoteAddress.isUnspecified()) {
    return EINVAL;
  }
  request->localPort = r.localPort;
  request->remotePort = r.remotePort;
  return 0;
}

int DecodeFlush(const HelperFlushRequest& r, HelperRequest* request) {
  if (r.interfaceIndex <= 0 || r.reserved != 0) return EINVAL;
  if (r.family == kWireIpv6) return EAFNOSUPPORT;
  if (r.family != kWireIpv4) return EINVAL;
  request->interfaceIndex = r.interfaceIndex;
  return 0;
}

int DecodeFact(const HelperFactRequest& r, HelperRequest* request) {
  if (r.processId == 0 || r.processId > INT_MAX || r.reserved != 0) return EINVAL;
  if (r.fact > kFactWorkingSet) return EINVAL;
  const bool text = r.fact != kFactWorkingSet;
  if (text ? (r.capacity == 0 || r.capacity > kFactTextLimit) : r.capacity != 0) return EINVAL;
  request->processId = r.processId;
  request->fact = HelperFact(r.fact);
  request->capacity = r.capacity;
  return 0;
}

// The size of each request type's record, 0 for a type that is no request.
size_t RequestSize(uint16_t type) {
  switch (type) {
    case kHelperHello:
    case kHelperOwners:
    case kHelperCancel:
      return sizeof(HelperBareRecord);
    case kHelperEcho:
      return sizeof(HelperEchoRequest);
    case kHelperCapture:
      return sizeof(HelperCaptureRequest);
    case kHelperKill:
      return sizeof(HelperKillRequest);
    case kHelperFlush:
      return sizeof(HelperFlushRequest);
    case kHelperFact:
      return sizeof(HelperFactRequest);
    default:
      return 0;
  }
}

size_t ReplySize(uint16_t type) {
  switch (type) {
    case kHelperStatus:
      return sizeof(HelperStatusReply);
    case kHelperAbilities:
      return sizeof(HelperAbilitiesReply);
    case kHelperEchoResult:
      return sizeof(HelperEchoReply);
    case kHelperCaptureOpened:
      return sizeof(HelperBareRecord);
    case kHelperCaptureEnded:
      return sizeof(HelperCaptureEndedReply);
    case kHelperOwnerPairs:
      return sizeof(HelperOwnerPairsReply);
    case kHelperOwnerNames:
      return sizeof(HelperOwnerNamesReply);
    case kHelperFactResult:
      return sizeof(HelperFactReply);
    default:
      return 0;
  }
}

// The header of a record whose length is that of its type's layout, or false.
bool ReadHeader(const uint8_t* data, size_t size, size_t (*sizeOf)(uint16_t),
                HelperHeader* header) {
  if (data == nullptr || size < sizeof(HelperHeader)) return false;
  *header = Read<HelperHeader>(data);
  return header->version == kHelperVersion && header->reserved == 0 && header->length == size &&
         sizeOf(header->type) == size;
}

bool NamesFit(const HelperOwnerNamesReply& reply) {
  if (reply.count > kOwnerNamesPerReply) return false;
  for (uint32_t i = 0; i < reply.count; ++i) {
    const OwnerName& name = reply.names[i];
    if (name.length >= kOwnerNameLimit || std::memchr(name.name, 0, name.length) != nullptr) {
      return false;
    }
  }
  return true;
}

}  // namespace

int DecodeHelperRequest(const uint8_t* data, size_t size, HelperRequest* request) {
  *request = HelperRequest{};
  if (data != nullptr && size >= sizeof(HelperHeader)) {
    request->id = Read<HelperHeader>(data).id;
  }
  HelperHeader header;
  if (!ReadHeader(data, size, RequestSize, &header)) return EINVAL;
  request->type = HelperRecordType(header.type);
  switch (header.type) {
    case kHelperEcho:
      return DecodeEcho(Read<HelperEchoRequest>(data), request);
    case kHelperCapture:
      return DecodeCapture(Read<HelperCaptureRequest>(data), request);
    case kHelperKill:
      return DecodeKill(Read<HelperKillRequest>(data), request);
    case kHelperFlush:
      return DecodeFlush(Read<HelperFlushRequest>(data), request);
    case kHelperFact:
      return DecodeFact(Read<HelperFactRequest>(data), request);
    default:
      return 0;  // the header is all there is
  }
}

bool CheckHelperReply(const uint8_t* data, size_t size) {
  HelperHeader header;
  if (!ReadHeader(data, size, ReplySize, &header)) return false;
  switch (header.type) {
    case kHelperOwnerPairs:
      return Read<HelperOwnerPairsReply>(data).count <= kOwnerPairsPerReply;
    case kHelperOwnerNames:
      return NamesFit(Read<HelperOwnerNamesReply>(data));
    case kHelperFactResult:
      return Read<HelperFactReply>(data).length < kFactTextLimit;
    default:
      return true;
  }
}

bool IsFinalHelperReply(uint16_t type) {
  return type != kHelperOwnerPairs && type != kHelperOwnerNames && type != kHelperCaptureOpened;
}

WireAddress WireIpv4(uint32_t address) {
  WireAddress wire;
  wire.family = kWireIpv4;
  std::memcpy(wire.bytes, &address, 4);
  return wire;
}

WireAddress WireAddressOf(const IpAddress& address) {
  WireAddress wire;
  wire.family = address.isIpv4() ? kWireIpv4 : kWireIpv6;
  std::memcpy(wire.bytes, address.bytes().data(), sizeof wire.bytes);
  return wire;
}

IpAddress AddressOfWire(const WireAddress& wire) {
  if (wire.family == kWireIpv6) return IpAddress::Ipv6(wire.bytes);
  uint32_t ipv4 = 0;
  if (wire.family == kWireIpv4) std::memcpy(&ipv4, wire.bytes, sizeof ipv4);
  return IpAddress::Ipv4(ipv4);
}

WireCaptureFilter WireFilterOf(const CaptureFilter& filter) {
  WireCaptureFilter wire;
  wire.includeTcp = filter.includeTcp != 0;
  wire.includeUdp = filter.includeUdp != 0;
  wire.portMode = filter.portMode;
  wire.addressMode = filter.addressMode;
  // The lists end at their first 0.
  while (wire.portCount < kFilterListLength && filter.ports[wire.portCount] != 0) {
    wire.ports[wire.portCount] = filter.ports[wire.portCount];
    ++wire.portCount;
  }
  while (wire.addressCount < kFilterListLength &&
         !filter.addresses[wire.addressCount].isUnspecified()) {
    wire.addresses[wire.addressCount] = WireAddressOf(filter.addresses[wire.addressCount]);
    ++wire.addressCount;
  }
  return wire;
}

WireCaptureExclusion WireExclusionOf(const CaptureExclusion& exclusion) {
  WireCaptureExclusion wire;
  if (!exclusion.active) return wire;
  wire.active = 1;
  wire.addressA = WireAddressOf(exclusion.addressA);
  wire.addressB = WireAddressOf(exclusion.addressB);
  wire.portA = exclusion.portA;
  wire.portB = exclusion.portB;
  return wire;
}
