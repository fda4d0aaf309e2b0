#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstring>

#include "codec/crypto.h"
#include "codec_test_util.h"
#include "shell/desktop_launch.h"
#include "shell/main_window.h"
#include "shell/module_table.h"
#include "shell/ui_thread.h"

namespace {

using CodecPaneTest = CodecPaneFixture;

std::string Base64Of(std::string_view bytes) {
  Base64Encoder encoder;
  encoder.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  encoder.finish();
  return std::string(encoder.text());
}

}  // namespace

TEST_F(CodecPaneTest, StartsInBase64ModeAndGreysDecodeInMd5Mode) {
  auto* base64 = FindControl<QRadioButton>(pane, kBase64RadioId);
  auto* md5 = FindControl<QRadioButton>(pane, kMd5RadioId);
  auto* decode = FindControl<QPushButton>(pane, kDecodeButtonId);
  ASSERT_TRUE(base64 && md5 && decode && edit);
  EXPECT_EQ(base64->text(), "Base64");
  EXPECT_EQ(md5->text(), "MD5");
  EXPECT_EQ(FindControl<QPushButton>(pane, kEncodeButtonId)->text(), "Encode");
  EXPECT_EQ(FindControl<QPushButton>(pane, kEncodeFileButtonId)->text(), "Encode File...");
  EXPECT_EQ(decode->text(), "Base64 Decode");
  EXPECT_FALSE(edit->isReadOnly());
  EXPECT_TRUE(edit->font().fixedPitch());
  EXPECT_TRUE(base64->isChecked());
  EXPECT_TRUE(decode->isEnabled());

  md5Mode();
  EXPECT_TRUE(md5->isChecked());
  EXPECT_FALSE(decode->isEnabled());
  // Keyboard moves within the group act the same.
  base64->setChecked(true);
  EXPECT_TRUE(decode->isEnabled());
}

TEST_F(CodecPaneTest, EncodesTextAndDecodesItBack) {
  setText("abc");
  click(kEncodeButtonId);
  EXPECT_EQ(text(), "YWJj\r\n");
  click(kDecodeButtonId);
  EXPECT_EQ(text(), "abc");

  setText("Zm9v\r\nYmFy");  // lines and no padding: still Base64
  click(kDecodeButtonId);
  EXPECT_EQ(text(), "foobar");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecPaneTest, EveryLatin1CharacterRoundTrips) {
  QString all;
  for (int i = 1; i < 256; ++i) all += QChar(i);
  setText(all);
  const QString shown = edit->document()->toRawText();

  click(kEncodeButtonId);
  // The bytes encoded: each character its Latin-1 byte, CR and LF each a line break, "\r\n".
  std::string expected;
  for (int i = 1; i < 256; ++i) {
    if (i == '\r' || i == '\n') {
      expected += "\r\n";
    } else {
      expected.push_back(char(i));
    }
  }
  EXPECT_EQ(text(), Base64Of(expected));

  click(kDecodeButtonId);
  EXPECT_EQ(edit->document()->toRawText(), shown);  // the no-break space stays what it was
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecPaneTest, TypedLineBreaksAreCrLf) {
  edit->setFocus();
  QTest::keyClicks(edit, "a");
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::keyClicks(edit, "b");
  QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);  // a break inside the paragraph
  QTest::keyClicks(edit, "c");
  click(kEncodeButtonId);
  EXPECT_EQ(text(), Base64Of("a\r\nb\r\nc"));
}

TEST_F(CodecPaneTest, DecodedTextEndsAtTheFirstZeroByte) {
  setText(QString::fromLatin1(Base64Of(std::string("ab\0cd", 5)).c_str()));
  click(kDecodeButtonId);
  EXPECT_EQ(text(), "ab");
  setText("AGFi");  // "\0ab": nothing before the zero
  click(kDecodeButtonId);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecPaneTest, TextThatIsNotBase64IsNothingToDo) {
  for (const char* bad : {"YWJj!", "YWJjZ", "  \r\n"}) {
    setText(bad);
    click(kDecodeButtonId);
    EXPECT_EQ(text(), bad);  // unchanged
  }
  EXPECT_EQ(boxes.texts(), std::vector<std::string>(3, "Nothing to do!"));
  EXPECT_EQ(boxes.boxes()[0].caption, "Pelorin Error!");
  EXPECT_EQ(boxes.boxes()[0].owner, pane);
}

TEST_F(CodecPaneTest, Md5OfText) {
  md5Mode();
  setText("abc");
  click(kEncodeButtonId);
  EXPECT_EQ(text(), "900150983cd24fb0d6963f7d28e17f72");
  // Greyed: a click does not decode.
  setText("YWJj");
  click(kDecodeButtonId);
  EXPECT_EQ(text(), "YWJj");
  // Back in Base64 mode decoding works again.
  click(kBase64RadioId);
  click(kDecodeButtonId);
  EXPECT_EQ(text(), "abc");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecPaneTest, Md5OfLatin1TextHashesItsBytes) {
  md5Mode();
  setText(QString::fromLatin1("caf\xE9"));
  click(kEncodeButtonId);
  EXPECT_EQ(text(), "961f50f6282239d09e48f812c1ca7276");  // MD5 of 63 61 66 e9
}

TEST_F(CodecPaneTest, EmptyPaneDoesNothing) {
  click(kEncodeButtonId);
  click(kDecodeButtonId);
  md5Mode();
  click(kEncodeButtonId);
  pane->command(1);  // the Enter key's command: none here
  EXPECT_EQ(text(), "");
  EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(CodecPaneTest, TextBeyondLatin1IsRefused) {
  const QString typed = QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8 \xE2\x82\xAC");
  for (int mode : {kBase64RadioId, kMd5RadioId}) {
    click(mode);
    setText(typed);
    click(kEncodeButtonId);
    EXPECT_EQ(edit->toPlainText(), typed);
  }
  click(kBase64RadioId);
  click(kDecodeButtonId);
  EXPECT_EQ(boxes.texts(),
            std::vector<std::string>(3, "Text Contains Characters Outside Latin-1!"));
}

TEST_F(CodecPaneTest, ComputeMd5HexGivesLowerCaseDigits) {
  const char* digest = ComputeMd5Hex("abc", 3);
  ASSERT_NE(digest, nullptr);
  EXPECT_STREQ(digest, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_STREQ(ComputeMd5Hex("", 0), "d41d8cd98f00b204e9800998ecf8427e");
}

// The pane inside the real main window.
class CodecInMainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUiShuttingDown(false);
    window_ = std::make_unique<MainWindow>();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    window_->ShowModule(kCodecButton);
    pane_ = window_->pane(kCodecButton);
    LaunchHooks hooks;
    hooks.openPage = [this](const QString& url) { pages_.push_back(url.toStdString()); };
    hooks.runProgram = [](DesktopProgram) {};
    SetLaunchHooks(hooks);
  }
  void TearDown() override {
    SetLaunchHooks({});
    SetOpenFileChooser({});
    window_.reset();
  }

  std::unique_ptr<MainWindow> window_;
  ModulePane* pane_ = nullptr;
  std::vector<std::string> pages_;
  RecordingPresenter boxes_;
};

TEST_F(CodecInMainWindowTest, EnterInsertsALineBreakAndRunsNothing) {
  auto* edit = FindControl<QPlainTextEdit>(pane_, kOutputPaneId);
  ASSERT_NE(edit, nullptr);
  edit->setFocus();
  QTest::keyClicks(edit, "abc");
  QTest::keyClick(edit, Qt::Key_Return);
  ServeEvents(20);  // the main window posts command 1, when it takes the key
  EXPECT_EQ(GetOutputText(pane_, kOutputPaneId), "abc\r\n");
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(CodecInMainWindowTest, MouseClickOnEncodeFileOpensTheFileDialogNotAWebPage) {
  int chosen = 0;
  SetOpenFileChooser([&](QWidget*, const QString&) {
    ++chosen;
    return QString();
  });
  auto* button = FindControl<QPushButton>(pane_, kEncodeFileButtonId);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(chosen, 1);
  EXPECT_TRUE(pages_.empty());
}
