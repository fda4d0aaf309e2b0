// The real panes and dialogs from the keyboard and through the accessibility interface: every
// control Tab stops at is named the way a screen reader reads it, Tab leads from the module
// buttons into the pane shown, and output can be selected with the keys.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTest>
#include <string_view>
#include <vector>

#include "capture/capture_filter.h"
#include "capture/capture_filter_dialog.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_pane.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/ui_thread.h"
#include "sockets/send_dialog.h"

namespace {

// What the control is called: its label (a buddy label or the group box it lies in), else its
// own name. On Linux a combo box's name is its value, so it needs the label or a description.
QString SpokenName(QWidget* control) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(control);
  if (a == nullptr) return {};
  for (const auto& [label, relation] : a->relations(QAccessible::Label)) {
    if (label != nullptr && !label->text(QAccessible::Name).isEmpty()) {
      return label->text(QAccessible::Name);
    }
  }
  if (qobject_cast<QComboBox*>(control)) return a->text(QAccessible::Description);
  return a->text(QAccessible::Name);
}

// The controls of `top` that Tab stops at (disabled ones too: they are enabled in use).
std::vector<QWidget*> TabStops(QWidget* top) {
  std::vector<QWidget*> stops;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->focusProxy() == nullptr && w->isVisibleTo(top)) {
      stops.push_back(w);
    }
  }
  return stops;
}

void ExpectEveryStopNamed(QWidget* top, const char* where) {
  const std::vector<QWidget*> stops = TabStops(top);
  EXPECT_FALSE(stops.empty()) << where;
  for (QWidget* w : stops) {
    EXPECT_FALSE(SpokenName(w).isEmpty())
        << where << ": " << w->metaObject()->className() << " " << w->objectName().toStdString();
  }
}

}  // namespace

TEST(Accessibility, EveryControlIsNamedAndReachedFromTheKeyboard) {
  MainWindow window;
  window.show();
  QApplication::setActiveWindow(&window);
  QWidget* lastButton = FindControlWidget(&window, ModuleTable().back().buttonId);
  for (const ModuleInfo& m : ModuleTable()) {
    window.ShowModule(m.buttonId);
    ExpectEveryStopNamed(window.pane(m.buttonId), m.label);
    lastButton->setFocus();
    QTest::keyClick(lastButton, Qt::Key_Tab);
    EXPECT_TRUE(window.pane(m.buttonId)->isAncestorOf(QApplication::focusWidget())) << m.label;
  }
  ExpectEveryStopNamed(window.centralWidget(), "main window");

  window.ShowModule(kPingButton);
  AppendOutput(window.pane(kPingButton), kOutputPaneId, std::string_view("first\r\nsecond\r\n"));
  auto* output = FindControl<QPlainTextEdit>(window.pane(kPingButton), kOutputPaneId);
  output->setFocus();
  QTest::keyClick(output, Qt::Key_Home, Qt::ControlModifier);
  QTest::keyClick(output, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(output->textCursor().selectedText(),
            QStringLiteral("first") + QChar::ParagraphSeparator);

  CaptureFilter filter;
  CaptureFilterDialog filterDialog(&window, filter);
  ExpectEveryStopNamed(&filterDialog, "filter dialog");
  SendDialog sendDialog(&window, [](SendDialog&) {});
  ExpectEveryStopNamed(&sendDialog, "send dialog");
  window.shutdown();
  SetUiShuttingDown(false);  // for the tests after this one
}
