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

  // Wholly on the screen of the window that asked, beside it where there is
  // room. The first row is the window manager's frame making a help window
  // as wide as the room on the right a few pixels too wide for it: it went
  // off the screen's left edge.
  void theHelpFrameGoesBesideTheAskerWhollyOnItsScreen() {
    enum class Side { Right, Left, Over };
    struct Row {
      const char* name;
      QRect screen;
      QRect beside;
      QMargins frame;
      int height;
      Side side;
    };
    const QRect desk(0, 0, 1024, 768);
    const QMargins framed(1, 28, 1, 1);
    const Row rows[] = {
        {"framed, just room on the right", desk, {125, 150, 342, 400}, framed, 480, Side::Right},
        {"unframed, room on the right", desk, {0, 0, 400, 300}, {}, 480, Side::Right},
        {"room on the left only", desk, {600, 100, 400, 300}, framed, 480, Side::Left},
        {"taller than the screen", desk, {0, 200, 400, 300}, framed, 900, Side::Right},
        {"low on the screen", desk, {0, 600, 400, 160}, framed, 480, Side::Right},
        {"no room beside", desk, {100, 100, 800, 500}, framed, 480, Side::Over},
        {"second screen", {1024, 0, 1280, 1024}, {1100, 50, 600, 400}, framed, 480, Side::Right},
    };
    for (const Row& row : rows) {
      const QRect placed = HelpFrameBeside(row.screen, row.beside, row.frame, row.height);
      QVERIFY2(row.screen.contains(placed), row.name);
      QVERIFY2(placed.width() >= 320 + row.frame.left() + row.frame.right(), row.name);
      switch (row.side) {
        case Side::Right:
          QVERIFY2(placed.left() > row.beside.right(), row.name);
          break;
        case Side::Left:
          QVERIFY2(placed.right() < row.beside.left(), row.name);
          break;
        case Side::Over:
          QVERIFY2(placed.intersects(row.beside), row.name);
          break;
      }
    }
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
