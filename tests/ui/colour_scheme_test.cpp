#include "ui/colour_scheme.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cstdlib>

namespace lapse::ui {

class ColourSchemeTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 224));
    palette.setColor(QPalette::Text, QColor(0, 0, 128));
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::WindowText, QColor(64, 0, 0));
    palette.setColor(QPalette::ButtonText, QColor(0, 96, 0));
    QApplication::setPalette(palette);
  }

  void everyControlInOrderTakesTheWindowColours() {
    QWidget window;
    auto* label = new QLabel("label", &window);
    auto* box = new QLineEdit(&window);
    auto* check = new QCheckBox("check", &window);
    auto* button = new QPushButton("button", &window);
    ApplyColourScheme(window, {label, box, check, button});

    const QColor base = QApplication::palette().color(QPalette::Base);
    const QColor text = QApplication::palette().color(QPalette::Text);
    for (QWidget* control : std::initializer_list<QWidget*>{label, box, check, &window}) {
      QCOMPARE(control->palette().color(QPalette::Window), base);
      QCOMPARE(control->palette().color(QPalette::WindowText), text);
    }
    QCOMPARE(box->palette().color(QPalette::Base), base);
    QCOMPARE(box->palette().color(QPalette::Text), text);
    QVERIFY(label->autoFillBackground());
    QVERIFY(window.autoFillBackground());
    // Push buttons take the background and keep their own text colour.
    QCOMPARE(button->palette().color(QPalette::Button), base);
    QCOMPARE(button->palette().color(QPalette::ButtonText),
             QApplication::palette().color(QPalette::ButtonText));
  }

  void aControlThatTakesNoColourDoesNotStopTheLoop() {
    QWidget window;
    QAction menuItem("item");
    auto* picture = new QLabel(&window);
    KeepOwnColours(*picture);
    auto* after = new QLabel("after", &window);
    ApplyColourScheme(window, {&menuItem, picture, nullptr, after});
    QVERIFY(!picture->testAttribute(Qt::WA_SetPalette));
    QVERIFY(!picture->autoFillBackground());
    QCOMPARE(after->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));
  }

  void theWindowsOwnColoursDoNotReachItsPushButtonsText() {
    QWidget window;
    auto* button = new QPushButton("button", &window);
    ApplyColourScheme(window, {});
    QCOMPARE(window.palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));
    QCOMPARE(button->palette().color(QPalette::ButtonText),
             QApplication::palette().color(QPalette::ButtonText));
  }

  void emphasisReadsOnLightAndDarkSchemes() {
    // Each colour stands well apart from the background in lightness, red
    // stays red and green stays green.
    for (const QColor& base :
         {QColor(Qt::white), QColor(255, 255, 224), QColor(30, 30, 30), QColor(Qt::black)}) {
      QPalette palette;
      palette.setColor(QPalette::Base, base);
      const QColor goes = EmphasisColour(Emphasis::Goes, palette);
      const QColor appears = EmphasisColour(Emphasis::Appears, palette);
      for (const QColor& colour : {goes, appears}) {
        QVERIFY2(std::abs(colour.lightness() - base.lightness()) > 80,
                 qPrintable(base.name() + " " + colour.name()));
      }
      QVERIFY(goes.red() > goes.green() && goes.red() > goes.blue());
      QVERIFY(appears.green() > appears.red() && appears.green() > appears.blue());
    }
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::ColourSchemeTest)
#include "colour_scheme_test.moc"
