#include "ui/program_icon.h"

#include <QPainter>

namespace lapse::ui {

void DrawProgramIcon(QPainter& painter, qreal size) {
  painter.save();
  const qreal unit = size / 16.0;
  painter.scale(unit, unit);
  painter.setRenderHint(QPainter::Antialiasing, size > 16);

  // The sheet with its blue head and two binding rings.
  painter.setPen(QPen(QColor(0, 0, 128), 1.0 / unit));
  painter.setBrush(Qt::white);
  painter.drawRect(QRectF(1.5, 2.5, 13, 12.5));
  painter.fillRect(QRectF(2, 3, 12, 3), QColor(0, 0, 160));
  painter.fillRect(QRectF(4, 1, 1.5, 3), QColor(128, 128, 128));
  painter.fillRect(QRectF(10.5, 1, 1.5, 3), QColor(128, 128, 128));

  // Days as small squares; the last one is struck out in red.
  const QColor day(0, 128, 128);
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) {
      painter.fillRect(QRectF(3 + column * 2.75, 7.25 + row * 2.5, 1.75, 1.5), day);
    }
  }
  painter.setPen(QPen(QColor(220, 0, 0), 1.6, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
  painter.drawLine(QPointF(14.5, 9.5), QPointF(9.5, 14.5));
  painter.restore();
}

QPixmap ProgramPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  DrawProgramIcon(painter, size);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  icon.addPixmap(ProgramPixmap(32));
  icon.addPixmap(ProgramPixmap(16));
  return icon;
}

}  // namespace lapse::ui
