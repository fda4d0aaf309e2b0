#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "wire/helper_protocol.h"

// The window's side of pelorin-helper, the small program that does the privileged work (the
// window itself holds no capability). The helper is started on the first request (one per
// network namespace, as its operations act on the namespace it runs in), kept for the session,
// and started again on the next request after it ended. It is looked for beside the program,
// then in <prefix>/libexec/pelorin/. Calls may come from any thread at once.

// Tests: use this helper executable instead (the one the build made). Helpers already running
// are let go.
void UseHelperAt(const std::string& path);

// The process id of the helper serving the calling thread's network namespace, 0 when none runs.
pid_t RunningHelperId();

// One reply, checked (CheckHelperReply), with the descriptor that came along, if any.
struct HelperReply {
  HelperReply() = default;
  HelperReply(HelperReply&& other) noexcept;
  HelperReply& operator=(HelperReply&& other) noexcept;
  ~HelperReply();

  uint16_t type() const;
  // The record as its layout; the caller picks the layout of type().
  template <typename Record>
  Record as() const {
    Record record{};
    std::memcpy(&record, bytes.data(), std::min(sizeof record, bytes.size()));
    return record;
  }
  // The status reply's errno; the capture's end's too.
  int error() const;
  // Takes the passed descriptor; -1 when none came.
  int takeFd();

  std::vector<uint8_t> bytes;
  int fd = -1;
};

// One request and its replies. Sending starts the helper when needed; when it cannot be
// started (not installed, or this user may not run it) error() is EPERM.
class HelperCall {
 public:
  // `request` is a whole record; its id is filled in here.
  template <typename Request>
  explicit HelperCall(Request request) {
    send(&request.header, sizeof request);
  }
  ~HelperCall();  // cancels a request whose last reply has not come
  HelperCall(const HelperCall&) = delete;
  HelperCall& operator=(const HelperCall&) = delete;

  // 0 once the request went out, else the errno.
  int error() const { return error_; }

  // Waits for the next reply. 0 with `reply` filled in; ECANCELED when `wakeFd` became readable
  // first (the request is then cancelled); ETIMEDOUT after `timeoutMs` (-1: no limit); EPIPE when
  // the helper ended before its last reply.
  int next(HelperReply& reply, int wakeFd = -1, int timeoutMs = -1);

  // A request that needs no more than its last reply: waits for it (at most `timeoutMs`).
  // 0 and the reply, or the errno of the call or of a HelperStatusReply.
  static int Finish(HelperCall& call, HelperReply& reply, int timeoutMs);

  struct Waiter;
  struct Connection;

 private:
  void send(HelperHeader* header, size_t size);

  std::shared_ptr<Connection> connection_;
  std::shared_ptr<Waiter> waiter_;
  uint32_t id_ = 0;
  int error_ = EPERM;
  bool finished_ = false;
};

// How long a request that needs no waiting may take before the helper counts as stuck.
inline constexpr int kHelperQuickTimeoutMs = 10000;
