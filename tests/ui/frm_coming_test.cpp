#include "ui/frm_coming.h"

#include <QAction>
#include <QDateEdit>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "ui/frm_main.h"
#include "ui_fakes.h"

namespace lapse::ui {
namespace {

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

// The marks of a preview list, one a line: kept '.', goes 'x', appears '+'.
QString Marks(const QListWidget& list) {
  QString marks;
  for (int row = 0; row < list.count(); ++row) {
    const auto mark = static_cast<front::PreviewMark>(list.item(row)->data(Qt::UserRole).toInt());
    marks += mark == front::PreviewMark::Kept   ? QLatin1Char('.')
             : mark == front::PreviewMark::Goes ? QLatin1Char('x')
                                                : QLatin1Char('+');
  }
  return marks;
}

}  // namespace

class FrmComingTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
  }
  void cleanup() {
    QDir::setCurrent(QDir::tempPath());
    root_.reset();
  }

  void theMenuOpensTheWindowAndARowShowsItsPage() {
    const QString site = root_->filePath(QStringLiteral("site"));
    WriteFile(site + "/news.htm",
              "<p>top</p>\n<!--LAPSE 12/10/26\n<p>Sale</p>\n<!--ENDL\n"
              "<!--LSHOW 12/08/26\n<p>Open</p>\n-->\n");
    WriteFile(site + "/bad.htm", "<!--LAPSE when\nx\n<!--ENDL\n");
    QDir::setCurrent(site);
    testing::MemoryStore store;
    testing::RecordingHelp help;
    testing::ScriptedMessages messages;
    testing::RecordingEditor editor;
    frmMain window(MainServices{store, help, messages, editor, TestRunOptions()});

    auto* item = window.findChild<QAction*>(QStringLiteral("mnuComing"));
    QVERIFY(item != nullptr);
    QCOMPARE(item->text(), QStringLiteral("&Coming up..."));
    item->trigger();
    auto* coming = window.findChild<frmComing*>();
    QVERIFY(coming != nullptr);
    QVERIFY(coming->isVisible());
    QApplication::setActiveWindow(coming);
    QVERIFY(QTest::qWaitForWindowActive(coming));

    auto* rows = coming->findChild<QTreeWidget*>(QStringLiteral("lstRows"));
    QCOMPARE(rows->topLevelItemCount(), 3);
    // The date that cannot be read comes first, then by day.
    QCOMPARE(rows->topLevelItem(0)->text(1), QStringLiteral("date format error"));
    QCOMPARE(rows->topLevelItem(1)->text(1), QStringLiteral("today"));
    QCOMPARE(rows->topLevelItem(2)->text(1), QStringLiteral("in 3 days"));
    QCOMPARE(rows->topLevelItem(2)->text(5), QStringLiteral("<p>Sale</p>"));

    rows->setFocus();
    rows->setCurrentItem(rows->topLevelItem(2));
    auto* now = coming->findChild<QListWidget*>(QStringLiteral("lstNow"));
    auto* onDay = coming->findChild<QListWidget*>(QStringLiteral("lstOnDay"));
    QCOMPARE(Marks(*now), QStringLiteral("....x+x"));
    QCOMPARE(Marks(*onDay), QStringLiteral("....+"));

    // A later day makes the sale block go too.
    coming->findChild<QDateEdit*>(QStringLiteral("txtDate"))->setDate(QDate(2026, 12, 11));
    QCOMPARE(Marks(*now), QStringLiteral(".xxxx+x"));
    QCOMPARE(coming->findChild<QLabel*>(QStringLiteral("lblOnDay"))->text(),
             QStringLiteral("On 2026-12-11"));

    // Enter opens the page at its tag's line; F1 is the window's topic.
    QTest::keyClick(rows, Qt::Key_Return);
    QCOMPARE(editor.opened.size(), std::size_t{1});
    QCOMPARE(editor.opened.front().filename().string(), std::string("news.htm"));
    QCOMPARE(editor.lines, std::vector<std::uint64_t>{2});
    QTest::keyClick(rows, Qt::Key_F1);
    QVERIFY(!help.calls.empty());
    QCOMPARE(help.calls.back().topic, front::topic::kComing);

    const QPointer<frmComing> guard(coming);
    QTest::keyClick(rows, Qt::Key_Escape);
    QVERIFY(!coming->isVisible());
    // Owned by the main window, it goes once closed rather than when the
    // main window does.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard.isNull());
  }

 private:
  std::unique_ptr<QTemporaryDir> root_;
};

}  // namespace lapse::ui

QTEST_MAIN(lapse::ui::FrmComingTest)
#include "frm_coming_test.moc"
