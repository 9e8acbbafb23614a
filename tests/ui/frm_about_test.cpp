#include "ui/frm_about.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "ui_fakes.h"

namespace lapse::ui {

using testing::HelpCall;

class FrmAboutTest : public QObject {
  Q_OBJECT

 private:
  testing::RecordingHelp help_;
  std::unique_ptr<frmAbout> box_;

  void Show() {
    box_->show();
    QApplication::setActiveWindow(box_.get());
    QVERIFY(QTest::qWaitForWindowActive(box_.get()));
  }

 private slots:
  void init() {
    help_.calls.clear();
    box_ = std::make_unique<frmAbout>(help_, nullptr);
  }
  void cleanup() { box_.reset(); }

  void showsIconNameAndVersion() {
    QCOMPARE(box_->windowTitle(), QStringLiteral("About Lapse"));
    QCOMPARE(box_->findChild<QLabel*>("Label1")->text(), QStringLiteral("Lapse Version 1.4"));
    const QPixmap icon = box_->findChild<QLabel*>("imgAbout")->pixmap();
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(box_->findChild<QPushButton*>("cmdOK")->isDefault());
  }

  void enterClosesAndEscapeDoesNot() {
    Show();
    QCOMPARE(box_->focusWidget(), box_->findChild<QPushButton*>("cmdOK"));
    QTest::keyClick(box_.get(), Qt::Key_Escape);
    QVERIFY(box_->isVisible());
    QTest::keyClick(box_.get(), Qt::Key_Return);
    QVERIFY(!box_->isVisible());
  }

  void f1ShowsTopic24() {
    Show();
    QTest::keyClick(box_->findChild<QPushButton*>("cmdOK"), Qt::Key_F1);
    QCOMPARE(help_.calls, (std::vector<HelpCall>{{"show", 24}}));
  }

  void thePictureKeepsItsColoursAndTheLabelAfterItTakesTheScheme() {
    const QPalette app = QApplication::palette();
    // The picture is given nothing: it paints no background of its own.
    auto* picture = box_->findChild<QLabel*>("imgAbout");
    QVERIFY(!picture->testAttribute(Qt::WA_SetPalette));
    QVERIFY(!picture->autoFillBackground());
    const QPalette label = box_->findChild<QLabel*>("Label1")->palette();
    QCOMPARE(label.color(QPalette::Window), app.color(QPalette::Base));
    QCOMPARE(label.color(QPalette::WindowText), app.color(QPalette::Text));
  }

  void theSchemeFollowsAChangedApplicationPalette() {
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Base, QColor(20, 20, 20));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();  // the change is announced by a posted event
    const QPalette label = box_->findChild<QLabel*>("Label1")->palette();
    QApplication::setPalette(before);
    QCoreApplication::processEvents();
    QCOMPARE(label.color(QPalette::Window), QColor(20, 20, 20));
    QCOMPARE(label.color(QPalette::WindowText), QColor(230, 230, 230));
  }

  void initTestCase() {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 224));
    palette.setColor(QPalette::Window, QColor(200, 200, 200));
    QApplication::setPalette(palette);
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::FrmAboutTest)
#include "frm_about_test.moc"
