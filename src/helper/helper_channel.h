#pragma once

#include <sys/types.h>

#include <cstddef>

// The socket between the window and pelorin-helper: a SOCK_SEQPACKET pair, one record per
// message (helper_protocol.h).

// The helper's end of the pair, as it finds it when started.
inline constexpr int kHelperChannelFd = 3;

// Sends one record whole, with the descriptor `fd` passed along when it is not -1. 0 or the
// errno (EPIPE once the other side is gone).
int SendHelperRecord(int channel, const void* record, size_t size, int fd = -1);

// Receives one record into `buffer`: its size, 0 once the other side is gone, or -1 with errno
// set (EMSGSIZE for a record longer than `capacity`, which is dropped). With `fd` a passed
// descriptor is taken (close-on-exec) into `*fd`, else -1; any other passed descriptor is
// closed. Without `fd` passed descriptors are never taken.
ssize_t ReceiveHelperRecord(int channel, void* buffer, size_t capacity, int* fd = nullptr);
