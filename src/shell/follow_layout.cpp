#include "shell/follow_layout.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>

FollowLayout::FollowLayout(QWidget* container, QSize described)
    : QObject(container), container_(container), described_(described) {
  container->installEventFilter(this);
}

void FollowLayout::add(QWidget* control, const QRect& spot, Follow follow) {
  items_.push_back({control, spot, follow});
  apply(items_.back());
}

void FollowLayout::apply(const Item& item) const {
  QWidget* control = item.control;
  if (control == nullptr || !container_->isAncestorOf(control)) return;
  // Never smaller than described: a container squeezed below its size cuts off, it does not
  // crush its controls.
  const int dx = std::max(0, container_->width() - described_.width());
  const int dy = std::max(0, container_->height() - described_.height());
  const auto share = [](double part, int growth) { return int(std::lround(part * growth)); };
  const Follow& f = item.follow;
  QRect r = item.spot;
  r.setCoords(r.left() + share(f.left, dx), r.top() + share(f.top, dy),
              r.right() + share(f.right, dx), r.bottom() + share(f.bottom, dy));
  QWidget* parent = control->parentWidget();
  if (parent != nullptr && parent != container_) r.translate(-parent->mapTo(container_, QPoint()));
  control->setGeometry(r);
}

bool FollowLayout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == container_ && event->type() == QEvent::Resize) {
    // The controls lying in the container first: the group boxes others were moved into.
    for (const Item& item : items_) {
      if (item.control && item.control->parentWidget() == container_) apply(item);
    }
    for (const Item& item : items_) {
      if (item.control && item.control->parentWidget() != container_) apply(item);
    }
  }
  return false;
}
