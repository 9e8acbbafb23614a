// The program's icon: a calendar sheet whose last day is struck out.
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace lapse::ui {

// The icon at 32 x 32 and 16 x 16.
QIcon ProgramIcon();
QPixmap ProgramPixmap(int size);
// The one drawing of the icon, in a square of size: for the windows, and for
// the files the desktop and Windows show (lapse-icons).
void DrawProgramIcon(QPainter& painter, qreal size);

}  // namespace lapse::ui
