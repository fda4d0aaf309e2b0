#include "shell/output_text_size.h"

#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <iterator>
#include <vector>

namespace {

// The steps of Ctrl+Plus and Ctrl+Minus: one point at a time near the described size, larger
// steps for the sizes of a large or distant screen.
constexpr int kSizes[] = {6, 7, 8, 9, 10, 11, 12, 14, 16, 18, 20, 24, 28, 32};

struct Follower {
  QPointer<QWidget> control;
  std::function<void()> changed;
};

int g_size = kDescribedTextSize;
std::vector<Follower> g_followers;

void Resize(const Follower& f) {
  QFont font = f.control->font();
  if (font.pointSize() == g_size) return;
  font.setPointSize(g_size);
  f.control->setFont(font);
  if (f.changed) f.changed();
}

}  // namespace

int OutputTextSize() {
  return g_size;
}

bool SetOutputTextSize(int points) {
  if (std::find(std::begin(kSizes), std::end(kSizes), points) == std::end(kSizes)) return false;
  g_size = points;
  std::erase_if(g_followers, [](const Follower& f) { return f.control.isNull(); });
  for (const Follower& f : std::vector<Follower>(g_followers)) {
    if (f.control) Resize(f);
  }
  return true;
}

int LargerTextSize(int points) {
  const int* next = std::upper_bound(std::begin(kSizes), std::end(kSizes), points);
  return next == std::end(kSizes) ? kSizes[std::size(kSizes) - 1] : *next;
}

int SmallerTextSize(int points) {
  const int* at = std::lower_bound(std::begin(kSizes), std::end(kSizes), points);
  return at == std::begin(kSizes) ? kSizes[0] : *(at - 1);
}

void FollowOutputTextSize(QWidget* control, std::function<void()> changed) {
  std::erase_if(g_followers, [](const Follower& f) { return f.control.isNull(); });
  g_followers.push_back({control, std::move(changed)});
  Resize(g_followers.back());
}
