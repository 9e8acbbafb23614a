#include "ui/qt_settings_store.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace lapse::ui {

class QtSettingsStoreTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir folder_;

 private slots:
  void initTestCase() {
    QVERIFY(folder_.isValid());
    // The user's own settings stay untouched.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path());
  }

  void textsSurviveAWriteAndAReadExactly_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("General with a leading blank") << "General"
                                                  << "Log"
                                                  << " 1";
    QTest::newRow("General, negative") << "General"
                                       << "Log"
                                       << "-1";
    QTest::newRow("New, days") << "New"
                               << "Days"
                               << "30";
    QTest::newRow("blanks around") << "New"
                                   << "Lines"
                                   << " 2 ";
    QTest::newRow("comma") << "New"
                           << "Days"
                           << "1,5";
    QTest::newRow("empty") << "New"
                           << "Days"
                           << "";
  }
  void textsSurviveAWriteAndAReadExactly() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    {
      QtSettingsStore store;
      store.Set("Lapse", section.toStdString(), key.toStdString(), value.toStdString());
      QVERIFY(!store.WriteFailed());
    }
    QtSettingsStore fresh;
    QCOMPARE(QString::fromStdString(
                 fresh.Get("Lapse", section.toStdString(), key.toStdString(), "default")),
             value);
  }

  void generalDoesNotMixWithTheIniFilesOwnGeneralSection() {
    QtSettingsStore store;
    store.Set("Lapse", "General", "Log", " 0");
    QSettings file(QtSettingsStore::Location("Lapse"), QSettings::IniFormat);
    QCOMPARE(file.value("Log"), QVariant());  // not a key outside every section
    QCOMPARE(file.value("General/Log").toString(), QStringLiteral(" 0"));
  }

  void aMissingKeyGivesTheDefault() {
    QtSettingsStore store;
    QCOMPARE(store.Get("Lapse", "New", "Nothing", "30"), std::string("30"));
    QCOMPARE(store.Get("Elsewhere", "New", "Days", "7"), std::string("7"));
  }

  void optionsStoredAtExitLoadAtTheNextStart() {
    QtSettingsStore store;
    state::Settings settings(store, state::kApplicationName);
    state::ProgramState saved;
    saved.NewDays = 45;
    saved.Lines = -2;
    saved.Log = 0;
    state::SaveOptions(settings, saved);
    state::ProgramState loaded;
    state::LoadOptions(settings, loaded);
    QCOMPARE(loaded.NewDays, 45);
    QCOMPARE(loaded.Lines, -2);
    QCOMPARE(loaded.Log, 0);
    QCOMPARE(store.Get("Lapse", "General", "Log", ""), std::string(" 0"));
  }

  void theStoreLivesUnderTheApplicationsName() {
    QVERIFY(QtSettingsStore::Location("Lapse").startsWith(folder_.path()));
    QVERIFY(QtSettingsStore::Location("Lapse").contains("Lapse"));
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::QtSettingsStoreTest)
#include "qt_settings_store_test.moc"
