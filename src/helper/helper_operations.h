#pragma once

#include <cstdint>

#include "wire/helper_protocol.h"

// The privileged work of pelorin-helper, one request each. Every operation sends its replies
// on `channel` itself, ending with the final one, and raises a capability only around the call
// that needs it. `wakeFd` becomes readable when the window cancels the request.
struct HelperJob {
  int channel = -1;
  HelperRequest request;
  int wakeFd = -1;
};

// The capabilities the helper may hold, and those it holds (HelperAbilitiesReply).
uint64_t HelperCapabilities();

void SendHelperStatus(int channel, uint32_t id, int error);

// Closes every descriptor above `last`. False when they cannot be listed.
bool CloseDescriptorsAbove(int last);

// An echo to a unicast destination on a raw ICMP socket.
void RunEcho(const HelperJob& job);
// A capture in a child process that drops every capability once the capture is open.
void RunCapture(const HelperJob& job);
void RunKill(const HelperJob& job);
void RunFlush(const HelperJob& job);
void RunOwners(const HelperJob& job);
void RunFact(const HelperJob& job);
