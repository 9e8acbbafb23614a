// The program's icon: a calendar sheet whose last day is struck out.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace lapse::ui {

// The icon at 32 x 32 and 16 x 16.
QIcon ProgramIcon();
QPixmap ProgramPixmap(int size);

}  // namespace lapse::ui
