#include "ui/message_boxes.h"

#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <functional>

namespace lapse::ui {

namespace {

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Looks at the box once it is up and answers it with key.
void AnswerNextBox(SeenBox& seen, Qt::Key key) {
  QTimer::singleShot(0, [&seen, key] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box != nullptr);
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.defaultButton = box->defaultButton() != nullptr ? box->standardButton(box->defaultButton())
                                                         : QMessageBox::NoButton;
    QTest::keyClick(box, key);
  });
}

}  // namespace

class MessageBoxesTest : public QObject {
  Q_OBJECT

 private slots:
  void theQuestionHasYesAndNoWithYesTheDefault_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("answer");
    QTest::newRow("Enter takes the default") << int{Qt::Key_Return} << true;
    QTest::newRow("N for No") << int{Qt::Key_N} << false;
    QTest::newRow("Esc is No") << int{Qt::Key_Escape} << false;
  }
  void theQuestionHasYesAndNoWithYesTheDefault() {
    QFETCH(int, key);
    QFETCH(bool, answer);
    QtMessageBoxes boxes;
    SeenBox seen;
    AnswerNextBox(seen, static_cast<Qt::Key>(key));
    QCOMPARE(boxes.AskYesNo("Update all HTML files in /web/?"), answer);
    QCOMPARE(seen.title, QStringLiteral("Lapse"));
    QCOMPARE(seen.text, QStringLiteral("Update all HTML files in /web/?"));
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.defaultButton, QMessageBox::Yes);
  }

  void reportsHaveOkAloneWithoutOrWithTheWarningIcon() {
    QtMessageBoxes boxes;
    SeenBox told;
    AnswerNextBox(told, Qt::Key_Return);
    boxes.Tell("Processed 4 files.");
    QCOMPARE(told.title, QStringLiteral("Lapse"));
    QCOMPARE(told.icon, QMessageBox::NoIcon);
    QCOMPARE(told.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    SeenBox warned;
    AnswerNextBox(warned, Qt::Key_Return);
    boxes.Warn("Cannot open the folder /x: Permission denied.");
    QCOMPARE(warned.icon, QMessageBox::Warning);
    QCOMPARE(warned.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::MessageBoxesTest)
#include "message_boxes_test.moc"
