// The main window with each real pane at its smallest size and at 1600 x 1000, run by CTest at
// scale 1, again with QT_SCALE_FACTOR set, and under a real Wayland compositor: every control
// lies inside the window, no two overlap, no text is cut, and the output takes the room the
// window gains. Also the output text size keys, through every pane, the pictures painted for the
// screen's scale and shown in a picture of the window, and what the window keeps between runs
// on a platform that places windows itself and on one that lets the program place them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <QWheelEvent>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_pane.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/output_text_size.h"
#include "shell/ui_thread.h"
#include "shell/window_settings.h"
#include "test_util.h"

namespace {

constexpr int kEndpointListId = 1015;  // Netstat's output is its endpoint list

std::string Name(const QWidget* w) {
  std::string name = w->metaObject()->className();
  if (!w->objectName().isEmpty()) name += " " + w->objectName().toStdString();
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
    name += " \"" + b->text().toStdString() + "\"";
  } else if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
    name += " \"" + g->title().toStdString() + "\"";
  }
  return name;
}

// A label as it is shown: "&&" is one "&", a lone "&" marks the mnemonic and is not drawn.
QString Shown(const QString& text) {
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

// Whether every text the control shows fits it; `why` tells what does not.
bool TextFits(const QWidget* w, std::string* why) {
  const QFontMetrics fm = w->fontMetrics();
  const auto fits = [&](const QString& text, int room) {
    const int need = fm.horizontalAdvance(Shown(text));
    if (need <= room) return true;
    *why = "\"" + text.toStdString() + "\" needs " + std::to_string(need) + " px, has " +
           std::to_string(room);
    return false;
  };
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(b);
    option.text = b->text();
    const QStyle::SubElement contents =
        qobject_cast<const QPushButton*>(b) ? QStyle::SE_PushButtonContents
        : b->inherits("QRadioButton")       ? QStyle::SE_RadioButtonContents
                                            : QStyle::SE_CheckBoxContents;
    return fits(b->text(), b->style()->subElementRect(contents, &option, b).width());
  }
  if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
    if (g->minimumSizeHint().width() <= g->width()) return true;
    *why = "title \"" + g->title().toStdString() + "\" is wider than the box";
    return false;
  }
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (!label->pixmap().isNull()) return true;
    // Line ends at the end of the text end its last line; they add no line.
    QString text = label->text();
    while (text.endsWith(u'\n')) text.chop(1);
    const QRect room = label->contentsRect();
    const int width =
        fm.boundingRect(room, int(label->alignment()) | Qt::TextExpandTabs, text).width();
    const int lines = int(text.count(u'\n')) + 1;
    const int height = lines * fm.lineSpacing() - fm.leading();
    if (width <= room.width() && height <= room.height()) return true;
    *why = "\"" + text.toStdString() + "\" needs more room than the label has";
    return false;
  }
  if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    // The style draws a chosen entry one pixel in from each side; an edit field has margins of 2.
    const int room = field.width() - (combo->isEditable() ? 4 : 2);
    if (combo->isEditable()) return fits(combo->currentText(), room);
    for (int i = 0; i < combo->count(); ++i) {
      if (!fits(combo->itemText(i), room)) return false;
    }
    return true;
  }
  if (const auto* list = qobject_cast<const QTableView*>(w)) {
    const QHeaderView* header = list->horizontalHeader();
    for (int c = 0; c < header->count(); ++c) {
      if (header->sectionSize(c) < header->sectionSizeHint(c)) {
        *why = "column " + std::to_string(c) + " is narrower than its title";
        return false;
      }
    }
  }
  return true;
}

// A control and where it lies, in the window's client area.
struct Spot {
  const QWidget* w;
  QRect r;
  bool frame;  // a group box or a pane: other controls may lie in it
};

// Where two neighbouring frames meet, the layout lets the edge of one lie on the other's: an
// overlap at most a dialog unit wide is where they meet.
bool FramesMeet(const Spot& a, const Spot& b) {
  const QRect both = a.r & b.r;
  const int unit = std::max(2, a.w->fontMetrics().height() / 8 + 1);
  return both.width() <= unit || both.height() <= unit;
}

// The shown controls in `container` and in the boxes and panes within it; a control reaching
// out of what it lies in is a fault.
void CollectSpots(const QWidget* client, const QWidget* container, std::vector<Spot>* spots,
                  std::vector<std::string>* faults) {
  for (const QObject* child : container->children()) {
    const auto* w = qobject_cast<const QWidget*>(child);
    if (w == nullptr || w->isWindow() || w->isHidden()) continue;
    if (!container->rect().contains(w->geometry())) {
      faults->push_back(Name(w) + " reaches out of " + Name(container));
    }
    const bool frame = qobject_cast<const QGroupBox*>(w) || qobject_cast<const ModulePane*>(w);
    spots->push_back({w, QRect(w->mapTo(client, QPoint()), w->size()), frame});
    if (frame) CollectSpots(client, w, spots, faults);
  }
}

std::vector<std::string> LayoutFaults(const MainWindow& window) {
  std::vector<std::string> faults;
  if (!window.rect().contains(window.centralWidget()->geometry())) {
    faults.push_back("the panes reach out of the window");
  }
  std::vector<Spot> spots;
  CollectSpots(window.centralWidget(), window.centralWidget(), &spots, &faults);
  for (size_t i = 0; i < spots.size(); ++i) {
    const Spot& a = spots[i];
    std::string why;
    if (!TextFits(a.w, &why)) faults.push_back(Name(a.w) + ": " + why);
    // Two controls never share a pixel. A control lies wholly in a frame or wholly beside it;
    // two frames lie one in the other, or beside each other.
    for (size_t j = i + 1; j < spots.size(); ++j) {
      const Spot& b = spots[j];
      if (!a.r.intersects(b.r)) continue;
      if (a.frame && a.r.contains(b.r)) continue;
      if (b.frame && b.r.contains(a.r)) continue;
      if (a.frame && b.frame && FramesMeet(a, b)) continue;
      faults.push_back(Name(a.w) + " overlaps " + Name(b.w));
    }
  }
  return faults;
}

QWidget* OutputOf(const ModulePane* pane) {
  QWidget* output = FindControlWidget(pane, kOutputPaneId);
  return output != nullptr ? output : FindControlWidget(pane, kEndpointListId);
}

void ResizeTo(MainWindow& window, QSize size) {
  window.resize(size);
  WaitUntil([&] { return window.size() == size; }, 2000);
  QApplication::processEvents();
}

class PaneLayout : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    window_.show();
    window_.ShowModule(GetParam());
    QApplication::processEvents();
  }
  RecordingPresenter boxes_;  // a module without its service says so in a box
  MainWindow window_;
};

}  // namespace

TEST_P(PaneLayout, SoundWhenSmallestAndWhenLarge) {
  const ModulePane* pane = window_.pane(GetParam());
  ASSERT_NE(pane, nullptr);
  const QWidget* output = OutputOf(pane);
  ASSERT_NE(output, nullptr);

  ResizeTo(window_, window_.minimumSize());
  EXPECT_EQ(LayoutFaults(window_), std::vector<std::string>{}) << "at the smallest size";
  const QSize smallOutput = output->size();

  const QSize large(1600, 1000);
  ResizeTo(window_, large);
  EXPECT_EQ(LayoutFaults(window_), std::vector<std::string>{}) << "at 1600 x 1000";
  // What holds output takes all the room the window gains.
  EXPECT_EQ(output->width() - smallOutput.width(), large.width() - window_.minimumWidth());
  EXPECT_EQ(output->height() - smallOutput.height(), large.height() - window_.minimumHeight());
}

INSTANTIATE_TEST_SUITE_P(EveryPane, PaneLayout,
                         ::testing::Values(kNetstatButton, kPingButton, kDnsButton, kWhoisButton,
                                           kCaptureButton, kTcpButton, kUdpButton, kCodecButton,
                                           kNetInfoButton));

TEST(OutputTextSize, KeysAndWheelSizeTheOutputOfEveryPane) {
  RecordingPresenter boxes;
  MainWindow window;
  window.show();
  QApplication::setActiveWindow(&window);
  // The size the output is painted with: an output pane's text, the list's rows and titles.
  const auto sizes = [&] {
    std::vector<int> points;
    for (const ModuleInfo& m : ModuleTable()) {
      const QWidget* output = OutputOf(window.pane(m.buttonId));
      if (const auto* edit = qobject_cast<const QPlainTextEdit*>(output)) {
        points.push_back(edit->document()->defaultFont().pointSize());
      } else {
        const QHeaderView* titles = static_cast<const QTableView*>(output)->horizontalHeader();
        const int rows = output->font().pointSize();
        points.push_back(titles->viewport()->font().pointSize() == rows ? rows : -1);
      }
    }
    return points;
  };
  const auto all = [](int points) { return std::vector<int>(ModuleTable().size(), points); };
  QWidget* focus = FindControlWidget(window.pane(kNetstatButton), kEndpointListId);
  focus->setFocus();

  QTest::keyClick(focus, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(sizes(), all(9));
  QTest::keyClick(focus, Qt::Key_Minus, Qt::ControlModifier);
  QTest::keyClick(focus, Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(sizes(), all(7));
  for (int i = 0; i < 6; ++i) QTest::keyClick(focus, Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(sizes(), all(14));
  // The list measured its rows and columns again for the larger text.
  const auto* list = static_cast<QTableView*>(focus);
  EXPECT_GT(list->verticalHeader()->defaultSectionSize(), list->fontMetrics().height());
  std::string why;
  EXPECT_TRUE(TextFits(list, &why)) << why;
  QTest::keyClick(focus, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(sizes(), all(kDescribedTextSize));

  QWidget* output = OutputOf(window.pane(kDnsButton));
  const QPointF at(5, 5);
  QWheelEvent up(at, output->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                 Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(output, &up);
  EXPECT_EQ(sizes(), all(9));
  // A touchpad's small turns count once they make a notch.
  QWheelEvent part(at, output->mapToGlobal(at), QPoint(), QPoint(0, -60), Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(output, &part);
  EXPECT_EQ(sizes(), all(9));
  QApplication::sendEvent(output, &part);
  EXPECT_EQ(sizes(), all(8));
  window.shutdown();
}

TEST(WindowPictures, PaintedForTheScreensScale) {
  RecordingPresenter boxes;
  MainWindow window;
  window.show();
  const qreal ratio = window.devicePixelRatioF();
  if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
    EXPECT_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());  // the run's scale
  }
  const auto* logo = FindControl<QLabel>(&window, kLogoId);
  ASSERT_NE(logo, nullptr);
  // As many pixels as the screen shows the logo with: never enlarged, so never blurred.
  EXPECT_EQ(logo->pixmap().deviceIndependentSize(), QSizeF(104, 150));
  EXPECT_EQ(logo->pixmap().devicePixelRatio(), ratio);
  EXPECT_EQ(logo->pixmap().size(), QSize(int(std::ceil(104 * ratio)), int(std::ceil(150 * ratio))));
  // An icon for the largest a desktop draws it.
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(256, 256)));
  // A picture of the whole window shows the logo as the logo paints itself.
  const QImage shot = window.grab().toImage();
  EXPECT_EQ(shot.size(), window.size() * ratio);
  const QImage painted = const_cast<QLabel*>(logo)->grab().toImage();
  const QPoint at = logo->mapTo(&window, QPoint()) * ratio;
  EXPECT_EQ(shot.copy(QRect(at, painted.size())).convertToFormat(painted.format()), painted);
  window.shutdown();
}

// Size, maximised state and text size come back on every platform; the place only where the
// program places its window. Under Wayland the compositor places it and the place read back
// means nothing, so the place kept from a session that let the program place it neither stands
// in the way of the size nor is replaced in the file.
TEST(WindowSettings, PlaceOnlyWhereTheProgramPlacesWindows) {
  RecordingPresenter boxes;
  TempDir dir;
  const std::string file = dir.file("pelorin.ini");
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QSize size;
  {
    MainWindow probe;
    size = probe.size() + QSize(40, 30);  // a little larger than it first opens
  }
  const bool placed = PlatformPlacesWindows();
  EXPECT_EQ(placed, !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
  // Where the program places its window, a place on the screen; under Wayland, one that a
  // session with other screens kept, beside this one: the size comes back all the same.
  const QPoint place =
      placed ? screen.topLeft() + QPoint(37, 41) : screen.topRight() + QPoint(100, 41);
  if (placed && !screen.contains(QRect(place, size))) GTEST_SKIP() << "the screen is too small";
  const auto write = [&](bool maximized) {
    std::ofstream(file, std::ios::trunc)
        << "[window]\nx=" << place.x() << "\ny=" << place.y() << "\nwidth=" << size.width()
        << "\nheight=" << size.height() << "\nmaximized=" << (maximized ? "true" : "false")
        << "\n[output]\ntextSize=12\n";
  };
  write(false);
  {
    SetUiShuttingDown(false);
    MainWindow window;
    window.rememberIn(QString::fromStdString(file));
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.windowHandle()->isExposed(); }));
    EXPECT_EQ(window.size(), size);
    const QPoint at = window.geometry().topLeft();
    EXPECT_EQ(at == place, placed) << at.x() << "," << at.y();
    EXPECT_EQ(OutputTextSize(), 12);
    window.shutdown();
  }
  const QSettings kept(QString::fromStdString(file), QSettings::IniFormat);
  EXPECT_EQ(kept.value("window/width").toInt(), size.width());
  const QPoint keptPlace(kept.value("window/x").toInt(), kept.value("window/y").toInt());
  if (!placed) {
    EXPECT_EQ(keptPlace, place);
  }

  write(true);
  {
    SetUiShuttingDown(false);
    MainWindow window;
    window.rememberIn(QString::fromStdString(file));
    window.show();
    EXPECT_TRUE(WaitUntil([&] { return window.isMaximized(); }));
    window.shutdown();
  }
  SetOutputTextSize(kDescribedTextSize);
  SetUiShuttingDown(false);
}
