#include "shell/dialog_units.h"

#include <QFontMetrics>

namespace {

// Rounded a * b / c, as the platform's dialog-unit conversion does.
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int width = metrics.horizontalAdvance(letters);
  baseX_ = std::max(1, (width / 26 + 1) / 2);
  baseY_ = std::max(1, metrics.height());
}

int DialogUnits::x(int dlu) const {
  return MulDiv(dlu, baseX_, 4);
}
int DialogUnits::y(int dlu) const {
  return MulDiv(dlu, baseY_, 8);
}

QRect DialogUnits::rect(int x, int y, int width, int height) const {
  return QRect(this->x(x), this->y(y), this->x(width), this->y(height));
}

QFont DialogFont() {
  // The metric twin of the classic dialog face; fontconfig substitutes when it is missing.
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPointSize(8);
  return font;
}

const DialogUnits& Dlu() {
  static const DialogUnits units(DialogFont());
  return units;
}
