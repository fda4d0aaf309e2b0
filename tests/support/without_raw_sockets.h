#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Takes a capability (CAP_*) out of this thread's effective set while it lives, so root can see
// what an unprivileged user sees (capabilities belong to each thread; threads it starts
// meanwhile, such as a pane's worker, are born without it too).
class WithoutCapability {
 public:
  explicit WithoutCapability(int capability) {
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[capability / 32].effective &= ~(1u << (capability % 32));
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutCapability() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutCapability(const WithoutCapability&) = delete;
  WithoutCapability& operator=(const WithoutCapability&) = delete;
  bool dropped() const { return dropped_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};

class WithoutRawSockets : public WithoutCapability {
 public:
  WithoutRawSockets() : WithoutCapability(CAP_NET_RAW) {}
};
