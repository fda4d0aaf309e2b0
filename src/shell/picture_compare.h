#pragma once

#include <QImage>

// Pictures are compared as a person sees them, not byte for byte: painters on other processors
// and library builds blend anti-aliased edges a little differently. Both pictures are blurred
// by a 3 x 3 mean (premultiplied, so a transparent pixel weighs nothing whatever its colour)
// before their channels are compared: a difference confined to single pixels shrinks to a
// ninth, at most 28 of 255, while a changed colour, a moved or a missing part keeps its size.

// Above the largest blurred trace of a difference confined to single pixels (255 / 9).
inline constexpr int kPictureTolerance = 32;

// The largest difference of one channel of the blurred pictures, 0 to 255; -1 when their sizes
// differ or one is empty.
int PictureDifference(const QImage& picture, const QImage& reference);

// Whether `picture` is `reference` as another painter may paint it.
inline bool LooksLike(const QImage& picture, const QImage& reference) {
  const int difference = PictureDifference(picture, reference);
  return difference >= 0 && difference <= kPictureTolerance;
}
