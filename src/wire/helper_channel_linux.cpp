#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wire/helper_channel.h"
#include "wire/helper_protocol.h"

sockaddr_un HelperMeetingPlace(uid_t user, dev_t device, ino_t inode) {
  sockaddr_un place{};
  place.sun_family = AF_UNIX;
  // sun_path[0] stays 0: an abstract address, its name the bytes after it.
  std::snprintf(place.sun_path + 1, sizeof place.sun_path - 1, "pelorin-helper/%u/%u/%llx:%llx",
                unsigned{kHelperVersion}, unsigned(user), static_cast<unsigned long long>(device),
                static_cast<unsigned long long>(inode));
  return place;
}

socklen_t HelperMeetingPlaceSize(const sockaddr_un& place) {
  return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(place.sun_path + 1));
}

int SendHelperRecord(int channel, const void* record, size_t size, int fd) {
  iovec part{const_cast<void*>(record), size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  for (;;) {
    const ssize_t sent = sendmsg(channel, &message, MSG_NOSIGNAL);
    if (sent == ssize_t(size)) return 0;
    if (sent < 0 && errno == EINTR) continue;
    return sent < 0 ? errno : EMSGSIZE;
  }
}

namespace {

// Takes the first passed descriptor and closes the others.
void TakeDescriptors(msghdr& message, int* fd) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int passed;
      std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
      if (*fd < 0) {
        *fd = passed;
      } else {
        close(passed);
      }
    }
  }
}

}  // namespace

ssize_t ReceiveHelperRecord(int channel, void* buffer, size_t capacity, int* fd) {
  iovec part{buffer, capacity};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  // Room for a few descriptors, so that more than one is never left unclosed.
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
  if (fd != nullptr) {
    *fd = -1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  ssize_t n;
  do {
    n = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  if (fd != nullptr) TakeDescriptors(message, fd);
  if ((message.msg_flags & MSG_TRUNC) != 0) {
    if (fd != nullptr && *fd >= 0) close(*fd);
    if (fd != nullptr) *fd = -1;
    errno = EMSGSIZE;
    return -1;
  }
  return n;
}
