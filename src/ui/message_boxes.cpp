#include "ui/message_boxes.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

#include "state/settings.h"

namespace lapse::ui {

namespace {

// The window a box belongs over: the active one, or, where no window manager
// makes any active, the main window.
QWidget* Owner() {
  if (QWidget* active = QApplication::activeWindow()) {
    return active;
  }
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && qobject_cast<QMainWindow*>(window) != nullptr) {
      return window;
    }
  }
  return nullptr;
}

int Show(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
         QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon,
                  QString::fromUtf8(state::kApplicationName.data(),
                                    static_cast<qsizetype>(state::kApplicationName.size())),
                  text, buttons, Owner());
  box.setObjectName(QStringLiteral("messageBox"));
  box.setDefaultButton(defaultButton);
  return box.exec();
}

}  // namespace

bool QtMessageBoxes::AskYesNo(const QString& text) {
  return Show(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
         QMessageBox::Yes;
}

void QtMessageBoxes::Tell(const QString& text) {
  Show(QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtMessageBoxes::Warn(const QString& text) {
  Show(QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

}  // namespace lapse::ui
