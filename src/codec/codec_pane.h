#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "shell/module_pane.h"

class FileProgress;
class FileReader;
class QPlainTextEdit;
class QRadioButton;
enum class FileReadEnd;

inline constexpr int kEncodeButtonId = 1072;
inline constexpr int kDecodeButtonId = 1073;
inline constexpr int kEncodeFileButtonId = 1074;
inline constexpr int kBase64RadioId = 1076;
inline constexpr int kMd5RadioId = 1077;

// A file's Base64 text goes into the pane whole. Larger files are refused: their text (about
// 22 million characters at the limit) would take the pane seconds and hundreds of megabytes.
inline constexpr uint64_t kEncodeFileLimit = 16 * 1024 * 1024;

// Base64 encoding and decoding of the pane's text or a file, and MD5 digests of either. One
// editable text pane holds the input and, after each command, the result. Everything runs on
// the UI thread; reading a long file serves the event loop and shows its progress.
//
// The pane's text is handled as 8-bit characters: each character is its Latin-1 byte (so all
// 256 byte values can be shown and read back) and each line break is "\r\n", the line end of
// the Base64 text itself. Text with characters beyond Latin-1 is refused.
class CodecPane : public ModulePane {
  Q_OBJECT

 public:
  explicit CodecPane(QWidget* mainWindow);

  void command(int id) override;
  void closeModule() override;

  // While a file is read (its progress may show and the event loop is served).
  bool readingFile() const { return progress_ != nullptr; }

 private:
  void EncodeText();
  void EncodeFile();
  void DecodeText();
  void HashText();
  void HashFile();

  bool base64Mode() const;
  void updateWidgets();
  // The pane's text as bytes; false when it is empty (silently) or not 8-bit (after a box).
  bool readPaneBytes(std::string& bytes);
  void showBytes(std::string_view bytes);
  bool openChosenFile(FileReader& file, QString& name);
  FileReadEnd readFile(FileReader& file, const QString& label, uint64_t limit,
                       const std::function<bool(const uint8_t*, size_t)>& consume);

  QRadioButton* base64_ = nullptr;
  QRadioButton* md5_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  FileProgress* progress_ = nullptr;  // while a file is read
  bool busy_ = false;
};

ModulePane* CreateCodecPane(QWidget* mainWindow);

// The MD5 digest of the bytes as 32 lower-case hex digits, in the module's result buffer that
// the next call overwrites; null after an error box (owned by the pane).
const char* ComputeMd5Hex(const void* bytes, size_t length);

// How a file is chosen: the open-file dialog, or what a test puts in its place. It returns the
// chosen path, or an empty text when the user cancelled. An empty chooser restores the dialog.
using OpenFileChooser = std::function<QString(QWidget* owner, const QString& title)>;
void SetOpenFileChooser(OpenFileChooser chooser);
