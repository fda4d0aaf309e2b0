#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "sys/run_token.h"

class QWidget;

// The way a worker prints when it may produce text faster than a person reads (a peer flooding
// a socket, a busy capture, a large answer). One object per run and output control, used by the
// worker thread only:
//
//   OutputBatch out(token, pane, kOutputPaneId);
//   out.append(text);   // as often as the work goes; returns at once while there is room
//   out.flush();        // before any other UI call that must come after the text
//
// Text is handed to the UI in batches, at most one UI call per frame, never a blocking call per
// piece; the UI also gets at least as long to itself as its last batch took. Appends keep their
// order, including across flush. When the UI falls behind, append waits for room instead of
// queueing without limit, so memory stays bounded (a capture worker that waits here lets the
// kernel drop packets, as it should). Once the run's token is cancelled, or the program is
// shutting down, nothing more reaches the pane and no call waits.
//
// The pane itself keeps at most kOutputPaneLimit characters (output.h).
class OutputBatch {
 public:
  // How much text may wait for the UI, in bytes with every line end (CR LF, or a CR or LF alone)
  // counted as a hundred (what it costs the control); one full batch takes the UI some ten
  // milliseconds.
  static constexpr size_t kDefaultCapacity = 256 * 1024;

  // What append does while the UI is behind.
  enum class Overflow {
    // Waits for room: nothing is lost, the worker slows down to the pane's pace.
    kWait,
    // Never waits. Once the appends that wait would fill the pane by themselves, the oldest of
    // them go, and the pane's text with them, as the pane would drop all of it anyway: the pane
    // ends exactly as if everything had been shown, however far behind it was, in the time its
    // last screenful takes. For work that outruns any pane without losing anything (reading a
    // file). The UI still gets one batch of `capacity` at a time; what waits stays within the
    // pane's limits and one append.
    kKeepNewest,
  };

  OutputBatch(RunTokenPtr token, QWidget* pane, int controlId, size_t capacity = kDefaultCapacity,
              Overflow overflow = Overflow::kWait);
  ~OutputBatch();  // what still waits is shown by the batch already on its way
  OutputBatch(const OutputBatch&) = delete;
  OutputBatch& operator=(const OutputBatch&) = delete;

  // Appends UTF-8 text after everything appended before. A batch ends only between whole
  // characters and never between the CR and LF of a line end. With kKeepNewest, only an append
  // that ends with a line end can go whole.
  void append(std::string_view utf8);

  // Appends the text `make` returns, whole and without waiting, when the UI has room for more
  // (what waits may then pass the capacity by this one text), and returns true; else makes
  // nothing and returns false. For a worker that must never slow down to the pane's pace (a
  // capture that saves every packet shows what it can). With kKeepNewest, an append.
  bool appendIfRoom(const std::function<std::string()>& make);

  // Hands over everything appended so far and returns once the pane shows it (or it has been
  // dropped because the run was cancelled).
  void flush();

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};
