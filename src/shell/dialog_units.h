#pragma once

#include <QFont>
#include <QRect>

// Layouts are given in dialog units: x = 1/4 of the dialog font's average character width,
// y = 1/8 of its height, so they keep their proportions at any DPI.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int x(int dlu) const;
  int y(int dlu) const;
  QRect rect(int x, int y, int width, int height) const;
  int baseX() const { return baseX_; }
  int baseY() const { return baseY_; }

 private:
  int baseX_;
  int baseY_;
};

// The dialog font every pane is laid out with, and its units.
QFont DialogFont();
const DialogUnits& Dlu();
