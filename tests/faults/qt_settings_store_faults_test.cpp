// The settings file edited by hand, or not a file at all: the options load
// all the same, each as its number or its default.
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/qt_settings_store.h"

namespace lapse::ui {

class QtSettingsStoreFaultsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir folder_;

  QString SettingsFile() const { return QtSettingsStore::Location(state::kApplicationName); }

  static state::ProgramState Load(QtSettingsStore& store) {
    state::Settings settings(store, state::kApplicationName);
    state::ProgramState state;
    state.NewDays = state.Lines = state.Log = -99;
    state::LoadOptions(settings, state);
    return state;
  }

 private slots:
  void initTestCase() {
    QVERIFY(folder_.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path());
  }

  void cleanup() {
    QDir(SettingsFile()).removeRecursively();
    QFile::remove(SettingsFile());
  }

  void handEditedFileLoads_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("log");
    QTest::newRow("empty") << QByteArray() << 30 << 1 << 1;
    QTest::newRow("letters, blanks, huge")
        << QByteArray("[New]\nDays=abc\nLines=\n[%General]\nLog=99999999999999999999\n") << 30 << 1
        << 1;
    QTest::newRow("quoted sign position") << QByteArray("[%General]\nLog=\" 0\"\n") << 30 << 1 << 0;
    QTest::newRow("unquoted comma") << QByteArray("[New]\nDays=1,5\nLines=2, 3\n") << 30 << 1 << 1;
    QTest::newRow("out of range")
        << QByteArray("[New]\nDays=32768\nLines=-32769\n[%General]\nLog=-32768\n") << 30 << 1
        << -32768;
    QTest::newRow("typed values") << QByteArray(
                                         "[New]\nDays=@ByteArray(12)\nLines=@Rect(1 2 3 4)\n")
                                  << 12 << 1 << 1;
    QTest::newRow("no sections, wrong case")
        << QByteArray("Days=5\n[new]\ndays=6\n[General]\nLog=0\n") << 30 << 1 << 1;
    static constexpr char kJunk[] = "\x00\xff[\n=\x01\x02]\n\x00=\x00";
    QTest::newRow("binary junk") << QByteArray(kJunk, sizeof kJunk - 1) << 30 << 1 << 1;
    QTest::newRow("unterminated section")
        << QByteArray("[New\nDays=7\n[New]\nLines=3\n") << 7 << 3 << 1;
  }
  void handEditedFileLoads() {
    QFETCH(QByteArray, text);
    QFile file(SettingsFile());
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();

    QtSettingsStore store;
    const state::ProgramState state = Load(store);
    QTEST(int{state.NewDays}, "days");
    QTEST(int{state.Lines}, "lines");
    QTEST(int{state.Log}, "log");
  }

  void aFolderInPlaceOfTheFileGivesTheDefaults() {
    QVERIFY(QDir().mkpath(SettingsFile()));
    QtSettingsStore store;
    const state::ProgramState state = Load(store);
    QCOMPARE(state.NewDays, 30);
    QCOMPARE(state.Lines, 1);
    QCOMPARE(state.Log, 1);
    // Writing the defaults back fails, and the store says so.
    QVERIFY(store.WriteFailed());
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::QtSettingsStoreFaultsTest)
#include "qt_settings_store_faults_test.moc"
