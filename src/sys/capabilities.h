#pragma once

#include <cstdint>
#include <initializer_list>

// The capabilities of the calling thread. On Linux every thread has its own sets, and a thread
// starts with the sets of the thread that started it.

// Bit n stands for capability n (CAP_NET_RAW...).
inline constexpr uint64_t CapabilityBit(int capability) {
  return uint64_t(1) << capability;
}

// Takes capabilities of the permitted set into the effective set while it lives, and leaves the
// effective set empty again when it goes. ok() is false when one of them is not permitted; the
// effective set then stays empty.
class RaisedCapabilities {
 public:
  explicit RaisedCapabilities(std::initializer_list<int> capabilities);
  ~RaisedCapabilities();
  RaisedCapabilities(const RaisedCapabilities&) = delete;
  RaisedCapabilities& operator=(const RaisedCapabilities&) = delete;
  bool ok() const { return raised_; }

 private:
  bool raised_ = false;
};

// Keeps in the permitted set only what `keep` names and what it already holds; empties the
// effective, inheritable and ambient sets. False when the system refused.
bool KeepOnlyPermitted(uint64_t keep);

// Empties every set: effective, permitted, inheritable and ambient. False when the system
// refused. The bounding set stays, so a program started later can still be given capabilities
// by its file.
bool DropAllCapabilities();

// The permitted set.
uint64_t PermittedCapabilities();

// Whether any set (effective, permitted, inheritable, ambient) holds a capability.
bool HoldsAnyCapability();
