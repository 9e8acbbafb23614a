// Gives windows and their controls the look of a document: the user's
// window-background and window-text colours instead of the dialog face.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

class QColor;
class QPalette;
class QWidget;

namespace lapse::ui {

// Visits controls in the window's control order and gives each the
// background and text colours of the application's Base and Text roles; then
// gives them to clientArea itself. A control that takes no colour (a menu
// item, a picture) is passed over and the rest still get theirs. Push buttons
// keep their own text colour.
void ApplyColourScheme(QWidget& clientArea, const std::vector<QObject*>& controls);

// Applies the scheme to clientArea and its controls now, and again whenever
// the user's colours change while window is open.
void UseColourScheme(QWidget& window, QWidget& clientArea,
                     std::function<std::vector<QObject*>()> controls);

// The colours of text that stands out from the scheme's: lines that go (and
// faults) in red, lines that appear in green, each dark on a light
// background and light on a dark one, so that it reads on either.
enum class Emphasis { Goes, Appears };
QColor EmphasisColour(Emphasis emphasis, const QPalette& palette);

// Marks a widget that keeps its own look, like a picture.
void KeepOwnColours(QWidget& widget);

}  // namespace lapse::ui
