#include "codec/file_progress.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <algorithm>

namespace {

constexpr qint64 kServeEveryMs = 20;
constexpr int kPermille = 1000;

}  // namespace

FileProgress::FileProgress(QWidget* owner, QString label, uint64_t total)
    : owner_(owner), label_(std::move(label)), total_(total) {
  clock_.start();
}

FileProgress::~FileProgress() = default;

void FileProgress::showDialog() {
  dialog_ = std::make_unique<QProgressDialog>(label_, QStringLiteral("Cancel"), 0,
                                              total_ > 0 ? kPermille : 0, owner_);
  dialog_->setObjectName(QString::fromLatin1(kFileProgressName));
  dialog_->setWindowTitle(QStringLiteral("Pelorin"));
  dialog_->setWindowModality(Qt::WindowModal);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumDuration(0);
  QObject::connect(dialog_.get(), &QProgressDialog::canceled, [this] { cancelled_ = true; });
  dialog_->show();
}

bool FileProgress::update(uint64_t done) {
  if (cancelled_) return false;
  const qint64 now = clock_.elapsed();
  if (now - lastServed_ < kServeEveryMs) return true;
  lastServed_ = now;
  if (!dialog_ && now >= kFileProgressDelayMs) showDialog();
  if (dialog_ && total_ > 0) {
    const double share = double(std::min(done, total_)) / double(total_);
    dialog_->setValue(int(share * kPermille));
  }
  QCoreApplication::processEvents(dialog_ ? QEventLoop::AllEvents
                                          : QEventLoop::ExcludeUserInputEvents);
  return !cancelled_;
}
