#include "shell/output_batch.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "shell/output.h"
#include "shell/ui_thread.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kFrame{16};
// A worker waiting for room looks at its token this often.
constexpr milliseconds kRoomCheck{20};

// What a byte costs the UI to show. The control spends about as much on a line as on a hundred
// characters, so a flood of empty lines must not make batches that take the UI much longer. The
// pane makes one line end of a CR LF and one of a CR or LF alone, so the LF of a CR LF costs
// nothing more.
constexpr size_t kLineEndCost = 100;

// The cost of `text[i]`; `before` is the character ahead of `text` in the same batch (0 when
// `text` starts the batch).
size_t CostAt(std::string_view text, size_t i, char before) {
  const char c = text[i];
  if (c == '\n') return (i > 0 ? text[i - 1] : before) == '\r' ? 0 : kLineEndCost;
  return c == '\r' ? kLineEndCost : 1;
}

bool IsContinuation(char c) {
  return (static_cast<uint8_t>(c) & 0xC0) == 0x80;
}

// How much of `text` goes into a batch with `room` left and `before` its last character: as much
// as fits, cut neither inside a UTF-8 sequence nor between CR and LF. When nothing fits so, the
// first character (or CR LF) goes whole. Adds the part's cost to `cost`.
size_t TakeWhatFits(std::string_view text, size_t room, char before, size_t& cost) {
  size_t take = 0, spent = 0;
  const auto costAt = [&](size_t i) { return CostAt(text, i, before); };
  while (take < text.size() && spent + costAt(take) <= room) spent += costAt(take++);
  const auto giveBack = [&] { spent -= costAt(--take); };
  // Never inside a UTF-8 sequence; never between CR and LF either, as the LF after a CR costs
  // nothing and so always fits.
  while (take > 0 && take < text.size() && IsContinuation(text[take])) giveBack();
  if (take == 0 && !text.empty()) {
    const bool crLf = text.substr(0, 2) == "\r\n";
    do spent += costAt(take++);
    while (take < text.size() && (crLf ? take < 2 : IsContinuation(text[take])));
  }
  cost += spent;
  return take;
}

}  // namespace

struct OutputBatch::Shared {
  Shared(RunTokenPtr t, QWidget* p, int id, size_t c)
      : token(std::move(t)), pane(p), controlId(id), capacity(c) {}

  bool dropped() const { return (token && token->cancelled()) || UiShuttingDown(); }

  const RunTokenPtr token;
  QWidget* const pane;
  const int controlId;
  const size_t capacity;

  std::mutex mutex;
  std::condition_variable room;
  std::string waiting;     // appended, not yet taken by the UI
  size_t waitingCost = 0;  // of `waiting`, against the capacity
  bool posted = false;     // a batch is on its way to the UI
  Clock::time_point next;  // UI thread only: the earliest time for the next batch
};

namespace {

using Shared = OutputBatch::Shared;

// UI thread: takes everything that waits and shows it.
void ShowBatch(const std::shared_ptr<Shared>& s) {
  std::string text;
  {
    std::lock_guard lock(s->mutex);
    text.swap(s->waiting);
    s->waitingCost = 0;
    s->posted = false;
  }
  s->room.notify_all();
  const Clock::time_point start = Clock::now();
  if (!text.empty() && !s->dropped()) AppendOutput(s->pane, s->controlId, text);
  const Clock::time_point end = Clock::now();
  s->next = std::max(start + kFrame, end + (end - start));
}

// UI thread: shows the batch now, or at the next frame when the last one was too recent.
void ShowBatchInTime(const std::shared_ptr<Shared>& s) {
  const auto wait = std::chrono::ceil<milliseconds>(s->next - Clock::now());
  if (wait.count() <= 0) {
    ShowBatch(s);
    return;
  }
  QTimer::singleShot(int(wait.count()), QCoreApplication::instance(), [s] {
    if (!UiShuttingDown()) ShowBatch(s);
  });
}

}  // namespace

OutputBatch::OutputBatch(RunTokenPtr token, QWidget* pane, int controlId, size_t capacity)
    : shared_(std::make_shared<Shared>(std::move(token), pane, controlId,
                                       std::max<size_t>(capacity, 1))) {}

OutputBatch::~OutputBatch() = default;

void OutputBatch::append(std::string_view utf8) {
  Shared& s = *shared_;
  while (!utf8.empty()) {
    bool post = false;
    {
      std::unique_lock lock(s.mutex);
      while (s.waitingCost >= s.capacity && !s.dropped()) s.room.wait_for(lock, kRoomCheck);
      if (s.dropped()) return;
      const char before = s.waiting.empty() ? '\0' : s.waiting.back();
      const size_t take = TakeWhatFits(utf8, s.capacity - s.waitingCost, before, s.waitingCost);
      s.waiting.append(utf8.substr(0, take));
      utf8.remove_prefix(take);
      post = !s.posted;
      s.posted = true;
    }
    if (post) PostToUiThread([s = shared_] { ShowBatchInTime(s); });
  }
}

void OutputBatch::flush() {
  std::string text;
  {
    std::lock_guard lock(shared_->mutex);
    text.swap(shared_->waiting);
    shared_->waitingCost = 0;
  }
  // A batch on its way that finds nothing left shows nothing; one the UI is showing right now
  // comes before this, as the UI does one thing at a time.
  if (!text.empty()) {
    RunOnUiThread(shared_->token, [&] { AppendOutput(shared_->pane, shared_->controlId, text); });
  }
}
