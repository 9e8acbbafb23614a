#include "ui/editor.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QtTest>

#include "ui/paths.h"

namespace lapse::ui {

class EditorTest : public QObject {
  Q_OBJECT

 private slots:
  // An opener that fails, or that is not there, leaves the log to the
  // program's own window: the user always sees it.
  void aFailingOpenerLeavesTheFileToAWindowOfOurOwn_data() {
    QTest::addColumn<QString>("opener");
    QTest::newRow("exits with an error") << QStringLiteral("false");
    QTest::newRow("missing") << QStringLiteral("/no/such/opener");
  }
  void aFailingOpenerLeavesTheFileToAWindowOfOurOwn() {
    QFETCH(QString, opener);
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("Log.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\r\na.htm\r\n<!--LAPSE 12/01/26\r\n");
    file.close();
    DesktopEditor editor(opener);
    QVERIFY(editor.Open(ToPath(path)));
    QWidget* window = nullptr;
    QTRY_VERIFY((window = Shown()) != nullptr);
    QCOMPARE(window->windowTitle(),
             QStringLiteral("Log.txt in ") + DisplayPath(ToPath(QDir::currentPath())));
    QCOMPARE(window->findChild<QPlainTextEdit*>()->toPlainText(),
             QStringLiteral("\na.htm\n<!--LAPSE 12/01/26\n"));
    QTest::keyClick(window, Qt::Key_Escape);
    QTRY_VERIFY(Shown() == nullptr);
  }

  // The C locale of the tests makes Latin-1 the 8-bit code page.
  void theWindowReadsEachLineInTheEncodingItIsValidIn_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Latin-1") << QByteArray("Caf\xE9\r\n") << QStringLiteral("Caf\u00E9\n");
    QTest::newRow("UTF-8") << QByteArray("Caf\xC3\xA9\r\n") << QStringLiteral("Caf\u00E9\n");
    QTest::newRow("both in one log")
        << QByteArray("a.htm\r\nCaf\xE9\r\nb.htm\r\nGr\xC3\xBC\xC3\x9F\x65\r\n")
        << QStringLiteral("a.htm\nCaf\u00E9\nb.htm\nGr\u00FC\u00DFe\n");
  }
  void theWindowReadsEachLineInTheEncodingItIsValidIn() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("Log.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    ShowTextWindow(ToPath(path));
    QWidget* window = Shown();
    QVERIFY(window != nullptr);
    QCOMPARE(window->findChild<QPlainTextEdit*>()->toPlainText(), shown);
    window->close();
    QTRY_VERIFY(Shown() == nullptr);
  }

  // The user's editor is told the line where it takes one, with the path
  // as one argument; any other is left to the opener, without a line.
  void anEditorThatTakesALineIsToldIt_data() {
    QTest::addColumn<QByteArray>("visual");
    QTest::addColumn<QByteArray>("editor");
    QTest::addColumn<QStringList>("arguments");  // empty: the opener opened the file
    const QString page = QDir::current().absoluteFilePath(QStringLiteral("my page.htm"));
    QTest::newRow("VISUAL first") << QByteArray("gedit") << QByteArray("kate")
                                  << QStringList{QStringLiteral("+7"), page};
    QTest::newRow("then EDITOR") << QByteArray("") << QByteArray("kate --new")
                                 << QStringList{QStringLiteral("--new"), QStringLiteral("--line"),
                                                QStringLiteral("7"), page};
    QTest::newRow("unknown") << QByteArray("mousepad") << QByteArray("") << QStringList{};
  }
  void anEditorThatTakesALineIsToldIt() {
    QFETCH(QByteArray, visual);
    QFETCH(QByteArray, editor);
    QFETCH(QStringList, arguments);
    const QDir here = QDir::current();
    const QString told = here.absoluteFilePath(QStringLiteral("told.txt"));
    QFile::remove(told);
    // Stand-ins for the editors, on the PATH, that write down what they
    // were given.
    here.mkpath(QStringLiteral("bin"));
    for (const QString& name : {QStringLiteral("gedit"), QStringLiteral("kate"),
                                QStringLiteral("mousepad"), QStringLiteral("opener")}) {
      QFile script(here.absoluteFilePath(QStringLiteral("bin/") + name));
      QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
      script.write(
          QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp'\nmv '%1.tmp' '%1'\n")
              .arg(name == QStringLiteral("opener") ? told + QStringLiteral(".opener") : told)
              .toUtf8());
      script.close();
      QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", here.absoluteFilePath(QStringLiteral("bin")).toUtf8() + ":" + path);
    qputenv("VISUAL", visual);
    qputenv("EDITOR", editor);
    const QString page = here.absoluteFilePath(QStringLiteral("my page.htm"));
    DesktopEditor desktop(here.absoluteFilePath(QStringLiteral("bin/opener")));
    QVERIFY(desktop.OpenAt(ToPath(page), 7));
    const QString written = arguments.isEmpty() ? told + QStringLiteral(".opener") : told;
    QTRY_VERIFY(QFile::exists(written));
    qputenv("PATH", path);
    qunsetenv("VISUAL");
    qunsetenv("EDITOR");
    QFile result(written);
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QStringList seen = QString::fromUtf8(result.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(seen, arguments.isEmpty() ? QStringList{page} : arguments);
    result.close();
    QFile::remove(written);
  }

 private:
  static QWidget* Shown() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->objectName() == QStringLiteral("frmText") && window->isVisible()) {
        return window;
      }
    }
    return nullptr;
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::EditorTest)
#include "editor_test.moc"
