#pragma once

#include <functional>

class QWidget;

// The size of the output text, in points: one size for every pane's output, as described (8) or
// as the user chose with Ctrl+Plus, Ctrl+Minus and Ctrl+0. UI thread only.
inline constexpr int kDescribedTextSize = 8;

int OutputTextSize();

// Sets the size when it is one of the sizes offered (see LargerTextSize); returns whether it was.
bool SetOutputTextSize(int points);

// The next size offered above or below `points`; the largest or smallest stays.
int LargerTextSize(int points);
int SmallerTextSize(int points);

// Keeps the control's font at the output text size from now on, its face as it is. `changed`
// runs after each change (a list measures its rows and columns again).
void FollowOutputTextSize(QWidget* control, std::function<void()> changed = {});
