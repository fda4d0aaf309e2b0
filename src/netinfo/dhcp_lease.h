#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// DHCP facts of an adapter, read from the lease files the usual DHCP clients keep.

// One lease. Times are seconds since 1970 (UTC); a fact the file does not give stays empty.
struct DhcpLease {
  std::string interfaceName;  // as the lease names it; empty when only the file's name does
  uint32_t address = 0;       // the leased address, network order
  uint32_t server = 0;        // the DHCP server, network order; 0 when unknown
  std::optional<int64_t> obtained;
  std::optional<int64_t> expires;
};

// Lease files are read up to this size, from their end: the newest leases are last.
inline constexpr size_t kLeaseFileMaxBytes = 1024 * 1024;
// An interface name in a lease longer than this is no name of ours.
inline constexpr size_t kLeaseNameMax = 64;

// Calls `each` for every "lease { ... }" block of a dhclient lease file, in file order, and
// returns how many there were. Statements it does not know, "lease6" blocks and broken
// statements are passed over.
size_t ForEachDhclientLease(std::string_view text,
                            const std::function<void(const DhcpLease&)>& each);

// A lease file of KEY=VALUE lines (systemd-networkd, NetworkManager's own client): ADDRESS,
// SERVER_ADDRESS and LIFETIME in seconds. These files hold no times: the lease counts as obtained
// when the file was written (`writtenAt`). Nullopt without a readable ADDRESS.
std::optional<DhcpLease> ParseKeyValueLease(std::string_view text, int64_t writtenAt);

// Picks the lease that gives an adapter's DHCP facts out of the lease files offered to it: a
// lease for this adapter (named in the lease, or by the file's name: "<index>",
// "*.<name>.leases", "*-<name>.lease") whose address the adapter holds now, so a file left from
// an earlier configuration does not count. Of several, the newest (obtained, else expiry) wins;
// on a tie the later one.
class LeaseChoice {
 public:
  LeaseChoice(std::string name, int index, std::vector<uint32_t> addresses);

  // One file: its name (without directory), its text and when it was last written.
  void considerFile(std::string_view fileName, std::string_view text, int64_t writtenAt);

  const std::optional<DhcpLease>& best() const { return best_; }

 private:
  bool fileNamesAdapter(std::string_view fileName) const;
  void consider(const DhcpLease& lease);

  std::string name_;
  int index_;
  std::vector<uint32_t> addresses_;
  std::optional<DhcpLease> best_;
};
