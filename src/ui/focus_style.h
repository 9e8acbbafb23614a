// The program's style: the platform's, with the focus always shown.
#pragma once

#include <QProxyStyle>

namespace lapse::ui {

// Windows users look for a dotted frame on the control with the focus, on
// push buttons and on the current item of a list, whether the focus came
// by a key or not; some styles draw none, or one in the colour of the
// highlight it lies on.
class FocusStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override;
};

}  // namespace lapse::ui
