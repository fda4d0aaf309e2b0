#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "sys/capabilities.h"

namespace {

// The three 64-bit sets as the kernel's two 32-bit halves each.
struct Sets {
  uint64_t effective = 0;
  uint64_t permitted = 0;
  uint64_t inheritable = 0;
};

bool Get(Sets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  sets.effective = data[0].effective | uint64_t(data[1].effective) << 32;
  sets.permitted = data[0].permitted | uint64_t(data[1].permitted) << 32;
  sets.inheritable = data[0].inheritable | uint64_t(data[1].inheritable) << 32;
  return true;
}

bool Set(const Sets& sets) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  for (int half = 0; half < 2; ++half) {
    data[half].effective = uint32_t(sets.effective >> (32 * half));
    data[half].permitted = uint32_t(sets.permitted >> (32 * half));
    data[half].inheritable = uint32_t(sets.inheritable >> (32 * half));
  }
  return syscall(SYS_capset, &header, data) == 0;
}

// The ambient set exists since Linux 4.3; without it there is nothing to clear.
bool ClearAmbient() {
  return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) == 0 || errno == EINVAL;
}

}  // namespace

RaisedCapabilities::RaisedCapabilities(std::initializer_list<int> capabilities) {
  Sets sets;
  if (!Get(sets)) return;
  uint64_t wanted = 0;
  for (const int capability : capabilities) wanted |= CapabilityBit(capability);
  if ((sets.permitted & wanted) != wanted) return;
  sets.effective = wanted;
  raised_ = Set(sets);
}

RaisedCapabilities::~RaisedCapabilities() {
  Sets sets;
  if (!raised_ || !Get(sets)) return;
  sets.effective = 0;
  Set(sets);
}

bool KeepOnlyPermitted(uint64_t keep) {
  Sets sets;
  if (!Get(sets)) return false;
  sets.permitted &= keep;
  sets.effective = 0;
  sets.inheritable = 0;
  return ClearAmbient() && Set(sets);
}

bool DropAllCapabilities() {
  return KeepOnlyPermitted(0) && !HoldsAnyCapability();
}

uint64_t PermittedCapabilities() {
  Sets sets;
  return Get(sets) ? sets.permitted : 0;
}

// The ambient set is always within both the permitted and the inheritable set.
bool HoldsAnyCapability() {
  Sets sets;
  if (!Get(sets)) return true;  // unknown: assume the worst
  return sets.effective != 0 || sets.permitted != 0 || sets.inheritable != 0;
}
