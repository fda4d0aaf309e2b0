#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/dialog_units.h"
#include "shell/message_presenter.h"
#include "shell/output.h"
#include "shell/output_batch.h"
#include "shell/payload_display.h"
#include "base/payload_format.h"
#include "shell/picture_compare.h"
#include "shell/pictures.h"
#include "shell/startup.h"
#include "shell/ui_thread.h"
#include "test_util.h"

namespace {

// A bare pane with an output control, as the modules make them.
struct PaneFixture : ::testing::Test {
  QWidget pane;
  QPlainTextEdit* out = MakeOutputPane(&pane, kOutputPaneId, QRect(7, 35, 374, 228), true,
                                       OutputScrollBars::Both, true);
};

using AppendOutputTest = PaneFixture;
using WorkerWritesTest = PaneFixture;
using PayloadDisplayTest = PaneFixture;

}  // namespace

TEST_F(AppendOutputTest, AppendsAtTheEndAndKeepsCrLfLines) {
  AppendOutput(&pane, kOutputPaneId, std::string_view("[DNS QUERY: a]\r\n\r\n"));
  AppendOutput(&pane, kOutputPaneId, std::string_view("A:\t1.2.3.4\r\n"));
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), "[DNS QUERY: a]\r\n\r\nA:\t1.2.3.4\r\n");
  EXPECT_EQ(out->textCursor().position(), out->document()->characterCount() - 1);
}

TEST_F(AppendOutputTest, EmptyTextOnlyMovesTheCaretAndDropsTheSelection) {
  AppendOutput(&pane, kOutputPaneId, std::string_view("hello\r\n"));
  QTextCursor c = out->textCursor();
  c.setPosition(0);
  c.setPosition(3, QTextCursor::KeepAnchor);
  out->setTextCursor(c);
  AppendOutput(&pane, kOutputPaneId, std::string_view(""));
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), "hello\r\n");
  EXPECT_FALSE(out->textCursor().hasSelection());
  EXPECT_EQ(out->textCursor().position(), 6);
}

TEST_F(AppendOutputTest, KeepsLineEndsAndLongLinesByteForByte) {
  const std::string text = "a\nb\rc\r\n" + std::string(2 * kOutputLinePiece + 5, 'x') +
                           "\r\n\xe2\x80\xa9"
                           "d\r";
  AppendOutput(&pane, kOutputPaneId, std::string_view(text));
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), text);
  // Shown: a line per line end (U+2029 is one to the control), the long line in three pieces.
  EXPECT_EQ(out->document()->blockCount(), 9);
  out->selectAll();
  out->copy();
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), text);

  // The LF of a CR LF that comes in the next append ends the same line.
  AppendOutput(&pane, kOutputPaneId, std::string_view("\ne"));
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), text + "\ne");
  EXPECT_EQ(out->document()->blockCount(), 9);
}

TEST_F(AppendOutputTest, PastEitherLimitTheOldestLinesGo) {
  std::string lines;
  for (int i = 0; lines.size() < 100'000; ++i) {
    lines += "line " + std::to_string(i) + " of some forty characters\r\n";
  }
  std::string all;
  for (int k = 0; all.size() < kOutputPaneLimit * 5 / 4; ++k) {
    const std::string piece = "[" + std::to_string(k) + "]" + lines;
    AppendOutput(&pane, kOutputPaneId, std::string_view(piece));
    all += piece;
  }
  const size_t chars = size_t(out->document()->characterCount() - 1);
  EXPECT_LE(chars, kOutputPaneLimit);
  EXPECT_GT(chars, kOutputPaneLimit - 50);  // no more than one line too many went
  const std::string shown = GetOutputText(&pane, kOutputPaneId);
  ASSERT_LT(shown.size(), all.size());
  EXPECT_EQ(all.compare(all.size() - shown.size(), shown.size(), shown), 0);  // the newest
  EXPECT_EQ(all[all.size() - shown.size() - 1], '\n');                        // whole lines
  EXPECT_EQ(out->textCursor().position(), int(chars));

  // A long line, shown in pieces, goes whole too: no tail of it is left at the top.
  out->clear();
  const std::string half(kOutputPaneLimit / 2, 'a');
  AppendOutput(&pane, kOutputPaneId, std::string_view(half + "\r\n"));
  AppendOutput(&pane, kOutputPaneId, std::string_view(half + "b\r\n"));
  EXPECT_TRUE(GetOutputText(&pane, kOutputPaneId) == half + "b\r\n");

  // Empty lines cost the control more than their characters: their number is bounded too.
  out->clear();
  const std::string empty(20'000, '\n');
  for (size_t n = 0; n < kOutputPaneLines * 3 / 2; n += empty.size()) {
    AppendOutput(&pane, kOutputPaneId, std::string_view(empty));
  }
  EXPECT_EQ(size_t(out->document()->blockCount()), kOutputPaneLines);
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), std::string(kOutputPaneLines - 1, '\n'));
}

TEST_F(AppendOutputTest, ReadOnlyOutputIsNotUndoable) {
  AppendOutput(&pane, kOutputPaneId, std::string_view("x"));
  EXPECT_FALSE(out->document()->isUndoAvailable());
}

TEST_F(WorkerWritesTest, KeepTheirOrderFromAnotherThread) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) AppendOutput(&pane, kOutputPaneId, std::to_string(i) + "\r\n");
    done = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
  worker.join();
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += std::to_string(i) + "\r\n";
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), expected);
}

TEST_F(WorkerWritesTest, OfACancelledRunAreDropped) {
  RunTokenPtr token = NewRunToken();
  std::atomic<int> step{0};
  std::atomic<bool> secondShown{true};
  std::thread worker([&] {
    AppendOutput(token, &pane, kOutputPaneId, "before\r\n");
    step = 1;
    while (!token->cancelled()) std::this_thread::yield();
    AppendOutput(token, &pane, kOutputPaneId, "after\r\n");
    secondShown = RunOnUiThread(token, [] {});
    step = 2;
  });
  EXPECT_TRUE(WaitUntil([&] { return step.load() == 1; }));
  token->cancel();
  EXPECT_TRUE(WaitUntil([&] { return step.load() == 2; }));
  worker.join();
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), "before\r\n");
  EXPECT_FALSE(secondShown);
}

// A batch's room counts each line end as the pane makes it, a hundred: one for a CR LF (also
// when its LF comes in the next append) and one for a CR or LF alone. Ten such lines fit a room
// of 1010 without the UI taking any, and the pane shows them byte for byte.
TEST_F(WorkerWritesTest, BatchedLineEndsCostWhatThePaneMakesOfThem) {
  const std::vector<std::string> pieces = {"a\r\n", "b\r", "\n", "c\n", "d\r", "e\r\n",
                                           "f\n",   "g\r", "\n", "h\r", "i\n", "j\r\n"};
  std::atomic<bool> appended{false}, flushed{false};
  std::thread worker([&] {
    OutputBatch batch(NewRunToken(), &pane, kOutputPaneId, 1010);
    for (const std::string& piece : pieces) batch.append(piece);
    appended = true;
    batch.flush();
    flushed = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!appended && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the UI takes nothing meanwhile
  }
  EXPECT_TRUE(appended.load());
  EXPECT_TRUE(WaitUntil([&] { return flushed.load(); }));
  worker.join();
  std::string all;
  for (const std::string& piece : pieces) all += piece;
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), all);
}

// A worker that outruns the pane by far without waiting (a file read): the pane ends exactly as
// if every append had been shown, past both of its limits, with the UI given a batch at a time.
TEST_F(WorkerWritesTest, KeepingTheNewestEndsAsIfEverythingHadBeenShown) {
  std::string all;
  std::atomic<bool> appended{false}, flushed{false};
  std::thread worker([&] {
    OutputBatch batch(NewRunToken(), &pane, kOutputPaneId, OutputBatch::kDefaultCapacity,
                      OutputBatch::Overflow::kKeepNewest);
    for (int i = 0; i < 30000; ++i) {
      std::string piece;
      if (i % 3 == 0) {
        piece = std::to_string(i) + std::string(i % 300 == 0 ? 1500 : 300, 'w') + "\r\n";
      } else if (i % 3 == 1) {
        for (int line = 0; line < 10; ++line) piece += "x\r\n";
      } else {
        piece = "tail \xC3\xA9\r\n";
      }
      all += piece;
      batch.append(piece);
    }
    appended = true;  // without a wait for the UI, which takes nothing meanwhile
    batch.flush();
    flushed = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!appended && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(appended.load());
  EXPECT_TRUE(WaitUntil([&] { return flushed.load(); }, 10000));
  worker.join();
  QWidget everything;
  MakeOutputPane(&everything, kOutputPaneId, QRect(0, 0, 100, 100), true, OutputScrollBars::Both,
                 true);
  AppendOutput(&everything, kOutputPaneId, all);
  const std::string expected = GetOutputText(&everything, kOutputPaneId);
  EXPECT_LT(expected.size(), all.size() * 2 / 3);  // both limits were passed
  EXPECT_TRUE(GetOutputText(&pane, kOutputPaneId) == expected);
}

TEST(RunToken, WakeDescriptorBecomesReadableOnCancel) {
  RunToken token;
  ASSERT_GE(token.wakeFd(), 0);
  uint64_t value = 0;
  EXPECT_LT(read(token.wakeFd(), &value, sizeof value), 0);  // nothing yet
  token.cancel();
  EXPECT_TRUE(token.cancelled());
  EXPECT_EQ(read(token.wakeFd(), &value, sizeof value), ssize_t(sizeof value));
}

TEST(UiShutdown, DropsWorkerCallsButNotUiThreadOnes) {
  SetUiShuttingDown();
  bool ran = false;
  std::thread worker([&] { EXPECT_FALSE(RunOnUiThread([&] { ran = true; })); });
  worker.join();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(RunOnUiThread([&] { ran = true; }));
  EXPECT_TRUE(ran);
  SetUiShuttingDown(false);
}

TEST(ShowError, FormatsIntoAnErrorBoxWithTheProgramCaption) {
  RecordingPresenter boxes;
  ShowError(nullptr, "Failed With Code: %d", 111);
  ASSERT_EQ(boxes.count(), 1u);
  const MessageRequest r = boxes.boxes()[0];
  EXPECT_EQ(r.caption, "Pelorin Error!");
  EXPECT_EQ(r.text, "Failed With Code: 111");
  EXPECT_EQ(r.icon, MessageIcon::Error);
  EXPECT_EQ(r.buttons, MessageButtons::Ok);
}

TEST(ShowError, AWorkerWaitsForTheBoxOnTheUiThread) {
  RecordingPresenter boxes;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    ShowError(nullptr, "%s", std::string(5000, 'e').c_str());
    returned = true;
  });
  EXPECT_TRUE(WaitUntil([&] { return returned.load(); }));
  worker.join();
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text.size(), 5000);
}

TEST(Clipboard, CopiesTextAndRefusesNone) {
  RecordingPresenter boxes;
  EXPECT_EQ(CopyTextToClipboard("127.0.0.1\t80\r\n"), 1);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "127.0.0.1\t80\r\n");
  EXPECT_EQ(boxes.count(), 0u);
  EXPECT_EQ(CopyTextToClipboard(nullptr), 0);
  EXPECT_EQ(boxes.texts(), std::vector<std::string>{"Failed To Set Clipboard Text!"});
}

TEST_F(PayloadDisplayTest, SelectorDrivesTheRendering) {
  auto* selector = new QComboBox(&pane);
  SetControlId(selector, kDisplaySelectorId);
  FillDisplaySelector(selector, 4);
  ASSERT_EQ(selector->count(), 5);
  EXPECT_EQ(selector->itemText(2), "Hex and Address");
  EXPECT_EQ(DisplayModeFromSelection(&pane, kDisplaySelectorId), kDisplayTextOnly);
  selector->setCurrentIndex(0);
  EXPECT_EQ(DisplayModeFromSelection(&pane, kDisplaySelectorId), kDisplayAllData);
  selector->setCurrentIndex(-1);
  EXPECT_EQ(DisplayModeFromSelection(&pane, kDisplaySelectorId), kDisplayTextOnly);

  const uint8_t bytes[] = {'H', 0x00, '\n', 0xFF};
  RenderPayload(&pane, kOutputPaneId, kDisplayTextOnly, bytes, sizeof bytes);
  RenderPayload(&pane, kOutputPaneId, kDisplayHexOnly, bytes, 0);
  RenderPayload(&pane, kOutputPaneId, kDisplayTextOnly, bytes, 0);
  EXPECT_EQ(GetOutputText(&pane, kOutputPaneId), "H.\n.\r\n\r\n");
}

TEST(Controls, FoundByIdAndReadThroughTheInputBuffer) {
  QWidget pane;
  auto* box = new QComboBox(&pane);
  box->setEditable(true);
  SetControlId(box, 1003);
  box->setEditText(QString(400, QLatin1Char('h')));
  EXPECT_EQ(FindControl<QComboBox>(&pane, 1003), box);
  EXPECT_EQ(FindControl<QLabel>(&pane, 1003), nullptr);
  EXPECT_EQ(ReadControlText(&pane, 1003).size(), 299u);
  // A character is never cut in half, and one that ends right at the cut stays.
  EXPECT_EQ(BoundedText(QString(200, QChar(0x00E9)), 300).size(), 298u);
  EXPECT_EQ(BoundedText("a" + QString(200, QChar(0x00E9)), 300).size(), 299u);
  EXPECT_EQ(BoundedText("ab" + QString(100, QChar(0x20AC)), 300).size(), 299u);
}

TEST(Controls, HistoryAddsNewTextsOnceIgnoringCase) {
  QComboBox box;
  box.setEditable(true);
  box.setEditText("Example.TEST");
  AddToHistory(&box);
  box.setEditText("example.test");
  AddToHistory(&box);
  box.setEditText("");
  AddToHistory(&box);
  box.setEditText("other.test");
  AddToHistory(&box);
  box.setEditText(QString(400, QLatin1Char('x')));
  AddToHistory(&box);  // as read through the input buffer
  ASSERT_EQ(box.count(), 3);
  EXPECT_EQ(box.itemText(2).size(), 299);
  EXPECT_EQ(box.itemText(0), "Example.TEST");
  EXPECT_EQ(box.itemText(1), "other.test");
}

TEST(DialogUnitsTest, MapsByTheFontsBaseUnits) {
  QFont font = DialogFont();
  const DialogUnits dlu(font);
  EXPECT_EQ(dlu.x(4), dlu.baseX());
  EXPECT_EQ(dlu.y(8), dlu.baseY());
  EXPECT_EQ(dlu.rect(0, 0, 388, 270).width(), dlu.x(388));
  QFont bigger = font;
  bigger.setPointSize(16);
  EXPECT_GT(DialogUnits(bigger).x(388), dlu.x(388));
}

TEST(Fonts, RealFontsAreInstalled) {
  // Without real fonts every glyph renders alike; narrow and wide letters must differ.
  const auto widthOf = [](const QString& text) {
    QLabel label(text);
    label.setFont(GetFixedFont());
    QLabel proportional(text);
    proportional.setFont(DialogFont());
    return std::pair{label.sizeHint().width(), proportional.grab().toImage()};
  };
  const auto [fixedI, imageI] = widthOf("iiiiiiii");
  const auto [fixedW, imageW] = widthOf("WWWWWWWW");
  EXPECT_EQ(fixedI, fixedW);  // fixed pitch
  EXPECT_NE(imageI, imageW);
  EXPECT_TRUE(QFontInfo(GetFixedFont()).fixedPitch());
}

TEST(Splash, CentredByHalfTheDesktopEdges) {
  EXPECT_EQ(SplashTopLeft(QRect(0, 0, 1024, 768), QSize(350, 200)), QPoint(337, 284));
  EXPECT_EQ(SplashTopLeft(QRect(0, 0, 1025, 767), QSize(351, 201)), QPoint(337, 283));
  // Painted with as many pixels as a screen of the scale shows it with, never enlarged.
  EXPECT_EQ(SplashPicture(1).size(), QSize(350, 200));
  const QPixmap sharp = SplashPicture(2);
  EXPECT_EQ(sharp.size(), QSize(700, 400));
  EXPECT_EQ(sharp.devicePixelRatio(), 2);
}

TEST(Icons, AnotherPaintersIconPassesAndAWrongPictureDoesNot) {
  for (int size : kIconSizes) {
    SCOPED_TRACE(size);
    const QImage icon = IconImage(size);
    // The same drawing through the painter's paths of other precisions: they blend edges
    // otherwise, as another processor or library build does.
    for (QImage::Format other :
         {QImage::Format_RGBA64_Premultiplied, QImage::Format_A2RGB30_Premultiplied,
          QImage::Format_ARGB4444_Premultiplied}) {
      EXPECT_TRUE(LooksLike(IconImage(size, other), icon)) << other;
    }
    EXPECT_FALSE(LooksLike(icon.mirrored(true, false), icon));  // the bar the other way
    EXPECT_FALSE(LooksLike(icon.rgbSwapped(), icon));           // other colours
    QImage spotted = icon;
    QPainter(&spotted).fillRect(size / 3, size / 3, size / 6, size / 6, Qt::red);
    EXPECT_FALSE(LooksLike(spotted, icon));
    if (size > 16) {
      EXPECT_FALSE(LooksLike(IconImage(size * 7 / 8).scaled(size, size), icon));
    }
    EXPECT_FALSE(LooksLike(IconImage(size / 2), icon));
  }
}
