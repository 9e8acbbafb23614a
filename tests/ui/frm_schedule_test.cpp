#include "ui/frm_schedule.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "schedule/history.h"
#include "support/fake_runner.h"
#include "ui_fakes.h"

namespace lapse::ui {

using testing::HelpCall;

class FrmScheduleTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> root_;
  std::filesystem::path site_;
  testing_support::FakeRunner runner_;
  testing_support::MemoryCrontab crontab_;
  testing::RecordingHelp help_;
  testing::ScriptedMessages messages_;
  std::unique_ptr<frmSchedule> dialog_;

  front::ScheduleServices Services() {
    const std::filesystem::path root = root_->path().toStdString();
    return {[this, root] {
              schedule::Host host(runner_);
              host.program = root / "lapse-cli";
              host.unitFolder = root / "units";
              host.systemdRuntime = root / "no-manager";
              host.stateFolder = root / "state";
              // A cron daemon runs, so that the entry will be started.
              host.processes = root / "proc";
              host.windows = false;
              return host;
            },
            [](const std::filesystem::path&, bool) -> std::optional<std::chrono::local_days> {
              return std::chrono::local_days{std::chrono::year{2027} / 1 / 15};
            }};
  }
  QString Text(const char* name) const {
    return dialog_->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }
  QLineEdit* Time() const { return dialog_->findChild<QLineEdit*>("txtTime"); }
  QCheckBox* Subfolders() const { return dialog_->findChild<QCheckBox*>("chkSubfolders"); }
  QPushButton* Button(const char* name) const {
    return dialog_->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  void Show() {
    dialog_->show();
    QApplication::setActiveWindow(dialog_.get());
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
  }

 private slots:
  void init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    site_ = std::filesystem::canonical(root_->path().toStdString()) / "my site";
    std::filesystem::create_directories(site_);
    testing::WriteFile(root_->filePath("lapse-cli"), "a program");
    for (const char* process : {"1", "812"}) {
      QVERIFY(QDir(root_->path()).mkpath(QStringLiteral("proc/") + QLatin1String(process)));
    }
    testing::WriteFile(root_->filePath("proc/1/comm"), "init\n");
    testing::WriteFile(root_->filePath("proc/812/comm"), "cron\n");
    runner_ = {};
    crontab_ = {};
    crontab_.InstallInto(runner_);
    help_.calls.clear();
    messages_.shown.clear();
    dialog_ = std::make_unique<frmSchedule>(Services(), help_, messages_, nullptr);
    dialog_->Load(site_, true);
  }
  void cleanup() {
    dialog_.reset();
    root_.reset();
  }

  void opensOnTheFolderWithTheDefaultsAndStopOff() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Schedule"));
    QCOMPARE(dialog_->findChild<QLabel*>("txtFolder")->toolTip(),
             QString::fromStdString(site_.string()));
    QCOMPARE(Text("lblStatus"), QStringLiteral("Not updated automatically."));
    QCOMPARE(Text("txtNextLapse"), QStringLiteral("2027-01-15"));
    QCOMPARE(Text("lblLastUpdate"), QStringLiteral("Last update:"));
    QCOMPARE(Text("txtLastUpdate"), QStringLiteral("none yet"));
    QCOMPARE(Time()->text(), QStringLiteral("00:05"));
    QVERIFY(Subfolders()->isChecked());
    QVERIFY(!Button("cmdStop")->isEnabled());
  }

  void scheduleThenStop() {
    Show();
    Time()->selectAll();
    QTest::keyClicks(Time(), "06:30");
    Subfolders()->click();
    Button("cmdSchedule")->click();
    QVERIFY(messages_.shown.empty());
    QCOMPARE(Text("lblStatus"),
             QStringLiteral("Updated automatically every day at 06:30, by cron. Update options: "
                            "dates month first."));
    QVERIFY(Button("cmdStop")->isEnabled());
    QVERIFY(crontab_.text.find("30 6 * * * ") != std::string::npos);
    QVERIFY(crontab_.text.find("--recursive") == std::string::npos);

    Button("cmdStop")->click();
    QCOMPARE(Text("lblStatus"), QStringLiteral("Not updated automatically."));
    QVERIFY(!Button("cmdStop")->isEnabled());
    QVERIFY(crontab_.text.find("lapse-schedule") == std::string::npos);
    QVERIFY(dialog_->isVisible());
  }

  void enterSchedulesAndABadTimeIsSelected() {
    Show();
    Time()->selectAll();
    QTest::keyClicks(Time(), "7pm");
    QTest::keyClick(Time(), Qt::Key_Return);
    QCOMPARE(messages_.shown.size(), std::size_t{1});
    QCOMPARE(messages_.shown[0].kind, QStringLiteral("warn"));
    QVERIFY2(messages_.shown[0].text.contains("'7pm' is no time of day"),
             qPrintable(messages_.shown[0].text));
    QCOMPARE(dialog_->focusWidget(), Time());
    QCOMPARE(Time()->selectedText(), QStringLiteral("7pm"));
    QVERIFY(!crontab_.exists);
  }

  void aLongFolderShowsWithAnEllipsisInItsMiddle() {
    const std::filesystem::path deep = site_ / std::string(120, 'x') / "end";
    std::filesystem::create_directories(deep);
    dialog_->Load(deep, false);
    const QString shown = Text("txtFolder");
    QVERIFY2(shown.contains(QChar(0x2026)) && shown.endsWith("end"), qPrintable(shown));
  }

  void closeAndEscapeHide_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Close") << false;
    QTest::newRow("Esc") << true;
  }
  void closeAndEscapeHide() {
    QFETCH(bool, escape);
    Show();
    if (escape) {
      QTest::keyClick(Time(), Qt::Key_Escape);
    } else {
      Button("cmdClose")->click();
    }
    QVERIFY(!dialog_->isVisible());
  }

  void helpAndF1ShowTheSchedulesTopic() {
    Show();
    Button("cmdHelp")->click();
    QTest::keyClick(Time(), Qt::Key_F1);
    QCOMPARE(help_.calls, (std::vector<HelpCall>{{"show", 25}, {"show", 25}}));
  }

  // The longest texts: a schedule that nothing starts, and a last update
  // that names a long page and why it was left. Each wrapped text gets the
  // lines it takes, and pushes what is below it down inside the dialog.
  void longTextsFitAndANotStartedScheduleIsWarnedOf() {
    testing::WriteFile(root_->filePath("proc/812/comm"), "init\n");
    schedule::HistoryEntry update;
    update.time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8};
    update.folder = site_;
    update.status = 1;
    update.rewritten = 1234;
    update.left = {{"news/archive/2026/december/the-longest-page-name-of-the-site.htm",
                    "its page changed after the run, so its copy was left in New"},
                   {"b.htm", "its page changed after the run"}};
    QVERIFY(!schedule::AppendHistory(
        update, schedule::HistoryFile(root_->filePath("state").toStdString())));
    Show();
    Button("cmdSchedule")->click();
    QCOMPARE(messages_.shown.size(), std::size_t{1});
    QCOMPARE(messages_.shown[0].kind, QStringLiteral("warn"));
    QVERIFY2(!messages_.shown[0].text.contains("\\x2d") && !messages_.shown[0].text.contains('\''),
             qPrintable(messages_.shown[0].text));
    QVERIFY2(Text("lblStatus").contains("but not started"), qPrintable(Text("lblStatus")));
    QVERIFY2(Text("txtLastUpdate").endsWith("(ended badly)"), qPrintable(Text("txtLastUpdate")));

    const auto below = [this](const char* upper, const char* lower) {
      auto* label = dialog_->findChild<QLabel*>(QString::fromLatin1(upper));
      const QRect place = label->geometry();
      QVERIFY2(place.height() >= label->heightForWidth(place.width()), upper);
      QVERIFY2(place.bottom() < dialog_->findChild<QWidget*>(lower)->geometry().top(), upper);
    };
    below("lblStatus", "txtTime");
    below("txtLastUpdate", "cmdSchedule");
    QVERIFY(dialog_->rect().contains(Button("cmdHelp")->geometry()));
  }

  void controlsTakeTheColourScheme() {
    const QPalette app = QApplication::palette();
    for (const char* name : {"txtTime", "chkSubfolders", "lblStatus", "txtLastUpdate"}) {
      auto* widget = dialog_->findChild<QWidget*>(name);
      QCOMPARE(widget->palette().color(QPalette::Window), app.color(QPalette::Base));
    }
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::FrmScheduleTest)
#include "frm_schedule_test.moc"
