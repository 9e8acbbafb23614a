#include "ui/help.h"

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QtTest>

namespace lapse::ui {

class HelpTest : public QObject {
  Q_OBJECT

 private slots:
  void everyTopicHasATitledPage() {
    for (const int topic : kHelpTopics) {
      QFile page(HelpPageUrl(topic).toString().mid(3));  // "qrc:/..." -> ":/..."
      QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
      const QString html = QString::fromUtf8(page.readAll());
      QVERIFY2(html.contains(QRegularExpression("<title>[^<]+</title>")),
               qPrintable(page.fileName()));
    }
  }

  void everyLinkBetweenPagesLeadsToAPageThatExists() {
    const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)(#[^\"]*)?\""));
    for (const int topic : kHelpTopics) {
      QFile page(QStringLiteral(":/help/topic%1.html").arg(topic));
      QVERIFY(page.open(QIODevice::ReadOnly));
      const QString html = QString::fromUtf8(page.readAll());
      for (auto match = link.globalMatch(html); match.hasNext();) {
        const QString target = match.next().captured(1);
        QVERIFY2(QFile::exists(":/help/" + target),
                 qPrintable(QStringLiteral("topic %1 links to %2").arg(topic).arg(target)));
      }
    }
  }

  void contextHelpWalksUpToTheWindow() {
    QWidget window;
    SetHelpTopic(window, 21);
    auto* tab = new QWidget(&window);
    auto* page = new QWidget(tab);
    auto* days = new QLineEdit(page);
    auto* plain = new QLineEdit(page);
    SetHelpTopic(*days, 32);
    QCOMPARE(ContextHelpTopic(*days), std::optional<int>(32));
    QCOMPARE(ContextHelpTopic(*plain), std::optional<int>(21));
    QWidget bare;
    QCOMPARE(ContextHelpTopic(bare), std::optional<int>());
  }

  void theViewerOpensAtTheTopicAndCloses() {
    HelpViewer viewer;
    viewer.Close();  // closing before any showing is harmless
    viewer.ShowTopic(13);
    QVERIFY(viewer.Window()->isVisible());
    QCOMPARE(viewer.Browser()->source(), HelpPageUrl(13));
    QCOMPARE(viewer.Browser()->documentTitle(), QStringLiteral("Replacing the old files"));
    viewer.ShowTopic(1);
    QCOMPARE(viewer.Browser()->documentTitle(), QStringLiteral("Lapse"));
    viewer.Close();
    QVERIFY(!viewer.Window()->isVisible());
    // The help window belongs to no other window, so a modal dialog of the
    // main window does not block it.
    QVERIFY(viewer.Window()->parentWidget() == nullptr);
  }
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::HelpTest)
#include "help_test.moc"
