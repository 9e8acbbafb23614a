#include "ui/focus_style.h"

#include <QPainter>
#include <QStyleOption>

namespace lapse::ui {

namespace {

void DrawDottedFrame(QPainter& painter, const QRect& rect, const QColor& colour) {
  painter.save();
  QPen pen(colour);
  pen.setStyle(Qt::DotLine);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
  painter.restore();
}

}  // namespace

void FocusStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
  if (element != PE_FrameFocusRect) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  // On a selected item the frame takes the colour of the item's text.
  const bool selected = (option->state & State_Selected) != 0;
  DrawDottedFrame(*painter, option->rect,
                  option->palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
}

void FocusStyle::drawControl(ControlElement element, const QStyleOption* option,
                             QPainter* painter, const QWidget* widget) const {
  QProxyStyle::drawControl(element, option, painter, widget);
  if (element == CE_PushButton && (option->state & State_HasFocus) != 0) {
    constexpr int kInset = 4;
    DrawDottedFrame(*painter, option->rect.adjusted(kInset, kInset, -kInset, -kInset),
                    option->palette.color(QPalette::ButtonText));
  }
}

}  // namespace lapse::ui
