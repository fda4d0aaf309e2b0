#include "shell/output_batch.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "shell/controls.h"
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

// What one append of a kKeepNewest batch gives the pane at least: characters (a CR LF is one,
// a character beyond the 16-bit range may be two) and line ends (a long line's pieces add more).
struct Piece {
  size_t end = 0;  // in the waiting text
  size_t characters = 0;
  size_t lines = 0;
  bool endsLine = false;
};

Piece Measure(std::string_view text, char before) {
  Piece piece;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char previous = i > 0 ? text[i - 1] : before;
    if (IsContinuation(c) || (c == '\n' && previous == '\r')) continue;
    ++piece.characters;
    if (c == '\r' || c == '\n') ++piece.lines;
  }
  piece.endsLine = !text.empty() && text.back() == '\n';
  return piece;
}

}  // namespace

struct OutputBatch::Shared {
  Shared(RunTokenPtr t, QWidget* p, int id, size_t c, Overflow o)
      : token(std::move(t)), pane(p), controlId(id), capacity(c), overflow(o) {}

  bool dropped() const { return (token && token->cancelled()) || UiShuttingDown(); }

  const RunTokenPtr token;
  QWidget* const pane;
  const int controlId;
  const size_t capacity;
  const Overflow overflow;

  std::mutex mutex;
  std::condition_variable room;
  std::string waiting;     // appended, not yet taken by the UI (kKeepNewest: from `taken` on)
  size_t waitingCost = 0;  // of `waiting`, against the capacity (kWait)
  bool posted = false;     // a batch is on its way to the UI
  Clock::time_point next;  // UI thread only: the earliest time for the next batch

  // kKeepNewest: the appends not yet taken whole, what they hold in all, and whether the pane's
  // text is to go before the next batch.
  size_t taken = 0;
  std::deque<Piece> pieces;
  size_t characters = 0;
  size_t lines = 0;
  bool clearPane = false;
  char last = '\0';  // the last character appended

  // kKeepNewest, under the lock: drops the oldest appends while the rest would fill the pane by
  // itself. The rest starts a line, so the pane would keep none of what goes.
  void keepNewest() {
    while (pieces.size() > 1 && pieces.front().endsLine &&
           (characters - pieces.front().characters > kOutputPaneLimit ||
            lines - pieces.front().lines > kOutputPaneLines)) {
      taken = pieces.front().end;
      characters -= pieces.front().characters;
      lines -= pieces.front().lines;
      pieces.pop_front();
      clearPane = true;
    }
    if (taken > waiting.size() / 2) {  // what was taken or dropped leaves the buffer
      waiting.erase(0, taken);
      for (Piece& piece : pieces) piece.end -= taken;
      taken = 0;
    }
  }
};

namespace {

using Shared = OutputBatch::Shared;

void ShowBatchInTime(const std::shared_ptr<Shared>& s);

// UI thread: takes everything that waits and shows it; with kKeepNewest a batch of `capacity`
// at most, and the next one comes at the next frame.
void ShowBatch(const std::shared_ptr<Shared>& s) {
  std::string text;
  bool clear = false, more = false;
  {
    std::lock_guard lock(s->mutex);
    if (s->overflow == OutputBatch::Overflow::kWait) {
      text.swap(s->waiting);
      s->waitingCost = 0;
    } else {
      const char before = s->taken > 0 ? s->waiting[s->taken - 1] : '\0';
      size_t cost = 0;
      const size_t take =
          TakeWhatFits(std::string_view(s->waiting).substr(s->taken), s->capacity, before, cost);
      text = s->waiting.substr(s->taken, take);
      s->taken += take;
      while (!s->pieces.empty() && s->pieces.front().end <= s->taken) {
        s->characters -= s->pieces.front().characters;
        s->lines -= s->pieces.front().lines;
        s->pieces.pop_front();
      }
      clear = std::exchange(s->clearPane, false);
      more = s->taken < s->waiting.size();
    }
    s->posted = more;
  }
  s->room.notify_all();
  const Clock::time_point start = Clock::now();
  if (!s->dropped()) {
    if (clear) SetControlText(s->pane, s->controlId, QString());
    if (!text.empty()) AppendOutput(s->pane, s->controlId, text);
  }
  const Clock::time_point end = Clock::now();
  s->next = std::max(start + kFrame, end + (end - start));
  if (more) ShowBatchInTime(s);
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

OutputBatch::OutputBatch(RunTokenPtr token, QWidget* pane, int controlId, size_t capacity,
                         Overflow overflow)
    : shared_(std::make_shared<Shared>(std::move(token), pane, controlId,
                                       std::max<size_t>(capacity, 1), overflow)) {}

OutputBatch::~OutputBatch() = default;

void OutputBatch::append(std::string_view utf8) {
  Shared& s = *shared_;
  if (s.overflow == Overflow::kKeepNewest) {
    if (utf8.empty()) return;
    bool post = false;
    {
      std::lock_guard lock(s.mutex);
      if (s.dropped()) return;
      Piece piece = Measure(utf8, s.last);
      s.last = utf8.back();
      s.waiting.append(utf8);
      piece.end = s.waiting.size();
      s.pieces.push_back(piece);
      s.characters += piece.characters;
      s.lines += piece.lines;
      s.keepNewest();
      post = !s.posted;
      s.posted = true;
    }
    if (post) PostToUiThread([s = shared_] { ShowBatchInTime(s); });
    return;
  }
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

bool OutputBatch::appendIfRoom(const std::function<std::string()>& make) {
  Shared& s = *shared_;
  if (s.overflow == Overflow::kKeepNewest) {
    append(make());
    return true;
  }
  {
    std::lock_guard lock(s.mutex);
    if (s.waitingCost >= s.capacity || s.dropped()) return false;
  }
  // Only this worker appends, so the room is still there.
  const std::string text = make();
  bool post = false;
  {
    std::lock_guard lock(s.mutex);
    const char before = s.waiting.empty() ? '\0' : s.waiting.back();
    TakeWhatFits(text, std::string::npos, before, s.waitingCost);  // all of it, for its cost
    s.waiting.append(text);
    post = !s.posted;
    s.posted = true;
  }
  if (post) PostToUiThread([s = shared_] { ShowBatchInTime(s); });
  return true;
}

void OutputBatch::flush() {
  if (shared_->overflow == Overflow::kKeepNewest) {
    // The batches go at the pace of the frames: one large append would stall the UI.
    std::unique_lock lock(shared_->mutex);
    while (shared_->taken < shared_->waiting.size() && !shared_->dropped()) {
      shared_->room.wait_for(lock, kRoomCheck);
    }
    return;
  }
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
