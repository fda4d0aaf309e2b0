// What an agent or a window sends the other: a stream of frames, each decoded as the link and
// the services decode them. The first byte picks the record a frame's payload is read as; a
// record that is read is written again as it was read, and reads back the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/capture_records.h"
#include "wire/dns_records.h"
#include "wire/frame.h"
#include "wire/names_records.h"
#include "wire/netinfo_records.h"
#include "wire/netstat_records.h"
#include "wire/ping_records.h"
#include "wire/socket_records.h"
#include "wire/whois_records.h"

namespace {

template <typename Decode, typename Encode>
void RoundTrip(const std::vector<uint8_t>& bytes, Decode decode, Encode encode) {
  const auto first = decode(bytes);
  if (!first) return;
  const std::vector<uint8_t> again = encode(*first);
  const auto second = decode(again);
  if (!second || encode(*second) != again) __builtin_trap();
}

bool SameRecords(const DnsAnswer& a, const DnsAnswer& b) {
  return EncodeDnsAnswer(a) == EncodeDnsAnswer(b);
}

// Kinds 0x70 to 0x77: Netstat's records.
void ReadNetstatPayload(uint8_t kind, const std::vector<uint8_t>& p) {
  switch (kind % 8) {
    case 0: {
      std::vector<EndpointRecord> records;
      if (DecodeEndpointBatch(p, records)) {
        if (records.size() > kEndpointBatchRecords) __builtin_trap();
        if (EncodeEndpointBatch(records, 0, records.size()) != p) __builtin_trap();
      } else if (!records.empty()) {
        __builtin_trap();  // a refused batch leaves nothing behind
      }
      break;
    }
    case 1:
      RoundTrip(p, DecodeEndpointRecord, EncodeEndpointRecord);
      break;
    case 2:
      RoundTrip(p, DecodeNetstatNumber, EncodeNetstatNumber);
      RoundTrip(p, DecodeTerminateResult, EncodeTerminateResult);
      break;
    case 3:
      RoundTrip(p, DecodeNetstatText, EncodeNetstatText);
      RoundTrip(p, DecodeExecutableFile, EncodeExecutableFile);
      break;
    case 4:
      RoundTrip(p, DecodeProcessTextAsked, EncodeProcessTextAsked);
      RoundTrip(p, DecodeServiceNameAsked, EncodeServiceNameAsked);
      break;
    default:
      RoundTrip(p, DecodeProcessText, EncodeProcessText);
  }
}

void ReadPayload(uint8_t kind, const std::vector<uint8_t>& p) {
  if ((kind & 0xF8) == 0x70) return ReadNetstatPayload(kind, p);
  switch (kind % 16) {
    case 0:
      if (const auto hello = DecodeHello(p.data(), p.size())) {
        if (EncodeHello(*hello) != p) __builtin_trap();
      }
      break;
    case 1:
      if (const auto open = DecodeOpen(p.data(), p.size())) {
        if (EncodeOpen(*open) != p) __builtin_trap();
      }
      break;
    case 2:
      if (const auto error = DecodeFrameError(p.data(), p.size())) {
        if (EncodeFrameError(*error) != p) __builtin_trap();
      }
      break;
    case 3:
      RoundTrip(p, DecodeResolveHostAsked, EncodeResolveHostAsked);
      RoundTrip(p, DecodeResolveHostFound, EncodeResolveHostFound);
      break;
    case 4:
      RoundTrip(p, DecodeDnsQuery, EncodeDnsQuery);
      break;
    case 5:
      if (const auto answer = DecodeDnsAnswer(p)) {
        if (answer->records.size() > kDnsAnswerRecordLimit) __builtin_trap();
        const auto again = DecodeDnsAnswer(EncodeDnsAnswer(*answer));
        if (!again || !SameRecords(*answer, *again)) __builtin_trap();
      }
      break;
    case 6:
      RoundTrip(p, DecodeDnsIpv6Server, EncodeDnsIpv6Server);
      RoundTrip(p, DecodeDnsText, EncodeDnsText);
      break;
    case 8: {
      RoundTrip(p, DecodeCaptureAddresses, EncodeCaptureAddresses);
      RoundTrip(p, DecodeCaptureAsked, EncodeCaptureAsked);
      RoundTrip(p, DecodeCaptureOpened, EncodeCaptureOpened);
      RoundTrip(p, DecodeCaptureEnded, EncodeCaptureEnded);
      // Frames taken into a batch point into its bytes and write the message again.
      CaptureBatch batch;
      if (DecodeCaptureFrames(p, batch, kCaptureFramesPerMessage)) {
        std::vector<uint8_t> again;
        for (const CaptureFrame& frame : batch.frames) AppendCaptureFrame(again, frame);
        if (again != p) __builtin_trap();
      }
      break;
    }
    case 9:
      RoundTrip(p, DecodeNetworkParams, EncodeNetworkParams);
      RoundTrip(p, DecodeAdapterList, EncodeAdapterList);
      RoundTrip(p, DecodeAdapterRecord, EncodeAdapterRecord);
      RoundTrip(p, DecodeDnsServerTexts, EncodeDnsServerTexts);
      RoundTrip(p, DecodeDhcpLease, EncodeDhcpLease);
      RoundTrip(p, DecodeStatisticsAsked, EncodeStatisticsAsked);
      RoundTrip(p, DecodeInterfaceStatistics, EncodeInterfaceStatistics);
      RoundTrip(
          p, [](const auto& b) { return DecodeNetInfoNumber(b, 0, 4095); }, EncodeNetInfoNumber);
      break;
    case 10:
      RoundTrip(p, DecodeSocketAddressList, EncodeSocketAddressList);
      RoundTrip(p, DecodeSocketOpen, EncodeSocketOpen);
      RoundTrip(p, DecodeSocketOpened, EncodeSocketOpened);
      break;
    case 11:
      if (const auto update = DecodeSocketUpdate(p)) {
        if (update->bytes.size() > kSocketReceiveLimit) __builtin_trap();
      }
      RoundTrip(p, DecodeSocketUpdate, EncodeSocketUpdate);
      RoundTrip(p, DecodeSocketCommand, EncodeSocketCommand);
      break;
    case 12:
      RoundTrip(p, DecodeWhoisAsked, EncodeWhoisAsked);
      RoundTrip(p, DecodeWhoisText, EncodeWhoisText);
      break;
    case 13:
      RoundTrip(p, DecodeWhoisExchangeResult, EncodeWhoisExchangeResult);
      RoundTrip(p, DecodeWhoisMaybeText, EncodeWhoisMaybeText);
      break;
    case 14:
      RoundTrip(p, DecodeRdapReply, EncodeRdapReply);
      break;
    case 15:
      RoundTrip(p, DecodeEchoAsked, EncodeEchoAsked);
      RoundTrip(p, DecodeEchoLoaded, EncodeEchoLoaded);
      RoundTrip(p, DecodeEchoAnswer, EncodeEchoAnswer);
      break;
    default:
      if (const auto value = DecodeValue(p.data(), p.size())) {
        if (EncodeValue(*value) != p) __builtin_trap();
      }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t kind = data[0];
  size_t at = 1;
  // As the link reads: a header, then the payload it announces, until the bytes end or a header
  // breaks a rule.
  while (size - at >= kFrameHeaderSize) {
    FrameHeader header;
    if (DecodeFrameHeader(data + at, &header) != 0) break;
    if (header.length > kFramePayloadLimit) __builtin_trap();
    at += kFrameHeaderSize;
    if (size - at < header.length) break;
    ReadPayload(kind, std::vector<uint8_t>(data + at, data + at + header.length));
    at += header.length;
  }
  // And the whole input as one payload.
  ReadPayload(kind, std::vector<uint8_t>(data + 1, data + size));
  return 0;
}
