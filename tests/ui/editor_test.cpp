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
    QCOMPARE(window->windowTitle(), DisplayPath(ToPath(path)));
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
