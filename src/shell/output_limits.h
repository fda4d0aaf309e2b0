#pragma once

#include <cstddef>

// Sizes of the output panes, apart from Qt so that the logic that fills a pane can size what it
// keeps to fit.

// Most characters an output pane holds (each line break counts as one). Past that the oldest
// lines go first, so the newest output stays in view and a peer that never stops sending
// cannot exhaust memory.
inline constexpr size_t kOutputPaneLimit = 2'000'000;

// Most lines an output pane holds, pieces of long lines included. The control spends some
// hundred bytes on every line, so a peer sending nothing but line breaks would otherwise take
// hundreds of megabytes within the character limit. Past that, too, the oldest lines go.
inline constexpr size_t kOutputPaneLines = 100'000;

// A longer line is shown in pieces of this many characters, each on a line of its own: the
// control lays a line out whole on every change, which for a line of millions of characters
// takes seconds. The pieces are still one line to whoever reads or copies the text.
inline constexpr size_t kOutputLinePiece = 4096;

// Text of at most this many characters fits an empty pane whole, however its lines run: the rest
// is room for the breaks between a long line's pieces.
inline constexpr size_t kOutputTextRoom = kOutputPaneLimit - kOutputPaneLimit / kOutputLinePiece;
