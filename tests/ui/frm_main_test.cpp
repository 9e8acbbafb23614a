#include "ui/frm_main.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "support/fake_runner.h"
#include "ui/frm_about.h"
#include "ui/frm_opt.h"
#include "ui/frm_schedule.h"
#include "ui/paths.h"
#include "ui_fakes.h"

namespace lapse::ui {
namespace {

using testing::HelpCall;
using testing::ReadFile;
using testing::Texts;
using testing::WriteFile;

text::Today Today() {
  using namespace std::chrono;
  return local_days{year{2026} / December / 8};
}

batch::RunOptions TestRunOptions() {
  batch::RunOptions options;
  options.locale = text::EnglishDateLocale();
  options.clock = Today;
  options.lockWait = std::chrono::milliseconds(0);
  return options;
}

}  // namespace

class FrmMainTest : public QObject {
  Q_OBJECT

 private:
  // One main window over fakes, started in a site folder of its own.
  struct Fixture {
    explicit Fixture(const QString& startFolder,
                     std::function<std::vector<Drive>()> drives = MountedDrives) {
      QDir::setCurrent(startFolder);
      window = std::make_unique<frmMain>(
          MainServices{store, help, messages, editor, TestRunOptions(), std::move(drives)});
    }
    QPushButton* Button(const char* name) const {
      return window->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    DirectoryList* Directories() const { return window->findChild<DirectoryList*>("dirMain"); }
    FileList* Files() const { return window->findChild<FileList*>("fileMain"); }
    DriveList* Drives() const { return window->findChild<DriveList*>("drvMain"); }
    QAction* Item(const char* name) const {
      return window->findChild<QAction*>(QString::fromLatin1(name));
    }

    testing::MemoryStore store;
    testing::RecordingHelp help;
    testing::ScriptedMessages messages;
    testing::RecordingEditor editor;
    std::unique_ptr<frmMain> window;
  };

  QString Site(const QString& name = QStringLiteral("site")) {
    const QString site = root_->filePath(name);
    QDir().mkpath(site);
    return site;
  }

  std::unique_ptr<QTemporaryDir> root_;

 private slots:
  void init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
  }
  void cleanup() {
    QDir::setCurrent(QDir::tempPath());
    root_.reset();
  }

  void loadWritesTheDefaultsBackToAnEmptyStore() {
    Fixture f(Site());
    QCOMPARE(f.window->State().NewDays, 30);
    QCOMPARE(f.window->State().Lines, 1);
    QCOMPARE(f.window->State().Log, 1);
    QCOMPARE(f.store.writes, (std::vector<std::string>{"New/Days=30", "New/Lines=1",
                                                       "General/Log=1", "General/Subfolders=0"}));
    QVERIFY(f.window->State().LogPath.empty());
  }

  void loadRunsItsStepsInOrder() {
    // At the first read of the store the options dialog exists and both
    // windows have their colours, and the about box does not exist yet.
    testing::MemoryStore store;
    bool checked = false;
    store.onGet = [&checked] {
      if (checked) {
        return;
      }
      checked = true;
      QWidget* options = nullptr;
      QWidget* about = nullptr;
      QWidget* go = nullptr;
      for (QWidget* widget : QApplication::allWidgets()) {
        if (widget->objectName() == "frmOpt")
          options = widget;
        if (widget->objectName() == "frmAbout")
          about = widget;
        if (widget->objectName() == "cmdGo")
          go = widget;
      }
      QVERIFY(options != nullptr);
      QVERIFY(about == nullptr);
      QVERIFY(go != nullptr);
      QCOMPARE(go->palette().color(QPalette::Button),
               QApplication::palette().color(QPalette::Base));
    };
    testing::RecordingHelp help;
    testing::ScriptedMessages messages;
    testing::RecordingEditor editor;
    QDir::setCurrent(Site());
    frmMain window(MainServices{store, help, messages, editor, TestRunOptions()});
    QVERIFY(checked);
    QVERIFY(window.findChild<frmAbout*>() != nullptr);
  }

  void startsOnTheCurrentFolderWithGoFirstAndTwoButtonsOff() {
    const QString site = Site();
    WriteFile(site + "/index.htm", "x");
    WriteFile(site + "/.hidden", "x");
    QDir().mkpath(site + "/images");
    Fixture f(site);
    QCOMPARE(f.Directories()->Path(), QDir(site).canonicalPath());
    QCOMPARE(f.Files()->Path(), f.Directories()->Path());
    QCOMPARE(Texts(*f.Files()), QStringList{"index.htm"});
    QVERIFY(Texts(*f.Directories()).contains("images"));
    QVERIFY(f.Button("cmdGo")->isEnabled());
    QVERIFY(!f.Button("cmdLog")->isEnabled());
    QVERIFY(!f.Button("cmdReplace")->isEnabled());
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Lapse"));
    QCOMPARE(f.window->focusWidget(), f.Button("cmdGo"));
  }

  void tabOrderFollowsTheDesign() {
    Fixture f(Site());
    QStringList order;
    QWidget* widget = f.Button("cmdGo");
    for (int i = 0; i < 6; ++i) {
      order << widget->objectName();
      widget = widget->nextInFocusChain();
      while (widget->focusPolicy() == Qt::NoFocus || widget->parentWidget() == nullptr ||
             widget->objectName().isEmpty()) {
        widget = widget->nextInFocusChain();
      }
    }
    QCOMPARE(order,
             (QStringList{"cmdGo", "cmdLog", "drvMain", "dirMain", "fileMain", "cmdReplace"}));
  }

  void directoryListHighlightsOnClickAndOpensOnDoubleClickOrEnter() {
    const QString site = Site();
    WriteFile(site + "/images/logo.gif", "x");
    WriteFile(site + "/pages/about.htm", "x");
    Fixture f(site);
    DirectoryList* dirs = f.Directories();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    const QString start = dirs->Path();

    QListWidgetItem* images = dirs->findItems("images", Qt::MatchExactly).value(0);
    QVERIFY(images != nullptr);
    const QPoint centre = dirs->visualItemRect(images).center();
    QTest::mouseClick(dirs->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(dirs->currentItem(), images);
    QCOMPARE(dirs->Path(), start);
    QCOMPARE(f.Files()->Path(), start);

    QTest::mouseDClick(dirs->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(dirs->Path(), start + "/images");
    QCOMPARE(Texts(*f.Files()), QStringList{"logo.gif"});

    // Up to the site again through its entry among the ancestors, by Enter.
    dirs->setCurrentItem(dirs->findItems("site", Qt::MatchExactly).value(0));
    QTest::keyClick(dirs, Qt::Key_Return);
    QCOMPARE(dirs->Path(), start);
    QVERIFY(f.messages.shown.empty());
  }

  void aFolderThatCannotBeOpenedLeavesTheListsWhereTheyWere() {
    const QString site = Site();
    QDir().mkpath(site + "/gone");
    Fixture f(site);
    DirectoryList* dirs = f.Directories();
    const QStringList before = Texts(*dirs);
    QDir(site + "/gone").removeRecursively();
    dirs->setCurrentItem(dirs->findItems("gone", Qt::MatchExactly).value(0));
    QTest::keyClick(dirs, Qt::Key_Return);
    QCOMPARE(dirs->Path(), QDir(site).canonicalPath());
    QCOMPARE(Texts(*dirs), before);
    QCOMPARE(f.messages.shown.size(), std::size_t{1});
    QCOMPARE(f.messages.shown[0].kind, QStringLiteral("warn"));
    QVERIFY(f.messages.shown[0].text.contains("gone"));
  }

  void drivesKeepTheirCurrentFolderAndAnUnreadableDriveChangesNothing() {
    const QString driveA = Site("a");
    const QString driveB = Site("b");
    const QString driveC = Site("c");
    WriteFile(driveA + "/web/index.htm", "x");
    WriteFile(driveB + "/other.txt", "x");
    Fixture f(driveA + "/web", [&] {
      return std::vector<Drive>{{driveA, {}}, {driveB, QStringLiteral("Backup")}, {driveC, {}}};
    });
    DriveList* drives = f.Drives();
    QCOMPARE(drives->currentData().toString(), driveA);
    QCOMPARE(drives->currentText(), QDir::toNativeSeparators(driveA));

    emit drives->activated(drives->findData(driveB));
    QCOMPARE(f.Directories()->Path(), driveB);
    QCOMPARE(Texts(*f.Files()), QStringList{"other.txt"});
    QVERIFY(drives->itemText(drives->findData(driveB)).endsWith("[Backup]"));

    emit drives->activated(drives->findData(driveA));
    QCOMPARE(f.Directories()->Path(), driveA + "/web");
    QCOMPARE(Texts(*f.Files()), QStringList{"index.htm"});

    QDir(driveC).removeRecursively();
    drives->setCurrentIndex(drives->findData(driveC));
    emit drives->activated(drives->findData(driveC));
    QCOMPARE(f.Directories()->Path(), driveA + "/web");
    QCOMPARE(drives->currentData().toString(), driveA);
    QCOMPARE(f.messages.shown.size(), std::size_t{1});
    QVERIFY(f.messages.shown[0].text.contains(QDir::toNativeSeparators(driveC)));
  }

  void aRunAnsweredYesRewritesCountsAndEnablesTheButtons() {
    const QString site = Site();
    WriteFile(site + "/a.htm", "keep\r\n<!--LAPSE 01/31/26 -->\r\nold\r\n<!--ENDL-->\r\nend\r\n");
    WriteFile(site + "/b.html", "<!--LNEW 01/01/26 -->\r\nNew!\r\nnews\r\n");
    WriteFile(site + "/c.HTM", "<!--LAPSE 01/31/26 -->\r\n");
    WriteFile(site + "/notes.txt", "notes\r\n");
    QDir().mkpath(site + "/images");
    Fixture f(site);
    f.messages.answers = {true};

    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);

    const QString source = QDir(site).canonicalPath();
    QCOMPARE(f.messages.shown.size(), std::size_t{2});
    QCOMPARE(f.messages.shown[0].kind, QStringLiteral("ask"));
    QCOMPARE(f.messages.shown[0].text, "Update all HTML files in " + source + "/?");
    QCOMPARE(f.messages.shown[1].kind, QStringLiteral("tell"));
    QCOMPARE(f.messages.shown[1].text, QStringLiteral("Processed 4 files."));
    for (const auto& message : f.messages.shown) {
      QVERIFY2(!message.busyPointer, qPrintable(message.text));
    }
    QVERIFY(QApplication::overrideCursor() == nullptr);

    QCOMPARE(ReadFile(site + "/New/a.htm"), QByteArray("keep\r\nend\r\n"));
    QCOMPARE(ReadFile(site + "/New/b.html"), QByteArray("news\r\n"));
    QVERIFY(!QFile::exists(site + "/New/c.HTM"));
    QVERIFY(f.Button("cmdReplace")->isEnabled());
    QVERIFY(f.Button("cmdLog")->isEnabled());
    QVERIFY(Texts(*f.Directories()).contains("New"));
    QCOMPARE(f.window->State().LogPath, ToPath(source + "/New/Log.txt"));
  }

  void aRunAnsweredNoChangesNothingButTheTwoFolders() {
    const QString site = Site();
    WriteFile(site + "/a.htm", "<!--LAPSE 01/31/26 -->\r\nold\r\n<!--ENDL-->\r\n");
    Fixture f(site);
    f.messages.answers = {false};

    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);

    QCOMPARE(f.messages.shown.size(), std::size_t{1});
    QVERIFY(!f.messages.shown[0].busyPointer);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!QFileInfo::exists(site + "/New"));
    QVERIFY(!f.Button("cmdReplace")->isEnabled());
    QVERIFY(!f.Button("cmdLog")->isEnabled());
    QCOMPARE(f.window->State().SourceDir, ToPath(QDir(site).canonicalPath() + "/"));
    QVERIFY(f.window->State().LogPath.empty());
  }

  void theQuestionNamesTheSubfoldersWhenTheRunTakesThem_data() {
    QTest::addColumn<int>("subfolders");
    QTest::addColumn<QString>("ending");
    QTest::newRow("this folder") << 0 << "/?";
    QTest::newRow("with subfolders") << 1 << "/ and its subfolders?";
  }
  void theQuestionNamesTheSubfoldersWhenTheRunTakesThem() {
    QFETCH(int, subfolders);
    QFETCH(QString, ending);
    const QString site = Site();
    Fixture f(site);
    f.window->State().Subfolders = subfolders;
    f.messages.answers = {false};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);
    QCOMPARE(f.messages.shown.size(), std::size_t{1});
    QCOMPARE(f.messages.shown[0].text,
             "Update all HTML files in " + QDir(site).canonicalPath() + ending);
  }

  // A folder deleted while the lists show it: GO! says why it cannot run and
  // the lists move up to the nearest folder left, as they do when the
  // window becomes active again.
  void theListsLeaveADeletedFolder_data() {
    QTest::addColumn<bool>("byGo");
    QTest::newRow("GO!") << true;
    QTest::newRow("activated") << false;
  }
  void theListsLeaveADeletedFolder() {
    QFETCH(bool, byGo);
    const QString site = Site();
    WriteFile(site + "/index.htm", "x");
    QDir().mkpath(site + "/gone/deeper");
    Fixture f(site);
    const QString canonical = QDir(site).canonicalPath();
    QCOMPARE(f.Directories()->SetPath(site + "/gone/deeper"), QString());
    f.window->show();
    QApplication::setActiveWindow(f.window.get());
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    QVERIFY(QDir(site + "/gone").removeRecursively());
    f.messages.answers = {true};
    if (byGo) {
      QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);
      QCOMPARE(f.messages.shown.size(), std::size_t{2});
      QCOMPARE(f.messages.shown[0].kind, QStringLiteral("ask"));
      QCOMPARE(f.messages.shown[1].kind, QStringLiteral("warn"));
      QVERIFY2(f.messages.shown[1].text.startsWith("Cannot open the folder " + canonical +
                                                   "/gone/deeper/"),
               qPrintable(f.messages.shown[1].text));
    } else {
      QApplication::setActiveWindow(f.window.get());
      QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
      QVERIFY(f.messages.shown.empty());
    }
    QCOMPARE(f.Directories()->Path(), canonical);
    QCOMPARE(Texts(*f.Files()), QStringList{"index.htm"});
    QVERIFY(!Texts(*f.Directories()).contains("gone"));
    QVERIFY(!f.Button("cmdReplace")->isEnabled());
  }

  // As on Windows, Enter presses the focused button as Space does.
  void enterPressesTheFocusedButton() {
    Fixture f(Site());
    f.messages.answers = {false};
    QTest::keyClick(f.Button("cmdGo"), Qt::Key_Return);
    QTRY_COMPARE(f.messages.shown.size(), std::size_t{1});
    QCOMPARE(f.messages.shown[0].kind, QStringLiteral("ask"));
  }

  void aRunWithoutLogLeavesViewLogOff() {
    const QString site = Site();
    WriteFile(site + "/a.htm", "text\r\n");
    Fixture f(site);
    f.window->State().Log = 0;
    f.messages.answers = {true};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);
    QVERIFY(f.Button("cmdReplace")->isEnabled());
    QVERIFY(!f.Button("cmdLog")->isEnabled());
  }

  void aDateFormatErrorIsToldWithoutIconAndTheRunGoesOn() {
    const QString site = Site();
    WriteFile(site + "/bad.htm", "<!--LAPSE tomorrow -->\r\n");
    WriteFile(site + "/good.htm", "text\r\n");
    Fixture f(site);
    f.messages.answers = {true};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);

    QCOMPARE(f.messages.shown.size(), std::size_t{3});
    QCOMPARE(f.messages.shown[1].kind, QStringLiteral("tell"));
    QCOMPARE(f.messages.shown[1].text, QStringLiteral("Date Format error in bad.htm"));
    QVERIFY(!f.messages.shown[1].busyPointer);
    QCOMPARE(f.messages.shown[2].text, QStringLiteral("Processed 2 files."));
    QVERIFY(QFile::exists(site + "/New/good.htm"));
  }

  void aRunRewritesWithTheWindowsOptions() {
    const QString site = Site();
    WriteFile(site + "/a.htm", "<!--LNEW 01/01/26 -->\r\none\r\ntwo\r\nthree\r\n");
    WriteFile(site + "/bad.htm", "<!--LNEW -->\r\n");
    Fixture f(site);
    f.window->State().Lines = 2;
    f.messages.answers = {true};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);

    QCOMPARE(ReadFile(site + "/New/a.htm"), QByteArray("three\r\n"));
    QCOMPARE(f.messages.shown.size(), std::size_t{3});
    QCOMPARE(f.messages.shown[1].text, QStringLiteral("Date Format error in bad.htm"));
  }

  void replacePutsTheCopiesInPlaceAndViewLogFollowsTheLog() {
    const QString site = Site(QStringLiteral("my site"));
    WriteFile(site + "/a.htm", "keep\r\n<!--LAPSE 01/31/26 -->\r\nold\r\n<!--ENDL-->\r\n");
    WriteFile(site + "/notes.txt", "notes\r\n");
    Fixture f(site);
    f.messages.answers = {true};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);
    const QString source = QDir(site).canonicalPath();

    QTest::mouseClick(f.Button("cmdLog"), Qt::LeftButton);
    QCOMPARE(f.editor.opened.size(), std::size_t{1});
    QCOMPARE(f.editor.opened[0], ToPath(source + "/New/Log.txt"));

    f.messages.shown.clear();
    QTest::mouseClick(f.Button("cmdReplace"), Qt::LeftButton);
    QVERIFY(f.messages.shown.empty());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(ReadFile(site + "/a.htm"), QByteArray("keep\r\n"));
    QCOMPARE(ReadFile(site + "/notes.txt"), QByteArray("notes\r\n"));
    QVERIFY(!QFileInfo::exists(site + "/New"));
    QVERIFY(!f.Button("cmdReplace")->isEnabled());
    QVERIFY(f.Button("cmdLog")->isEnabled());
    QVERIFY(!Texts(*f.Directories()).contains("New"));
    QVERIFY(Texts(*f.Files()).contains("Log.txt"));

    QTest::mouseClick(f.Button("cmdLog"), Qt::LeftButton);
    QCOMPARE(f.editor.opened.back(), ToPath(source + "/Log.txt"));
  }

  // Replace puts in place what the last completed run made: a run declined
  // later leaves its folder alone.
  void replaceAfterADeclinedRunActsOnTheLastCompletedRun() {
    const QString first = Site("first");
    const QString second = Site("second");
    WriteFile(first + "/a.htm", "a\r\n");
    WriteFile(second + "/b.htm", "b\r\n");
    Fixture f(first);
    f.messages.answers = {true, false};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);
    QCOMPARE(f.Directories()->SetPath(second), QString());
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);
    f.messages.shown.clear();

    QVERIFY(f.Button("cmdReplace")->isEnabled());
    QTest::mouseClick(f.Button("cmdReplace"), Qt::LeftButton);
    QCOMPARE(ReadFile(second + "/b.htm"), QByteArray("b\r\n"));
    QVERIFY(!QFileInfo::exists(second + "/New"));
    QCOMPARE(ReadFile(first + "/a.htm"), QByteArray("a\r\n"));
    QVERIFY(!QFileInfo::exists(first + "/New"));
    QCOMPARE(f.messages.shown.size(), std::size_t{0});
    QVERIFY(!f.Button("cmdReplace")->isEnabled());
  }

  void viewLogSaysSoWhenThereIsNoLogOrNoEditor() {
    const QString site = Site();
    Fixture f(site);
    f.messages.answers = {true};
    QTest::mouseClick(f.Button("cmdGo"), Qt::LeftButton);  // no HTML file: no log
    QVERIFY(f.Button("cmdLog")->isEnabled());
    f.messages.shown.clear();
    QTest::mouseClick(f.Button("cmdLog"), Qt::LeftButton);
    QVERIFY(f.editor.opened.empty());
    QCOMPARE(f.messages.shown.size(), std::size_t{1});
    QVERIFY(f.messages.shown[0].text.contains("Log.txt"));

    WriteFile(site + "/New/Log.txt", "");
    f.editor.starts = false;
    QTest::mouseClick(f.Button("cmdLog"), Qt::LeftButton);
    QCOMPARE(f.editor.opened.size(), std::size_t{1});
    QCOMPARE(f.messages.shown.size(), std::size_t{2});
    QVERIFY(f.messages.shown[1].text.contains("text editor"));
  }

  void optionsAndAboutShowTheSameInstanceEachTime() {
    Fixture f(Site());
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    auto* options = f.window->findChild<frmOpt*>();
    auto* about = f.window->findChild<frmAbout*>();
    QVERIFY(options != nullptr && about != nullptr);
    int optionShowings = 0;
    int aboutShowings = 0;
    for (int i = 0; i < 2; ++i) {
      QTimer::singleShot(0, options, [&] {
        optionShowings += options->isVisible() ? 1 : 0;
        options->findChild<QPushButton*>("cmdCancel")->click();
      });
      f.Item("mnuOpt")->trigger();
      QTimer::singleShot(0, about, [&] {
        aboutShowings += about->isVisible() ? 1 : 0;
        about->findChild<QPushButton*>("cmdOK")->click();
      });
      f.Item("mnuAbout")->trigger();
    }
    QCOMPARE(optionShowings, 2);
    QCOMPARE(aboutShowings, 2);
    QCOMPARE(f.window->findChildren<frmOpt*>().size(), 1);
    QCOMPARE(f.window->findChildren<frmAbout*>().size(), 1);
  }

  void scheduleOpensItsDialogOnTheOpenedFolder() {
    const QString site = Site(QStringLiteral("my site"));
    QDir::setCurrent(site);
    testing::MemoryStore store;
    testing::RecordingHelp help;
    testing::ScriptedMessages messages;
    testing::RecordingEditor editor;
    testing_support::FakeRunner runner;
    testing_support::MemoryCrontab crontab;
    crontab.InstallInto(runner);
    MainServices services{store, help, messages, editor, TestRunOptions()};
    const std::filesystem::path root = root_->path().toStdString();
    services.schedule.host = [&runner, root] {
      schedule::Host host(runner);
      host.program = root / "lapse-cli";
      host.unitFolder = root / "units";
      host.stateFolder = root / "state";
      host.windows = false;
      return host;
    };
    frmMain window(services);
    window.State().Subfolders = 1;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QString shownFolder;
    bool subfolders = false;
    QTimer::singleShot(0, &window, [&] {
      auto* dialog = window.findChild<frmSchedule*>();
      QVERIFY(dialog != nullptr && dialog->isVisible());
      shownFolder = dialog->findChild<QLabel*>("txtFolder")->toolTip();
      subfolders = dialog->findChild<QCheckBox*>("chkSubfolders")->isChecked();
      dialog->findChild<QPushButton*>("cmdClose")->click();
    });
    window.findChild<QAction*>("mnuSchedule")->trigger();
    QCOMPARE(shownFolder, QDir(site).canonicalPath());
    QVERIFY(subfolders);
    QVERIFY(window.findChild<frmSchedule*>() == nullptr);
    QVERIFY(!crontab.exists);
  }

  void f1AndContentsShowTopicOne() {
    Fixture f(Site());
    f.window->show();
    QApplication::setActiveWindow(f.window.get());
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keyClick(f.Button("cmdLog")->isEnabled() ? f.Button("cmdLog") : f.Button("cmdGo"),
                    Qt::Key_F1);
    f.Item("mnuCont")->trigger();
    QCOMPARE(f.help.calls, (std::vector<HelpCall>{{"show", 1}, {"show", 1}}));
  }

  void f1OnAHighlightedMenuItemShowsThatItemsTopic_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("topic");
    QTest::newRow("Exit") << "mnuFile"
                          << "mnuExit" << 22;
    QTest::newRow("Options") << "mnuSet"
                             << "mnuOpt" << 21;
    QTest::newRow("Schedule") << "mnuSet"
                              << "mnuSchedule" << 25;
    QTest::newRow("Contents") << "mnuHelp"
                              << "mnuCont" << 23;
    QTest::newRow("About") << "mnuHelp"
                           << "mnuAbout" << 24;
  }
  void f1OnAHighlightedMenuItemShowsThatItemsTopic() {
    QFETCH(QString, menu);
    QFETCH(QString, item);
    QFETCH(int, topic);
    Fixture f(Site());
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    auto* popup = f.window->findChild<QMenu*>(menu);
    popup->popup(f.window->mapToGlobal(QPoint(10, 10)));
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    popup->setActiveAction(f.window->findChild<QAction*>(item));
    QTest::keyClick(popup, Qt::Key_F1);
    QCOMPARE(f.help.calls, (std::vector<HelpCall>{{"show", topic}}));
    QVERIFY(!popup->isVisible());
  }

  void unloadClosesTheWindowsThenHelpThenStoresTheOptions_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Exit") << "exit";
    QTest::newRow("close button") << "close";
  }
  void unloadClosesTheWindowsThenHelpThenStoresTheOptions() {
    QFETCH(QString, how);
    Fixture f(Site());
    f.window->show();
    f.store.writes.clear();
    f.window->State().NewDays = 45;
    f.window->State().Lines = 2;
    f.window->State().Log = 0;
    bool windowsGoneFirst = false;
    f.help.onClose = [&] {
      windowsGoneFirst = f.window->findChild<frmOpt*>() == nullptr &&
                         f.window->findChild<frmAbout*>() == nullptr && f.store.writes.empty();
    };
    if (how == "exit") {
      f.Item("mnuExit")->trigger();
    } else {
      f.window->close();
    }
    QVERIFY(windowsGoneFirst);
    QCOMPARE(f.help.calls, (std::vector<HelpCall>{{"close", 0}}));
    QCOMPARE(f.store.writes, (std::vector<std::string>{"New/Days=45", "New/Lines=2",
                                                       "General/Log= 0", "General/Subfolders= 0"}));
    QVERIFY(!f.window->isVisible());

    // The sequence runs once, however often the window is told to close.
    f.window->close();
    QCOMPARE(f.store.writes.size(), std::size_t{4});
  }

  void exitWithoutChangesStoresTheLoadedValuesWithTheSignPosition() {
    Fixture f(Site());
    f.store.writes.clear();
    f.window->close();
    QCOMPARE(f.store.writes, (std::vector<std::string>{"New/Days=30", "New/Lines=1",
                                                       "General/Log= 1", "General/Subfolders= 0"}));
  }

  void colourSchemeReachesEveryListAndButtonButNotTheMenus() {
    Fixture f(Site());
    const QPalette app = QApplication::palette();
    for (const char* name : {"fileMain", "dirMain", "drvMain"}) {
      auto* list = f.window->findChild<QWidget*>(name);
      QCOMPARE(list->palette().color(QPalette::Base), app.color(QPalette::Base));
      QCOMPARE(list->palette().color(QPalette::Text), app.color(QPalette::Text));
    }
    for (const char* name : {"cmdGo", "cmdLog", "cmdReplace"}) {
      QCOMPARE(f.Button(name)->palette().color(QPalette::ButtonText),
               app.color(QPalette::ButtonText));
    }
    QCOMPARE(f.window->centralWidget()->palette().color(QPalette::Window),
             app.color(QPalette::Base));
    QCOMPARE(f.window->findChild<QMenu*>("mnuFile")->palette().color(QPalette::Window),
             app.color(QPalette::Window));
  }

  void initTestCase() {
    // Colours that tell the scheme's roles from the usual ones.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 224));
    palette.setColor(QPalette::Text, QColor(0, 0, 128));
    palette.setColor(QPalette::ButtonText, QColor(128, 0, 0));
    QApplication::setPalette(palette);
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::FrmMainTest)
#include "frm_main_test.moc"
