#include "ui/colour_scheme.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

namespace lapse::ui {

namespace {

constexpr const char* kKeepsOwnColours = "lapseKeepsOwnColours";

constexpr QPalette::ColorRole kBackgroundRoles[] = {QPalette::Window, QPalette::Base,
                                                    QPalette::Button, QPalette::AlternateBase};
constexpr QPalette::ColorRole kTextRoles[] = {QPalette::WindowText, QPalette::Text,
                                              QPalette::ButtonText};

struct SchemeColours {
  QColor background;
  QColor text;
};

void SetRole(QPalette& palette, QPalette::ColorRole role, const QColor& colour) {
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, role, colour);
  }
}

bool TakeColours(QObject* control, const SchemeColours& colours) {
  auto* widget = qobject_cast<QWidget*>(control);
  if (widget == nullptr || widget->property(kKeepsOwnColours).toBool()) {
    return false;
  }
  QPalette palette = widget->palette();
  const bool isPushButton = qobject_cast<QPushButton*>(widget) != nullptr;
  for (const auto role : kBackgroundRoles) {
    SetRole(palette, role, colours.background);
  }
  if (!isPushButton) {
    for (const auto role : kTextRoles) {
      SetRole(palette, role, colours.text);
    }
    widget->setAutoFillBackground(true);
  }
  widget->setPalette(palette);
  return true;
}

// Re-applies the scheme when the application's palette changes, since the
// controls hold colours of their own that no longer follow it.
class SchemeKeeper final : public QObject {
 public:
  SchemeKeeper(QWidget& window, QWidget& clientArea,
               std::function<std::vector<QObject*>()> controls)
      : QObject(&window), clientArea_(clientArea), controls_(std::move(controls)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ApplicationPaletteChange) {
      ApplyColourScheme(clientArea_, controls_());
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget& clientArea_;
  std::function<std::vector<QObject*>()> controls_;
};

}  // namespace

void UseColourScheme(QWidget& window, QWidget& clientArea,
                     std::function<std::vector<QObject*>()> controls) {
  ApplyColourScheme(clientArea, controls());
  window.installEventFilter(new SchemeKeeper(window, clientArea, std::move(controls)));
}

void ApplyColourScheme(QWidget& clientArea, const std::vector<QObject*>& controls) {
  const QPalette application = QApplication::palette();
  const SchemeColours colours{application.color(QPalette::Base), application.color(QPalette::Text)};
  for (QObject* control : controls) {
    TakeColours(control, colours);
  }
  // Only the window's own roles: push buttons go on inheriting their text
  // colour from the application.
  QPalette palette = clientArea.palette();
  SetRole(palette, QPalette::Window, colours.background);
  SetRole(palette, QPalette::WindowText, colours.text);
  clientArea.setPalette(palette);
  clientArea.setAutoFillBackground(true);
}

void KeepOwnColours(QWidget& widget) {
  widget.setProperty(kKeepsOwnColours, true);
}

QColor EmphasisColour(Emphasis emphasis, const QPalette& palette) {
  const bool dark = palette.color(QPalette::Base).lightness() < 128;
  if (emphasis == Emphasis::Goes) {
    return dark ? QColor(0xFF, 0x8A, 0x80) : QColor(0xB0, 0x00, 0x20);
  }
  return dark ? QColor(0x8C, 0xE9, 0x9A) : QColor(0x00, 0x6E, 0x1E);
}

}  // namespace lapse::ui
