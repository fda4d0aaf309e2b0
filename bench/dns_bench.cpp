// DNS: reply decoding and one query's round trip, side by side with the tools users know.
//
//   build/default/bench/dns_bench        (as root: it starts its own DNS server on 127.0.53.9)
//
// Decoding: records per second over the real replies of the test zone, Pelorin's decoder beside
// the C library's resolver parser doing the same work (every record, its names uncompressed).
// Round trip: the same A query through DnsExchange and through dig +tries=1, once as a process
// per query (as users run it) and once as a batch in one process (dig -f), so the process start
// is not counted.
// Failures: how long until a query is known to have failed, through DnsExchange and dig: a port
// where nothing listens (the system reports it refused) and a server that never answers (the
// time-out of one second, and what each waits beyond it).
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "dns/dns_exchange.h"
#include "dns/dns_message.h"
#include "test_dns_server.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr const char* kAddress = "127.0.53.9";
constexpr const char* kRefusingAddress = "127.0.53.10";  // nothing listens there
constexpr const char* kSilentAddress = "127.0.53.11";

struct Question {
  const char* name;
  uint16_t type;
};

const Question kQuestions[] = {{"www.dns.test", kDnsTypeA},
                               {"dns.test", kDnsTypeNs},
                               {"alias.dns.test", kDnsTypeCname},
                               {"dns.test", kDnsTypeSoa},
                               {"10.100.51.198.in-addr.arpa", kDnsTypePtr},
                               {"box.dns.test", kDnsTypeHinfo},
                               {"dns.test", kDnsTypeMx},
                               {"nope.dns.test", kDnsTypeA}};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A side that cannot run ends the benchmark: no ratio is printed from a failed measurement.
[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "dns_bench: %s\n", why.c_str());
  std::exit(1);
}

// The raw reply to one question, for the decoders.
Bytes RawReply(uint32_t server, const Question& q) {
  const Bytes query = BuildDnsQuery(1234, q.type, q.name, true);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(53);
  to.sin_addr.s_addr = server;
  sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  pollfd p{fd, POLLIN, 0};
  Bytes reply(kDnsReceiveBuffer);
  ssize_t n = 0;
  if (poll(&p, 1, 2000) == 1) n = recv(fd, reply.data(), reply.size(), 0);
  close(fd);
  if (n <= 0) Fail(std::string("no reply to ") + q.name);
  reply.resize(size_t(n));
  return reply;
}

struct Reply {
  Bytes bytes;
  size_t questionLength;
};

int DecodeWithPelorin(const Reply& r, DnsRecord* records) {
  DnsReply result;
  DecodeDnsReply(r.bytes.data(), r.bytes.size(), r.questionLength, records, 50, &result);
  return result.recordCount;
}

// The same work through the C library: every record parsed, its names uncompressed, its numbers
// read.
int DecodeWithLibresolv(const Reply& r, DnsRecord* records) {
  ns_msg msg;
  if (ns_initparse(r.bytes.data(), int(r.bytes.size()), &msg) != 0) return 0;
  int count = 0;
  for (ns_sect section : {ns_s_an, ns_s_ns, ns_s_ar}) {
    for (int i = 0; i < ns_msg_count(msg, section); ++i) {
      ns_rr rr;
      if (ns_parserr(&msg, section, i, &rr) != 0) return count;
      DnsRecord& out = records[count % 50];
      out = DnsRecord{};
      out.type = ns_rr_type(rr);
      out.ttl = ns_rr_ttl(rr);
      const uint8_t* rdata = ns_rr_rdata(rr);
      const auto name = [&](const uint8_t* at, char* text) {
        return ns_name_uncompress(ns_msg_base(msg), ns_msg_end(msg), at, text, kDnsNameBuffer);
      };
      switch (out.type) {
        case ns_t_a:
          std::memcpy(&out.address, rdata, 4);
          break;
        case ns_t_ns:
        case ns_t_cname:
        case ns_t_ptr:
          name(rdata, out.name);
          break;
        case ns_t_mx:
          out.preference = ns_get16(rdata);
          name(rdata + 2, out.name);
          break;
        case ns_t_soa: {
          const int first = name(rdata, out.name);
          const int second = name(rdata + first, out.name2);
          const uint8_t* numbers = rdata + first + second;
          out.serial = ns_get32(numbers);
          out.refresh = ns_get32(numbers + 4);
          out.retry = ns_get32(numbers + 8);
          out.expire = ns_get32(numbers + 12);
          out.minimum = ns_get32(numbers + 16);
          break;
        }
        case ns_t_hinfo:
          std::memcpy(out.name, rdata + 1, rdata[0]);
          std::memcpy(out.name2, rdata + 2 + rdata[0], rdata[1 + rdata[0]]);
          break;
        default:
          break;
      }
      ++count;
    }
  }
  return count;
}

// Whether the two decoders read the same values from one record (the C library's names are in
// its presentation form, which for the test zone's plain names is the bytes as received).
bool SameRecord(const DnsRecord& ours, const DnsRecord& theirs) {
  const std::string_view ourName(ours.name, ours.nameLength);
  const std::string_view ourName2(ours.name2, ours.name2Length);
  const std::string_view theirName(theirs.name, strnlen(theirs.name, kDnsNameBuffer));
  const std::string_view theirName2(theirs.name2, strnlen(theirs.name2, kDnsNameBuffer));
  if (ours.type != theirs.type || ours.ttl != theirs.ttl) return false;
  switch (ours.type) {
    case ns_t_a:
      return ours.address == theirs.address;
    case ns_t_ns:
    case ns_t_cname:
    case ns_t_ptr:
      return ourName == theirName;
    case ns_t_mx:
      return ours.preference == theirs.preference && ourName == theirName;
    case ns_t_soa:
      return ourName == theirName && ourName2 == theirName2 && ours.serial == theirs.serial &&
             ours.refresh == theirs.refresh && ours.retry == theirs.retry &&
             ours.expire == theirs.expire && ours.minimum == theirs.minimum;
    case ns_t_hinfo:
      return ourName == theirName && ourName2 == theirName2;
    default:
      return true;
  }
}

// Records decoded per second over all replies, for about a second.
template <typename Decode>
double RecordsPerSecond(const std::vector<Reply>& replies, Decode decode) {
  std::vector<DnsRecord> records(50);
  long total = 0;
  const Clock::time_point start = Clock::now();
  double elapsed = 0;
  while ((elapsed = SecondsSince(start)) < 1.0) {
    for (int round = 0; round < 100; ++round) {
      for (const Reply& r : replies) total += decode(r, records.data());
    }
  }
  return double(total) / elapsed;
}

double ExchangeMicroseconds(uint32_t server, int count) {
  std::vector<DnsRecord> records(50);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    DnsRequest request;
    request.server = server;
    request.queryId = 1234;
    request.queryType = kDnsTypeA;
    request.queryName = "www.dns.test";
    request.recursionDesired = 1;
    request.timeoutMs = 2000;
    request.recordCount = 50;
    request.records = records.data();
    const int result = DnsExchange(&request);
    if (result != kDnsOk || request.recordCount != 6) {
      Fail("DnsExchange failed: result " + std::to_string(result) + ", " +
           std::to_string(request.recordCount) + " records");
    }
  }
  return SecondsSince(start) * 1e6 / count;
}

double DigMicroseconds(const std::string& arguments, int queries) {
  int status = 0;
  const Clock::time_point start = Clock::now();
  const std::string out =
      RunCommand("dig @" + std::string(kAddress) + " +tries=1 +time=2 " + arguments, &status);
  // dig's status is 0 even when a query of a batch got no answer: count the answers.
  size_t answered = 0;
  for (size_t at = 0; (at = out.find("status: NOERROR", at)) != std::string::npos; ++at) {
    ++answered;
  }
  if (status != 0 || answered != size_t(queries)) {
    Fail("dig " + arguments + ": " + std::to_string(answered) + " of " + std::to_string(queries) +
         " queries answered");
  }
  return SecondsSince(start) * 1e6 / queries;
}

// Mean milliseconds until DnsExchange gives up on the server.
double ExchangeFailureMs(const char* server, uint32_t timeoutMs, int count) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    DnsRequest request;
    request.server = inet_addr(server);
    request.queryId = 1234;
    request.queryType = kDnsTypeA;
    request.queryName = "www.dns.test";
    request.recursionDesired = 1;
    request.timeoutMs = timeoutMs;
    const int result = DnsExchange(&request);
    if (result != kDnsNoReply) {
      Fail(std::string("DnsExchange to ") + server + " gave " + std::to_string(result));
    }
  }
  return SecondsSince(start) * 1e3 / count;
}

// Mean milliseconds until dig gives up on the server ("no servers could be reached").
double DigFailureMs(const char* server, int seconds, int count) {
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    int status = 0;
    const std::string out =
        RunCommand(std::string("dig @") + server + " +tries=1 +time=" + std::to_string(seconds) +
                       " www.dns.test A",
                   &status);
    if (status != 9) Fail(std::string("dig @") + server + " did not fail as expected: " + out);
  }
  return SecondsSince(start) * 1e3 / count;
}

}  // namespace

int main() {
  if (!IsRoot()) Fail("it needs root: its DNS server listens on port 53");
  TestDnsServer server(kAddress);
  if (!server.ready()) {
    Fail(std::string("the DNS server did not start on ") + kAddress + " (is its port taken?)");
  }

  std::vector<Reply> replies;
  size_t recordsPerRound = 0;
  std::vector<DnsRecord> scratch(50), scratchTheirs(50);
  for (const Question& q : kQuestions) {
    Reply r{RawReply(server.server(), q), BuildDnsQuery(1234, q.type, q.name, true).size() - 12};
    const int count = DecodeWithPelorin(r, scratch.data());
    if (DecodeWithLibresolv(r, scratchTheirs.data()) != count) {
      Fail(std::string("the decoders find different numbers of records in ") + q.name);
    }
    for (int i = 0; i < count; ++i) {
      if (!SameRecord(scratch[size_t(i)], scratchTheirs[size_t(i)])) {
        Fail(std::string("the decoders read record ") + std::to_string(i) + " of " + q.name +
             " differently");
      }
    }
    recordsPerRound += size_t(count);
    replies.push_back(std::move(r));
  }
  if (recordsPerRound == 0) Fail("the replies hold no record");
  std::printf("Reply decoding: %zu real replies of the test zone, %zu records\n", replies.size(),
              recordsPerRound);
  const double ours = RecordsPerSecond(replies, DecodeWithPelorin);
  const double theirs = RecordsPerSecond(replies, DecodeWithLibresolv);
  std::printf("  Pelorin DecodeDnsReply   %12.0f records/s\n", ours);
  std::printf("  libresolv ns_parserr     %12.0f records/s\n", theirs);
  std::printf("  ratio (Pelorin / libresolv)  %.2f\n\n", ours / theirs);

  constexpr int kExchanges = 500;
  constexpr int kDigRuns = 30;
  constexpr int kDigBatch = 500;
  TempDir dir;
  {
    std::ofstream batch(dir.file("queries"));
    for (int i = 0; i < kDigBatch; ++i) batch << "www.dns.test A\n";
  }
  ExchangeMicroseconds(server.server(), 20);  // warm up
  const double exchange = ExchangeMicroseconds(server.server(), kExchanges);
  double digProcess = 0;
  for (int i = 0; i < kDigRuns; ++i) digProcess += DigMicroseconds("www.dns.test A", 1);
  digProcess /= kDigRuns;
  const double digBatch = DigMicroseconds("-f " + dir.file("queries"), kDigBatch);

  std::printf("Round trip of \"www.dns.test A\" to NSD on %s (mean per query)\n", kAddress);
  std::printf("  Pelorin DnsExchange              %9.1f us  (%d queries)\n", exchange, kExchanges);
  std::printf("  dig +tries=1, one process each   %9.1f us  (%d runs)\n", digProcess, kDigRuns);
  std::printf("  dig +tries=1 -f, one process     %9.1f us  (%d queries)\n", digBatch, kDigBatch);
  std::printf("  ratio dig process / Pelorin      %9.1f\n", digProcess / exchange);
  std::printf("  ratio dig batch / Pelorin        %9.1f\n", digBatch / exchange);

  constexpr int kRefusedRuns = 20;
  constexpr int kSilentRuns = 3;
  SilentDnsServer silent(kSilentAddress);
  if (!silent.bound()) Fail(std::string("the silent server could not bind ") + kSilentAddress);
  std::printf("\nUntil a failed query is known (mean)\n");
  std::printf("  refused, Pelorin DnsExchange     %9.2f ms  (%d queries)\n",
              ExchangeFailureMs(kRefusingAddress, 2000, kRefusedRuns), kRefusedRuns);
  std::printf("  refused, dig +tries=1 (process)  %9.2f ms  (%d runs)\n",
              DigFailureMs(kRefusingAddress, 2, kRefusedRuns), kRefusedRuns);
  std::printf("  silent, Pelorin, time-out 1 s    %9.2f ms  (%d queries)\n",
              ExchangeFailureMs(kSilentAddress, 1000, kSilentRuns), kSilentRuns);
  std::printf("  silent, dig +time=1 (process)   %9.2f ms  (%d runs)\n",
              DigFailureMs(kSilentAddress, 1, kSilentRuns), kSilentRuns);
  return 0;
}
