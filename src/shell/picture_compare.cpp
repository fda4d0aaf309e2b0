#include "shell/picture_compare.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace {

using Channels = std::array<int, 4>;

std::vector<Channels> Blurred(const QImage& picture) {
  const QImage p = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int w = p.width(), h = p.height();
  std::vector<Channels> out(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Channels sum{};
      for (int dy = -1; dy <= 1; ++dy) {
        const auto* line =
            reinterpret_cast<const QRgb*>(p.constScanLine(std::clamp(y + dy, 0, h - 1)));
        for (int dx = -1; dx <= 1; ++dx) {
          const QRgb c = line[std::clamp(x + dx, 0, w - 1)];
          sum[0] += qRed(c);
          sum[1] += qGreen(c);
          sum[2] += qBlue(c);
          sum[3] += qAlpha(c);
        }
      }
      for (int& channel : sum) channel /= 9;
      out[size_t(y) * size_t(w) + size_t(x)] = sum;
    }
  }
  return out;
}

}  // namespace

int PictureDifference(const QImage& picture, const QImage& reference) {
  if (picture.isNull() || picture.size() != reference.size()) return -1;
  const std::vector<Channels> a = Blurred(picture), b = Blurred(reference);
  int largest = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (size_t c = 0; c < 4; ++c) largest = std::max(largest, std::abs(a[i][c] - b[i][c]));
  }
  return largest;
}
