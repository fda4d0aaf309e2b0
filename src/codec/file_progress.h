#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <memory>

class QProgressDialog;
class QWidget;

// The progress of reading a file on the UI thread. Nothing shows for a file that is done in a
// moment; after that a window-modal progress dialog with "Cancel" appears. Between pieces the
// event loop is served (user input only once the dialog is up, so no other command of the
// pane can start meanwhile).
class FileProgress {
 public:
  // `total` in bytes; 0 when unknown (a pipe or device), shown as a busy bar.
  FileProgress(QWidget* owner, QString label, uint64_t total);
  ~FileProgress();
  FileProgress(const FileProgress&) = delete;
  FileProgress& operator=(const FileProgress&) = delete;

  // Reports the bytes done so far; false once the user has cancelled.
  bool update(uint64_t done);
  // Ends the work as if the user had cancelled (the module closes).
  void cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

 private:
  void showDialog();

  QWidget* owner_;
  QString label_;
  uint64_t total_;
  QElapsedTimer clock_;
  qint64 lastServed_ = 0;
  std::unique_ptr<QProgressDialog> dialog_;
  bool cancelled_ = false;
};

// How long work may run before its progress dialog appears.
inline constexpr int kFileProgressDelayMs = 500;
inline constexpr const char* kFileProgressName = "fileProgress";  // the dialog's objectName
