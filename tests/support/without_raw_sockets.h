#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Takes CAP_NET_RAW out of this thread's effective set while it lives, so root can see what an
// unprivileged user sees (capabilities belong to each thread; threads it starts meanwhile, such
// as a pane's worker, are born without it too).
class WithoutRawSockets {
 public:
  WithoutRawSockets() {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~(1u << CAP_NET_RAW);
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutRawSockets() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutRawSockets(const WithoutRawSockets&) = delete;
  WithoutRawSockets& operator=(const WithoutRawSockets&) = delete;
  bool dropped() const { return dropped_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};
