#include "ui/frm_opt.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "ui_fakes.h"

namespace lapse::ui {

using testing::HelpCall;

class FrmOptTest : public QObject {
  Q_OBJECT

 private:
  state::ProgramState options_;
  testing::RecordingHelp help_;
  testing::ScriptedMessages messages_;
  std::unique_ptr<frmOpt> dialog_;

  QLineEdit* Days() const { return dialog_->findChild<QLineEdit*>("txtDays"); }
  QLineEdit* Lines() const { return dialog_->findChild<QLineEdit*>("txtLines"); }
  QCheckBox* Log() const { return dialog_->findChild<QCheckBox*>("chkLog"); }
  QTabWidget* Tabs() const { return dialog_->findChild<QTabWidget*>("tabOpt"); }
  QPushButton* Button(const char* name) const {
    return dialog_->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  void Show() {
    dialog_->show();
    QApplication::setActiveWindow(dialog_.get());
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
  }
  void Retype(QLineEdit* box, const QString& text) {
    box->selectAll();
    QTest::keyClicks(box, text);
    if (text.isEmpty()) {
      QTest::keyClick(box, Qt::Key_Delete);
    }
  }

 private slots:
  void init() {
    options_ = state::ProgramState{};
    help_.calls.clear();
    messages_.shown.clear();
    dialog_ = std::make_unique<frmOpt>(options_, help_, messages_, nullptr);
  }
  void cleanup() { dialog_.reset(); }

  void opensWithTheOptionsAndApplyOff() {
    QVERIFY(Days()->text().isEmpty());  // the load fills nothing
    Show();
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Options"));
    QCOMPARE(Days()->text(), QStringLiteral("30"));
    QCOMPARE(Lines()->text(), QStringLiteral("1"));
    QVERIFY(Log()->isChecked());
    QVERIFY(!Button("cmdApply")->isEnabled());
    QCOMPARE(Tabs()->tabText(Tabs()->currentIndex()), QStringLiteral("New Tags"));
    QCOMPARE(Tabs()->tabText(0), QStringLiteral("General"));
  }

  void anyEditEnablesApply_data() {
    QTest::addColumn<QString>("edit");
    QTest::newRow("days") << "days";
    QTest::newRow("lines") << "lines";
    QTest::newRow("log clicked") << "log";
  }
  void anyEditEnablesApply() {
    QFETCH(QString, edit);
    Show();
    if (edit == "days") {
      QTest::keyClicks(Days(), "5");
    } else if (edit == "lines") {
      QTest::keyClick(Lines(), Qt::Key_Backspace);
    } else {
      Log()->click();
    }
    QVERIFY(Button("cmdApply")->isEnabled());
  }

  void applySetsTheOptionsAtOnceAndCancelDoesNotUndoIt() {
    Show();
    Retype(Days(), "45");
    Retype(Lines(), "2");
    Log()->click();
    Button("cmdApply")->click();
    QCOMPARE(options_.NewDays, 45);
    QCOMPARE(options_.Lines, 2);
    QCOMPARE(options_.Log, 0);
    QVERIFY(!Button("cmdApply")->isEnabled());
    QVERIFY(dialog_->isVisible());

    Retype(Days(), "7");
    Button("cmdCancel")->click();
    QVERIFY(!dialog_->isVisible());
    QCOMPARE(options_.NewDays, 45);
  }

  void cancelAndEscapeChangeNothingAndTheNextShowingRefills_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Esc") << true;
  }
  void cancelAndEscapeChangeNothingAndTheNextShowingRefills() {
    QFETCH(bool, escape);
    Show();
    Retype(Days(), "99");
    Log()->click();
    if (escape) {
      QTest::keyClick(Days(), Qt::Key_Escape);
    } else {
      Button("cmdCancel")->click();
    }
    QVERIFY(!dialog_->isVisible());
    QCOMPARE(options_.NewDays, 30);
    QCOMPARE(options_.Log, 1);
    Show();
    QCOMPARE(Days()->text(), QStringLiteral("30"));
    QVERIFY(Log()->isChecked());
    QVERIFY(!Button("cmdApply")->isEnabled());
  }

  void okAndEnterApplyAndClose_data() {
    QTest::addColumn<bool>("enter");
    QTest::newRow("OK") << false;
    QTest::newRow("Enter in a text box") << true;
  }
  void okAndEnterApplyAndClose() {
    QFETCH(bool, enter);
    Show();
    Retype(Lines(), "3");
    if (enter) {
      QTest::keyClick(Lines(), Qt::Key_Return);
    } else {
      Button("cmdOK")->click();
    }
    QVERIFY(!dialog_->isVisible());
    QCOMPARE(options_.Lines, 3);
  }

  void okWithoutEditsLeavesTheOptions() {
    options_.NewDays = -5;
    options_.Lines = 0;
    Show();
    Button("cmdOK")->click();
    QCOMPARE(options_.NewDays, -5);
    QCOMPARE(options_.Lines, 0);
    QCOMPARE(options_.Log, 1);
  }

  void textsConvertAsStoredTextsDo_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("blanks around") << " 45 " << 45;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("half to even") << "2.5" << 2;
    QTest::newRow("largest") << "32767" << 32767;
    QTest::newRow("smallest") << "-32768" << -32768;
  }
  void textsConvertAsStoredTextsDo() {
    QFETCH(QString, text);
    QFETCH(int, value);
    Show();
    Retype(Days(), text);
    Button("cmdApply")->click();
    QCOMPARE(int{options_.NewDays}, value);
    QVERIFY(messages_.shown.empty());
  }

  void aBadTextChangesNoOptionAndKeepsTheDialogOpen_data() {
    QTest::addColumn<QString>("days");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("field");
    QTest::newRow("empty days") << ""
                                << "2"
                                << "days";
    QTest::newRow("letters in days") << "abc"
                                     << "2"
                                     << "days";
    QTest::newRow("days too large") << "32768"
                                    << "2"
                                    << "days";
    QTest::newRow("days too small") << "-32769"
                                    << "2"
                                    << "days";
    QTest::newRow("two numbers") << "4 5"
                                 << "2"
                                 << "days";
    QTest::newRow("good days, bad lines") << "45"
                                          << "x"
                                          << "lines";
  }
  void aBadTextChangesNoOptionAndKeepsTheDialogOpen() {
    QFETCH(QString, days);
    QFETCH(QString, lines);
    QFETCH(QString, field);
    Show();
    Retype(Days(), days);
    Retype(Lines(), lines);
    Log()->click();
    Button("cmdOK")->click();
    QVERIFY(dialog_->isVisible());
    QVERIFY(Button("cmdApply")->isEnabled());
    QCOMPARE(options_.NewDays, 30);
    QCOMPARE(options_.Lines, 1);
    QCOMPARE(options_.Log, 1);
    QCOMPARE(messages_.shown.size(), std::size_t{1});
    QCOMPARE(messages_.shown[0].kind, QStringLiteral("warn"));
    QVERIFY2(messages_.shown[0].text.contains(field), qPrintable(messages_.shown[0].text));
    QCOMPARE(dialog_->focusWidget(), field == "days" ? Days() : Lines());
  }

  void theTabLastSelectedIsKept() {
    Show();
    Tabs()->setCurrentIndex(0);
    Button("cmdCancel")->click();
    Show();
    QCOMPARE(Tabs()->tabText(Tabs()->currentIndex()), QStringLiteral("General"));
  }

  void helpShowsTopic21AndKeepsTheEdits() {
    Show();
    Tabs()->setCurrentIndex(0);
    Retype(Days(), "12");
    Button("cmdHelp")->click();
    QCOMPARE(help_.calls, (std::vector<HelpCall>{{"show", 21}}));
    // Coming back to the dialog is no new showing.
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(dialog_.get());
    QCOMPARE(Days()->text(), QStringLiteral("12"));
    QVERIFY(Button("cmdApply")->isEnabled());
  }

  void f1ShowsTheFocusedFieldsTopic_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("topic");
    QTest::newRow("days") << "txtDays" << 32;
    QTest::newRow("lines") << "txtLines" << 33;
    QTest::newRow("log") << "chkLog" << 31;
    QTest::newRow("OK button") << "cmdOK" << 21;
    QTest::newRow("tab control") << "tabOpt" << 21;
  }
  void f1ShowsTheFocusedFieldsTopic() {
    QFETCH(QString, focus);
    QFETCH(int, topic);
    Show();
    auto* widget = dialog_->findChild<QWidget*>(focus);
    if (focus == "chkLog") {
      Tabs()->setCurrentIndex(0);
    }
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key_F1);
    QCOMPARE(help_.calls, (std::vector<HelpCall>{{"show", topic}}));
  }

  void aHandEditedLogValueShowsTicked() {
    options_.Log = 5;
    Show();
    QVERIFY(Log()->isChecked());
    Button("cmdOK")->click();
    QCOMPARE(options_.Log, 1);
  }

  void controlsTakeTheColourScheme() {
    const QPalette app = QApplication::palette();
    for (const char* name : {"txtDays", "txtLines", "chkLog", "lblDays", "tabOpt"}) {
      auto* widget = dialog_->findChild<QWidget*>(name);
      QCOMPARE(widget->palette().color(QPalette::Window), app.color(QPalette::Base));
      QCOMPARE(widget->palette().color(QPalette::WindowText), app.color(QPalette::Text));
    }
    QCOMPARE(dialog_->palette().color(QPalette::Window), app.color(QPalette::Base));
    QCOMPARE(Button("cmdOK")->palette().color(QPalette::ButtonText),
             app.color(QPalette::ButtonText));
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::FrmOptTest)
#include "frm_opt_test.moc"
