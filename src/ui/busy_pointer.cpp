#include "ui/busy_pointer.h"

#include <QApplication>

namespace lapse::ui {

void BusyPointer::Show() {
  if (!shown_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    shown_ = true;
  }
}

void BusyPointer::Restore() {
  if (shown_) {
    QApplication::restoreOverrideCursor();
    shown_ = false;
  }
}

}  // namespace lapse::ui
