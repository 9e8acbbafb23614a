// Window layouts are designed in twips: 1440 to the inch, 15 to the pixel at
// 96 dpi. Qt scales device-independent pixels on screens of higher density.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace lapse::ui {

constexpr int FromTwips(int twips) {
  return twips / 15;
}

constexpr QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(FromTwips(left), FromTwips(top), FromTwips(width), FromTwips(height));
}

constexpr QSize TwipsSize(int width, int height) {
  return QSize(FromTwips(width), FromTwips(height));
}

constexpr QPoint TwipsPoint(int left, int top) {
  return QPoint(FromTwips(left), FromTwips(top));
}

}  // namespace lapse::ui
