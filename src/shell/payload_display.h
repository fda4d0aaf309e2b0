#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class QComboBox;
class QWidget;

// The display selector of the panes that show payloads.
inline constexpr int kDisplaySelectorId = 1051;

// Fills a selector with the five labels in order and selects `initialIndex`.
void FillDisplaySelector(QComboBox* selector, int initialIndex);

// The formatter flag for the selector's current entry; no selection gives Text Only.
uint32_t DisplayModeFromSelection(const QWidget* pane, int comboId);

// The rendering of `length` bytes (FormatPayload), or the line below when memory for it cannot
// be had.
std::string PayloadText(uint32_t mode, const uint8_t* bytes, size_t length);

// Appends the rendering of `length` bytes to the output control (any thread). When memory for
// the rendering cannot be had, "#>[ERROR: MEMORY ALLCOATION ERROR!]\r\n" is appended instead.
void RenderPayload(QWidget* pane, int outputId, uint32_t mode, const uint8_t* bytes, size_t length);
