#pragma once

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "netinfo/rtnetlink_dump.h"

// A route netlink socket of the calling thread's network namespace, for the dumps and requests
// of the OS layer.
class RtnlSocket {
 public:
  // Replies of the kernel come at once; the bound only keeps a broken kernel from holding the UI.
  static constexpr int kNetlinkTimeoutMs = 1000;
  // Larger than any one reply datagram of a dump (the kernel fills at most 32 KiB).
  static constexpr size_t kReplyBufferSize = 64 * 1024;

  RtnlSocket() {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return;
    const timeval timeout{kNetlinkTimeoutMs / 1000, (kNetlinkTimeoutMs % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RtnlSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  RtnlSocket(const RtnlSocket&) = delete;
  RtnlSocket& operator=(const RtnlSocket&) = delete;

  bool ok() const { return fd_ >= 0; }

  // Sends a request: the netlink header, then `body`, then `attributes` (already laid out).
  template <typename Body>
  bool send(uint16_t type, uint16_t flags, const Body& body, const void* attributes = nullptr,
            size_t attributesSize = 0) {
    std::vector<uint8_t> message(NLMSG_LENGTH(NLMSG_ALIGN(sizeof(Body)) + attributesSize));
    nlmsghdr header{};
    header.nlmsg_len = uint32_t(message.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = uint16_t(NLM_F_REQUEST | flags);
    header.nlmsg_seq = ++sequence_;
    std::memcpy(message.data(), &header, sizeof header);
    std::memcpy(message.data() + NLMSG_HDRLEN, &body, sizeof(Body));
    if (attributesSize > 0) {
      std::memcpy(message.data() + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(Body)), attributes,
                  attributesSize);
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                  sizeof kernel) == ssize_t(message.size());
  }

  // One reply datagram; false on time-out, error or a datagram larger than the buffer.
  bool receive(std::vector<uint8_t>& buffer, size_t& size) {
    buffer.resize(kReplyBufferSize);
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    ssize_t n;
    do {
      n = recvmsg(fd_, &message, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0 || (message.msg_flags & MSG_TRUNC) != 0) return false;
    size = size_t(n);
    return true;
  }

  // A whole dump: `request` then every reply datagram to `take` until the dump ends.
  template <typename Body>
  bool dump(uint16_t type, const Body& request,
            const std::function<DumpState(const uint8_t*, size_t)>& take) {
    if (!send(type, NLM_F_DUMP, request)) return false;
    std::vector<uint8_t> buffer;
    for (size_t size = 0; receive(buffer, size);) {
      const DumpState state = take(buffer.data(), size);
      if (state != DumpState::kMore) return state == DumpState::kDone;
    }
    return false;
  }

 private:
  int fd_ = -1;
  uint32_t sequence_ = 0;
};
