#pragma once

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTextDocument>
#include <QWidget>
#include <memory>
#include <string>

#include "codec/codec_pane.h"
#include "recording_presenter.h"
#include "shell/controls.h"
#include "shell/output.h"
#include "test_util.h"

// A Base64 / MD5 pane in a stand-in main window, with message boxes recorded.
struct CodecPaneFixture : ::testing::Test {
  QWidget main;
  ModulePane* pane = CreateCodecPane(&main);
  QPlainTextEdit* edit = FindControl<QPlainTextEdit>(pane, kOutputPaneId);
  RecordingPresenter boxes;

  void SetUp() override { main.show(); }
  void TearDown() override { SetOpenFileChooser({}); }

  void setText(const QString& text) { edit->setPlainText(text); }
  // The pane's text with "\r\n" line ends (UTF-8), as the shell reads it.
  std::string text() const { return GetOutputText(pane, kOutputPaneId); }
  void click(int id) { ClickControl(pane, id); }
  void md5Mode() { click(kMd5RadioId); }
};
