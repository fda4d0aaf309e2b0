#pragma once

#include <sys/types.h>
#include <sys/un.h>

#include <cstddef>

// The socket between the window and pelorin-helper: a SOCK_SEQPACKET pair, one record per
// message (helper_protocol.h).

// The helper's end of the pair, as it finds it when started.
inline constexpr int kHelperChannelFd = 3;

// One helper serves a user in a network namespace, whichever windows of the user ask: the first
// one started listens at its user's meeting place, an abstract socket address (abstract
// addresses belong to the network namespace) named by the protocol's version, the user and the
// helper's executable, so that only windows of one build meet. A window of the user connects
// there first, and starts a helper only when none listens. The helper it starts sends a
// HelperAbilitiesReply with id 0 when it serves; a helper that finds the place held by another
// of the user's processes ends with this exit status at once, and the window meets that one.
inline constexpr int kHelperServedElsewhere = 3;
sockaddr_un HelperMeetingPlace(uid_t user, dev_t device, ino_t inode);
socklen_t HelperMeetingPlaceSize(const sockaddr_un& place);

// Sends one record whole, with the descriptor `fd` passed along when it is not -1. 0 or the
// errno (EPIPE once the other side is gone).
int SendHelperRecord(int channel, const void* record, size_t size, int fd = -1);

// Receives one record into `buffer`: its size, 0 once the other side is gone, or -1 with errno
// set (EMSGSIZE for a record longer than `capacity`, which is dropped). With `fd` a passed
// descriptor is taken (close-on-exec) into `*fd`, else -1; any other passed descriptor is
// closed. Without `fd` passed descriptors are never taken.
ssize_t ReceiveHelperRecord(int channel, void* buffer, size_t capacity, int* fd = nullptr);
