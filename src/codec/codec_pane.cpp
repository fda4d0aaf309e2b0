#include "codec/codec_pane.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTextDocument>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "codec/base64_text.h"
#include "codec/crypto.h"
#include "codec/file_progress.h"
#include "codec/file_reader.h"
#include "shell/controls.h"
#include "shell/message_presenter.h"
#include "shell/output.h"

namespace {

constexpr const char* kFileDialogTitle = "Open File To Base64 Encode :";
constexpr const char* kNothingToDo = "Nothing to do!";
constexpr const char* kTooLarge = "File Too Large To Encode (Limit 16 MiB)!";
constexpr const char* kNot8Bit = "Text Contains Characters Outside Latin-1!";

QPointer<QWidget> g_pane;  // owner of the module's message boxes
char g_md5Text[33];        // the last digest text

OpenFileChooser& Chooser() {
  static OpenFileChooser chooser;
  return chooser;
}

QString ChooseFile(QWidget* owner, const QString& title) {
  if (Chooser()) return Chooser()(owner, title);
  return QFileDialog::getOpenFileName(owner, title, QString(), QStringLiteral("All Files (*)"));
}

const char* Md5FailureText(Md5Failure failure) {
  switch (failure) {
    case Md5Failure::Context:
      return "Failed To Aquire Cryptographic Context!";
    case Md5Failure::CreateHash:
      return "Failed To Create Hash Object!";
    case Md5Failure::HashData:
      return "Failed To Hash Data!";
    case Md5Failure::HashValue:
    case Md5Failure::None:
      break;
  }
  return "Failed To Get Hash Value!";
}

// The digest text of a finished hash, or null after the box of the step that failed.
const char* FinishMd5(Md5Hasher& hasher) {
  Md5Digest digest{};
  if (!hasher.finish(digest)) {
    ShowError(g_pane.data(), "%s", Md5FailureText(hasher.failure()));
    return nullptr;
  }
  std::memset(g_md5Text, 0, sizeof g_md5Text);
  FormatMd5Hex(digest, g_md5Text);
  return g_md5Text;
}

// Each character is its Latin-1 byte; a line break (between blocks, or typed with Shift+Enter
// inside one) is "\r\n". False at the first character that has no such byte.
bool PaneTextToBytes(const QString& raw, std::string& bytes) {
  bytes.clear();
  bytes.reserve(size_t(raw.size()) + size_t(raw.size()) / 32);
  for (const QChar c : raw) {
    const char16_t u = c.unicode();
    if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator) {
      bytes += "\r\n";
    } else if (u <= 0xFF) {
      bytes.push_back(char(u));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

CodecPane::CodecPane(QWidget* mainWindow) : ModulePane(mainWindow) {
  g_pane = this;

  base64_ = new QRadioButton(QStringLiteral("Base64"), this);
  SetControlId(base64_, kBase64RadioId);
  place(base64_, 7, 7, 46, 10);
  md5_ = new QRadioButton(QStringLiteral("MD5"), this);
  SetControlId(md5_, kMd5RadioId);
  place(md5_, 7, 20, 50, 10);

  const auto addButton = [this](const char* label, int id, int x) {
    auto* button = new QPushButton(QString::fromLatin1(label), this);
    SetControlId(button, id);
    place(button, x, 7, 98, 21);
    connect(button, &QPushButton::clicked, this, [this, id] { command(id); });
  };
  addButton("Encode", kEncodeButtonId, 67);
  addButton("Encode File...", kEncodeFileButtonId, 170);
  addButton("Base64 Decode", kDecodeButtonId, 283);

  text_ = MakeOutputPane(this, kOutputPaneId, QRect(7, 40, 374, 223), false, OutputScrollBars::Both,
                         true);

  base64_->setChecked(true);
  connect(base64_, &QRadioButton::clicked, this, [this] { command(kBase64RadioId); });
  connect(md5_, &QRadioButton::clicked, this, [this] { command(kMd5RadioId); });
  // Arrow keys move the check within the group too.
  connect(base64_, &QRadioButton::toggled, this, [this] { updateWidgets(); });
  updateWidgets();
}

void CodecPane::command(int id) {
  // While a file is read the event loop is served; no second command starts meanwhile.
  if (busy_) return;
  busy_ = true;
  try {
    switch (id) {
      case kEncodeButtonId:
        base64Mode() ? EncodeText() : HashText();
        break;
      case kEncodeFileButtonId:
        base64Mode() ? EncodeFile() : HashFile();
        break;
      case kDecodeButtonId:
        DecodeText();
        break;
      case kBase64RadioId:
      case kMd5RadioId:
        updateWidgets();
        break;
      default:
        break;  // no command 1: Enter does nothing here
    }
  } catch (const std::bad_alloc&) {
    ShowError(this, "Memory Allocation Error!");
  }
  busy_ = false;
}

void CodecPane::closeModule() {
  if (progress_ != nullptr) progress_->cancel();
}

bool CodecPane::base64Mode() const {
  return base64_->isChecked();
}

void CodecPane::updateWidgets() {
  EnableControl(this, kDecodeButtonId, base64Mode());
}

bool CodecPane::readPaneBytes(std::string& bytes) {
  if (text_->document()->isEmpty()) return false;
  if (!PaneTextToBytes(text_->document()->toRawText(), bytes)) {
    ShowError(this, "%s", kNot8Bit);
    return false;
  }
  return true;
}

void CodecPane::showBytes(std::string_view bytes) {
  text_->setPlainText(QString::fromLatin1(bytes.data(), qsizetype(bytes.size())));
}

void CodecPane::EncodeText() {
  std::string bytes;
  if (!readPaneBytes(bytes)) return;
  Base64Encoder encoder;
  encoder.reserve(Base64TextSize(bytes.size()));
  encoder.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  encoder.finish();
  if (encoder.text().empty()) {
    ShowError(this, "%s", kNothingToDo);
    return;
  }
  showBytes(encoder.text());
}

void CodecPane::DecodeText() {
  std::string text;
  if (!readPaneBytes(text)) return;
  const std::optional<std::string> clean = CleanBase64Text(text);
  std::vector<uint8_t> bytes;
  if (!clean || !Base64Decode(*clean, bytes) || bytes.empty()) {
    ShowError(this, "%s", kNothingToDo);
    return;
  }
  // Shown as text: up to the first zero byte.
  const auto end = std::find(bytes.begin(), bytes.end(), uint8_t(0));
  showBytes(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), size_t(end - bytes.begin())));
}

void CodecPane::HashText() {
  std::string bytes;
  if (!readPaneBytes(bytes)) return;
  if (const char* digest = ComputeMd5Hex(bytes.data(), bytes.size())) showBytes(digest);
}

bool CodecPane::openChosenFile(FileReader& file, QString& name) {
  const QString path = ChooseFile(this, QString::fromLatin1(kFileDialogTitle));
  if (path.isEmpty()) return false;
  if (!file.open(QFile::encodeName(path).toStdString())) {
    ShowError(this, "Failed To Open File!");
    return false;
  }
  name = QFileInfo(path).fileName();
  return true;
}

FileReadEnd CodecPane::readFile(FileReader& file, const QString& label, uint64_t limit,
                                const std::function<bool(const uint8_t*, size_t)>& consume) {
  FileProgress progress(this, label, file.sized() ? file.size() : 0);
  progress_ = &progress;
  // Forgotten on every way out, an exception too: closeModule would write through it.
  const auto forget = qScopeGuard([this] { progress_ = nullptr; });
  return ReadFileChunks(file, limit, consume, [&](uint64_t done) { return progress.update(done); });
}

void CodecPane::EncodeFile() {
  FileReader file;
  QString name;
  if (!openChosenFile(file, name)) return;
  if (file.sized() && file.size() > kEncodeFileLimit) {
    ShowError(this, "%s", kTooLarge);
    return;
  }
  Base64Encoder encoder;
  if (file.sized()) encoder.reserve(Base64TextSize(file.size()));
  const FileReadEnd end = readFile(file, QStringLiteral("Encoding %1...").arg(name),
                                   kEncodeFileLimit, [&](const uint8_t* data, size_t size) {
                                     encoder.update(data, size);
                                     return true;
                                   });
  if (end == FileReadEnd::TooLarge) ShowError(this, "%s", kTooLarge);
  if (end != FileReadEnd::Complete) return;  // a short read is silent; the pane keeps its text
  encoder.finish();
  if (encoder.text().empty()) {
    ShowError(this, "%s", kNothingToDo);
    return;
  }
  showBytes(encoder.text());
}

void CodecPane::HashFile() {
  FileReader file;
  QString name;
  if (!openChosenFile(file, name)) return;
  Md5Hasher hasher;
  if (hasher.failure() == Md5Failure::None) {
    const FileReadEnd end =
        readFile(file, QStringLiteral("Hashing %1...").arg(name), kNoFileLimit,
                 [&](const uint8_t* data, size_t size) { return hasher.update(data, size); });
    if (hasher.failure() == Md5Failure::None && end != FileReadEnd::Complete) return;
  }
  if (const char* digest = FinishMd5(hasher)) showBytes(digest);
}

ModulePane* CreateCodecPane(QWidget* mainWindow) {
  return new CodecPane(mainWindow);
}

const char* ComputeMd5Hex(const void* bytes, size_t length) {
  Md5Hasher hasher;
  hasher.update(bytes, length);
  return FinishMd5(hasher);
}

void SetOpenFileChooser(OpenFileChooser chooser) {
  Chooser() = std::move(chooser);
}
