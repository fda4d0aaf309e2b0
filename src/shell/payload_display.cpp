#include "shell/payload_display.h"

#include <QComboBox>
#include <new>
#include <string>

#include "shell/controls.h"
#include "shell/output.h"
#include "base/payload_format.h"
#include "shell/ui_thread.h"

namespace {

constexpr const char* kAllocationError = "#>[ERROR: MEMORY ALLCOATION ERROR!]\r\n";

}  // namespace

std::string PayloadText(uint32_t mode, const uint8_t* bytes, size_t length) {
  try {
    return FormatPayload(mode, bytes, length);
  } catch (const std::bad_alloc&) {
    return kAllocationError;
  }
}

void FillDisplaySelector(QComboBox* selector, int initialIndex) {
  for (int i = 0; i < kDisplayModeCount; ++i) {
    selector->addItem(QString::fromLatin1(DisplayModeLabel(i)));
  }
  selector->setCurrentIndex(initialIndex);
}

uint32_t DisplayModeFromSelection(const QWidget* pane, int comboId) {
  int index = -1;
  RunOnUiThread([&] {
    if (auto* combo = FindControl<QComboBox>(pane, comboId)) index = combo->currentIndex();
  });
  return DisplayModeFromIndex(index);
}

void RenderPayload(QWidget* pane, int outputId, uint32_t mode, const uint8_t* bytes,
                   size_t length) {
  AppendOutput(pane, outputId, PayloadText(mode, bytes, length));
}
