#include "wire/netinfo_records.h"

#include "wire/record_reader.h"
#include "wire/record_writer.h"

namespace {

// The smallest adapter on the stream: its fixed fields, an empty name and empty lists.
constexpr size_t kSmallestAdapter = 4 + 4 + 2 + 4 + 6 + 4 + 4 + 4 + 4 + 1;
constexpr size_t kIpv6AddressSize = 1 + 16 + 4;
constexpr size_t kSmallestText = 4;

void PutAdapter(RecordWriter& w, const AdapterRecord& a) {
  w.i32(a.index).text(a.name).u16(a.linkType).u32(a.flags).raw(a.mac.data(), a.mac.size());
  w.u32(uint32_t(a.addresses.size()));
  for (const uint32_t address : a.addresses) w.raw(&address, 4);  // network order as it is
  w.i32(a.firstPrefixLength).raw(&a.gateway, 4);
  w.u32(uint32_t(a.ipv6Addresses.size()));
  for (const AdapterIpv6Address& v6 : a.ipv6Addresses) w.address(v6.address).i32(v6.prefixLength);
  w.u8(a.ipv6Gateway ? 1 : 0);
  if (a.ipv6Gateway) w.address(*a.ipv6Gateway);
}

AdapterRecord TakeAdapter(RecordReader& r) {
  AdapterRecord a;
  a.index = r.nextI32();
  a.name = r.nextText(kNetInfoInterfaceNameLimit);
  a.linkType = r.next16();
  a.flags = r.next32();
  r.nextBytes(a.mac.data(), a.mac.size());
  const uint32_t count = r.nextCount(kNetInfoAddressLimit, 4);
  a.addresses.resize(count);
  for (uint32_t& address : a.addresses) r.nextBytes(&address, 4);
  a.firstPrefixLength = r.nextI32();
  r.nextBytes(&a.gateway, 4);
  const uint32_t v6count = r.nextCount(kNetInfoAddressLimit, kIpv6AddressSize);
  a.ipv6Addresses.reserve(v6count);
  for (uint32_t i = 0; i < v6count && !r.failed(); ++i) {
    AdapterIpv6Address v6;
    v6.address = r.nextAddress();
    v6.prefixLength = r.nextI32();
    if (!v6.address.isIpv6() || v6.prefixLength < 0 || v6.prefixLength > 128) r.fail();
    a.ipv6Addresses.push_back(v6);
  }
  if (r.nextBool()) {
    a.ipv6Gateway = r.nextAddress();
    if (!a.ipv6Gateway->isIpv6()) r.fail();
  }
  if (a.index <= 0 || a.firstPrefixLength < 0 || a.firstPrefixLength > 32) r.fail();
  return a;
}

void PutOptional64(RecordWriter& w, const std::optional<int64_t>& value) {
  w.u8(value ? 1 : 0);
  if (value) w.u64(uint64_t(*value));
}

std::optional<int64_t> TakeOptional64(RecordReader& r) {
  if (!r.nextBool()) return std::nullopt;
  return int64_t(r.next64());
}

}  // namespace

std::vector<uint8_t> EncodeNetworkParams(const NetworkParams& p) {
  return RecordWriter()
      .text(p.hostName)
      .text(p.domain)
      .u8(p.routing ? 1 : 0)
      .u8(p.proxy ? 1 : 0)
      .take();
}

std::optional<NetworkParams> DecodeNetworkParams(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  NetworkParams p;
  p.hostName = r.nextText(kNetInfoNameLimit);
  p.domain = r.nextText(kNetInfoNameLimit);
  p.routing = r.nextBool();
  p.proxy = r.nextBool();
  if (!r.complete()) return std::nullopt;
  return p;
}

std::vector<uint8_t> EncodeAdapterRecord(const AdapterRecord& adapter) {
  RecordWriter w;
  PutAdapter(w, adapter);
  return w.take();
}

std::optional<AdapterRecord> DecodeAdapterRecord(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  AdapterRecord adapter = TakeAdapter(r);
  if (!r.complete()) return std::nullopt;
  return adapter;
}

std::vector<uint8_t> EncodeAdapterList(const std::optional<std::vector<AdapterRecord>>& list) {
  RecordWriter w;
  w.u8(list ? 1 : 0);
  if (list) {
    w.u32(uint32_t(list->size()));
    for (const AdapterRecord& adapter : *list) PutAdapter(w, adapter);
  }
  return w.take();
}

std::optional<std::optional<std::vector<AdapterRecord>>> DecodeAdapterList(
    const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::optional<std::vector<AdapterRecord>> list;
  if (r.nextBool()) {
    const uint32_t count = r.nextCount(kNetInfoAdapterLimit, kSmallestAdapter);
    list.emplace();
    list->reserve(count);
    for (uint32_t i = 0; i < count && !r.failed(); ++i) list->push_back(TakeAdapter(r));
  }
  if (!r.complete()) return std::nullopt;
  return list;
}

std::vector<uint8_t> EncodeDnsServerTexts(const std::optional<std::vector<std::string>>& servers) {
  RecordWriter w;
  w.u8(servers ? 1 : 0);
  if (servers) {
    w.u32(uint32_t(servers->size()));
    for (const std::string& server : *servers) w.text(server);
  }
  return w.take();
}

std::optional<std::optional<std::vector<std::string>>> DecodeDnsServerTexts(
    const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::optional<std::vector<std::string>> servers;
  if (r.nextBool()) {
    const uint32_t count = r.nextCount(kNetInfoServerLimit, kSmallestText);
    servers.emplace();
    for (uint32_t i = 0; i < count && !r.failed(); ++i) {
      servers->push_back(r.nextText(kNetInfoServerTextLimit));
    }
  }
  if (!r.complete()) return std::nullopt;
  return servers;
}

std::vector<uint8_t> EncodeDhcpLease(const std::optional<DhcpLease>& lease) {
  RecordWriter w;
  w.u8(lease ? 1 : 0);
  if (lease) {
    w.text(lease->interfaceName).raw(&lease->address, 4).raw(&lease->server, 4);
    PutOptional64(w, lease->obtained);
    PutOptional64(w, lease->expires);
  }
  return w.take();
}

std::optional<std::optional<DhcpLease>> DecodeDhcpLease(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::optional<DhcpLease> lease;
  if (r.nextBool()) {
    lease.emplace();
    lease->interfaceName = r.nextText(kLeaseNameMax);
    r.nextBytes(&lease->address, 4);
    r.nextBytes(&lease->server, 4);
    lease->obtained = TakeOptional64(r);
    lease->expires = TakeOptional64(r);
  }
  if (!r.complete()) return std::nullopt;
  return lease;
}

std::vector<uint8_t> EncodeStatisticsAsked(const NetInfoStatisticsAsked& asked) {
  return RecordWriter().i32(asked.index).text(asked.name).take();
}

std::optional<NetInfoStatisticsAsked> DecodeStatisticsAsked(const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  NetInfoStatisticsAsked asked;
  asked.index = r.nextI32();
  asked.name = r.nextText(kNetInfoInterfaceNameLimit);
  if (!r.complete() || asked.index <= 0) return std::nullopt;
  return asked;
}

std::vector<uint8_t> EncodeInterfaceStatistics(const std::optional<InterfaceStatistics>& reading) {
  RecordWriter w;
  w.u8(reading ? 1 : 0);
  if (reading) {
    w.i32(reading->status).u64(reading->speedMbits);
    w.u64(reading->receivedBytes).u64(reading->sentBytes);
  }
  return w.take();
}

std::optional<std::optional<InterfaceStatistics>> DecodeInterfaceStatistics(
    const std::vector<uint8_t>& bytes) {
  RecordReader r(bytes);
  std::optional<InterfaceStatistics> reading;
  if (r.nextBool()) {
    reading.emplace();
    reading->status = r.nextI32();
    reading->speedMbits = r.next64();
    reading->receivedBytes = r.next64();
    reading->sentBytes = r.next64();
    if (reading->status < kOperUnknown || reading->status > kOperOperational) r.fail();
  }
  if (!r.complete()) return std::nullopt;
  return reading;
}

std::vector<uint8_t> EncodeNetInfoNumber(int value) {
  return RecordWriter().i32(value).take();
}

std::optional<int> DecodeNetInfoNumber(const std::vector<uint8_t>& bytes, int lowest, int highest) {
  RecordReader r(bytes);
  const int value = r.nextI32();
  if (!r.complete() || value < lowest || value > highest) return std::nullopt;
  return value;
}
