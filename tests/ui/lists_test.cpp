#include "ui/lists.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "ui_fakes.h"

namespace lapse::ui {

using testing::Texts;

class ListsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> root_;
  QString Root() const { return QDir(root_->path()).canonicalPath(); }
  // The table of those drives, as the main window makes it at its start.
  static front::DriveTable Table(const std::vector<Drive>& drives, const QString& start) {
    std::vector<front::Drive> table;
    for (const Drive& drive : drives) {
      table.push_back({drive.root.toStdString(), drive.label.toStdString()});
    }
    return front::DriveTable(std::move(table), start.toStdString(), front::kPlatformPathCase,
                             front::kPlatformRootDrive);
  }

 private slots:
  void init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
  }

  void directoriesShowAncestorsThenSubdirectoriesWithoutHiddenOnes() {
    const QString site = Root() + "/site";
    for (const char* sub : {"/beta", "/Alpha", "/.git", "/gamma/deeper"}) {
      QVERIFY(QDir().mkpath(site + sub));
    }
    testing::WriteFile(site + "/file.htm", "x");
    DirectoryList list(nullptr);
    QSignalSpy changes(&list, &DirectoryList::pathChanged);
    QCOMPARE(list.SetPath(site), QString());
    QCOMPARE(changes.count(), 1);

    QStringList expected;
    const QStringList parts = site.split('/', Qt::SkipEmptyParts);
    expected << QDir::toNativeSeparators(QDir::rootPath()) << parts;
    expected << "Alpha"
             << "beta"
             << "gamma";
    QCOMPARE(Texts(list), expected);
    QCOMPARE(list.currentItem()->text(), QStringLiteral("site"));
  }

  void anUnreadableFolderLeavesTheListAsItWas() {
    DirectoryList list(nullptr);
    QCOMPARE(list.SetPath(Root()), QString());
    const QStringList before = Texts(list);
    QSignalSpy changes(&list, &DirectoryList::pathChanged);
    const QString error = list.SetPath(Root() + "/missing");
    QVERIFY(error.contains(QDir::toNativeSeparators(Root() + "/missing")));
    QVERIFY(error.startsWith("Cannot open the folder"));
    QCOMPARE(list.Path(), Root());
    QCOMPARE(Texts(list), before);
    QCOMPARE(changes.count(), 0);
  }

  void refreshShowsNewFoldersAndClimbsOutOfDeletedOnes() {
    DirectoryList list(nullptr);
    QVERIFY(QDir().mkpath(Root() + "/site"));
    QCOMPARE(list.SetPath(Root() + "/site"), QString());
    QVERIFY(QDir().mkpath(Root() + "/site/New"));
    list.Refresh();
    QVERIFY(Texts(list).contains("New"));
    QVERIFY(QDir(Root() + "/site").removeRecursively());
    list.Refresh();
    QCOMPARE(list.Path(), Root());
  }

  void filesAreAllButHiddenOnesAndNoFolders() {
    const QString site = Root();
    for (const char* name : {"b.html", "a.htm", "notes.txt", ".htaccess", "C.HTM"}) {
      testing::WriteFile(site + "/" + name, "x");
    }
    QVERIFY(QDir().mkpath(site + "/New"));
    FileList list(nullptr);
    list.SetPath(site);
    QCOMPARE(Texts(list), (QStringList{"a.htm", "b.html", "C.HTM", "notes.txt"}));
  }

  void aPathBelongsToTheDriveWithTheLongestRoot_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drive");
    QTest::newRow("root itself") << "/"
                                 << "/";
    QTest::newRow("under root") << "/home/ann"
                                << "/";
    QTest::newRow("mounted volume") << "/media/stick/web"
                                    << "/media/stick";
    QTest::newRow("volume root") << "/media/stick"
                                 << "/media/stick";
    QTest::newRow("name that only starts alike") << "/media/sticky"
                                                 << "/";
  }
  void aPathBelongsToTheDriveWithTheLongestRoot() {
    QFETCH(QString, path);
    QFETCH(QString, drive);
    const front::DriveTable table = Table({{"/", {}}, {"/media/stick", "STICK"}}, "/home/ann");
    QCOMPARE(QString::fromStdString(table.DriveOf(path.toStdString())), drive);
  }

  void theProcessDriveStartsAtTheProcessFolderAndTheOthersAtTheirRoot() {
    DriveList drives(nullptr);
    const front::DriveTable table = Table({{"/media/stick", {}}, {"/", {}}}, "/home/ann/web");
    drives.SetTable(table);
    QCOMPARE(drives.currentData().toString(), QStringLiteral("/"));
    QCOMPARE(table.CurrentFolderOf("/"), std::string("/home/ann/web"));
    QCOMPARE(table.CurrentFolderOf("/media/stick"), std::string("/media/stick"));
    QCOMPARE(drives.itemData(0).toString(), QStringLiteral("/"));  // sorted by root
  }

  // Mount tables as a chroot or a container may show them: none for "/",
  // none at all, or only mounts outside the process's root.
  void theRootAndTheProcessFoldersDriveAreAlwaysOffered_data() {
    QTest::addColumn<QStringList>("mounted");
    QTest::newRow("no root") << QStringList{"/media/stick"};
    QTest::newRow("none") << QStringList{};
    QTest::newRow("outside") << QStringList{"/srv/jail/proc"};
  }
  void theRootAndTheProcessFoldersDriveAreAlwaysOffered() {
    QFETCH(QStringList, mounted);
    std::vector<Drive> listed;
    for (const QString& root : mounted) {
      listed.push_back({root, {}});
    }
    DriveList drives(nullptr);
    const front::DriveTable table = Table(listed, Root());
    drives.SetTable(table);
    QVERIFY(drives.findData(QStringLiteral("/")) >= 0);
    const QString drive = QString::fromStdString(table.DriveOf(Root().toStdString()));
    QVERIFY(!drive.isEmpty());
    QCOMPARE(drives.currentData().toString(), drive);
  }

  void mountedDrivesHoldTheCurrentFoldersDrive() {
    DriveList drives(nullptr);
    drives.SetTable(Table(MountedDrives(), Root()));
    QVERIFY(drives.count() >= 1);
    QVERIFY(!drives.currentData().toString().isEmpty());
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::ListsTest)
#include "lists_test.moc"
