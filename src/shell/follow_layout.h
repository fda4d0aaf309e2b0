#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

// How a control follows its container when the container grows past its described size: each
// edge moves by its share of the growth, from 0 (stays where the layout puts it) to 1 (keeps its
// distance to the container's right or bottom edge).
struct Follow {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

inline constexpr Follow kStay{};
inline constexpr Follow kGrowWidth{0, 0, 1, 0};
inline constexpr Follow kGrowBoth{0, 0, 1, 1};
inline constexpr Follow kMoveRight{1, 0, 1, 0};
// For a row where several boxes grow: the left edge moves by `from` of the growth in width, the
// right edge by `to`.
constexpr Follow Across(double from, double to) {
  return {from, 0, to, 0};
}

// Keeps the controls placed in a container where its growth takes them. A control may later be
// moved into a group box inside the container: its place is still reckoned in the container.
class FollowLayout : public QObject {
 public:
  // `described`: the container's size as the layout describes it, in pixels.
  FollowLayout(QWidget* container, QSize described);

  // Puts `control` at `spot` (container pixels at the described size) and keeps it following.
  void add(QWidget* control, const QRect& spot, Follow follow);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Item {
    QPointer<QWidget> control;
    QRect spot;
    Follow follow;
  };
  void apply(const Item& item) const;

  QWidget* container_;
  QSize described_;
  std::vector<Item> items_;
};
