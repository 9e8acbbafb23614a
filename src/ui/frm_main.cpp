#include "ui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <system_error>

#include "ui/busy_pointer.h"
#include "ui/colour_scheme.h"
#include "ui/editor.h"
#include "ui/frm_about.h"
#include "ui/frm_opt.h"
#include "messages/messages.h"
#include "ui/help.h"
#include "ui/message_boxes.h"
#include "ui/paths.h"
#include "ui/progress_window.h"
#include "ui/program_icon.h"
#include "ui/twips.h"

namespace lapse::ui {

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* MakeButton(const QString& name, const QString& caption, QRect place, int helpTopic,
                        QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(place);
  QFont bold = button->font();
  bold.setBold(true);
  bold.setPointSizeF(9.75);
  // The caption keeps a margin inside the designed size: a font a little
  // smaller where it would touch the frame.
  constexpr int kMargin = 8;
  while (QFontMetrics(bold).horizontalAdvance(QString(caption).remove(QLatin1Char('&'))) >
             place.width() - 2 * kMargin &&
         bold.pointSizeF() > 6) {
    bold.setPointSizeF(bold.pointSizeF() - 0.25);
  }
  button->setFont(bold);
  SetHelpTopic(*button, helpTopic);
  return button;
}

QAction* AddItem(QMenu* menu, const QString& name, const QString& caption, int helpTopic) {
  QAction* item = menu->addAction(caption);
  item->setObjectName(name);
  SetHelpTopic(*item, helpTopic);
  return item;
}

}  // namespace

// Answers the batch run's questions through the main window's message boxes;
// the busy pointer steps aside while a box is up.
class frmMain::RunFrontEnd final : public batch::RunFrontEnd {
 public:
  RunFrontEnd(frmMain& window, BusyPointer& busy)
      : window_(window), busy_(busy), progress_(&window) {}

  bool Confirm(const std::filesystem::path& sourceDir) override {
    busy_.Restore();
    const bool yes = window_.services_.messages.AskYesNo(Text(messages::RunQuestion(sourceDir)));
    if (yes) {
      busy_.Show();
      // The closed question must not stay painted over the window.
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return yes;
  }
  void NewDirectoryCreated() override { window_.dirMain->Refresh(); }
  void FileLeftOut(const std::filesystem::path& name, const engine::FileReport& report) override {
    // A site may hold many compressed pages: one box at the end names them.
    if (report.outcome == engine::FileOutcome::LeftAsItIs) {
      leftAsItIs << Text(messages::LeftAsItIs(name));
      return;
    }
    busy_.Restore();
    window_.ReportLeftOut(name, report);
    busy_.Show();
  }

  void Advance(std::uint64_t done, std::uint64_t listed,
               const std::filesystem::path& current) override {
    progress_.Advance(done, listed, current);
  }
  void Done() { progress_.Close(); }

  QStringList leftAsItIs;

 private:
  frmMain& window_;
  BusyPointer& busy_;
  ProgressWindow progress_;
};

frmMain::frmMain(MainServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      services_(std::move(services)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Lapse"));
  setWindowIcon(ProgramIcon());
  SetHelpTopic(*this, topic::kMain);
  CreateControls();
  CreateMenus();
  Load();

  layout()->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();
  // The client area, below the menu bar, opens at its designed place.
  const QPoint clientArea = TwipsPoint(1950, 2655);
  setGeometry(QRect(clientArea - QPoint(0, menuBar()->sizeHint().height()), size()));
  // The focus shows from the start, not only once a key has moved it.
  setAttribute(Qt::WA_KeyboardFocusChange);
  cmdGo->setFocus();
}

frmMain::~frmMain() = default;

void frmMain::CreateControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("clientArea"));
  client->setFixedSize(TwipsSize(4980, 4905));
  setCentralWidget(client);

  cmdReplace = MakeButton(QStringLiteral("cmdReplace"), QStringLiteral("&Replace old files"),
                          TwipsRect(2760, 4080, 1815, 615), topic::kReplace, client);
  cmdLog = MakeButton(QStringLiteral("cmdLog"), QStringLiteral("&View Log"),
                      TwipsRect(2760, 3360, 1815, 615), topic::kViewLog, client);
  fileMain = new FileList(client);
  fileMain->setObjectName(QStringLiteral("fileMain"));
  fileMain->setGeometry(TwipsRect(2760, 720, 1815, 2400));
  cmdGo = MakeButton(QStringLiteral("cmdGo"), QStringLiteral("&GO!"),
                     TwipsRect(480, 3360, 2175, 1335), topic::kRun, client);
  dirMain = new DirectoryList(client);
  dirMain->setObjectName(QStringLiteral("dirMain"));
  dirMain->setGeometry(TwipsRect(480, 720, 2175, 2505));
  drvMain = new DriveList(client);
  drvMain->setObjectName(QStringLiteral("drvMain"));
  drvMain->setGeometry(TwipsRect(480, 240, 2175, 315));

  cmdReplace->setEnabled(false);
  cmdLog->setEnabled(false);
  // Enter presses the focused button, as Space does.
  for (QPushButton* button : {cmdGo, cmdLog, cmdReplace}) {
    button->installEventFilter(this);
  }

  setTabOrder(cmdGo, cmdLog);
  setTabOrder(cmdLog, drvMain);
  setTabOrder(drvMain, dirMain);
  setTabOrder(dirMain, fileMain);
  setTabOrder(fileMain, cmdReplace);

  connect(drvMain, &DriveList::driveChosen, this, &frmMain::ChooseDrive);
  connect(dirMain, &DirectoryList::pathChanged, this, [this](const QString& path) {
    fileMain->SetPath(path);
    // Going up from a mounted volume leaves its drive.
    drvMain->ShowDriveOf(path);
  });
  connect(dirMain, &DirectoryList::openFailed, this,
          [this](const QString& message) { services_.messages.Warn(message); });
  connect(cmdGo, &QPushButton::clicked, this, &frmMain::RunBatch);
  connect(cmdLog, &QPushButton::clicked, this, &frmMain::ViewLog);
  connect(cmdReplace, &QPushButton::clicked, this, &frmMain::ReplaceOldFiles);

  OpenStartDirectory();
}

void frmMain::CreateMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuExit = AddItem(mnuFile, QStringLiteral("mnuExit"), QStringLiteral("E&xit"), topic::kExit);

  mnuSet = menuBar()->addMenu(QStringLiteral("&Setup"));
  mnuSet->setObjectName(QStringLiteral("mnuSet"));
  mnuOpt =
      AddItem(mnuSet, QStringLiteral("mnuOpt"), QStringLiteral("&Options..."), topic::kOptions);

  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuCont =
      AddItem(mnuHelp, QStringLiteral("mnuCont"), QStringLiteral("&Contents"), topic::kContents);
  mnuCont->setShortcut(QKeySequence(Qt::Key_F1));
  mnuSep1 = mnuHelp->addSeparator();
  mnuSep1->setObjectName(QStringLiteral("mnuSep1"));
  mnuAbout = AddItem(mnuHelp, QStringLiteral("mnuAbout"), QStringLiteral("&About Lapse..."),
                     topic::kAbout);

  for (QMenu* menu : {mnuFile, mnuSet, mnuHelp}) {
    menu->installEventFilter(this);
  }
  connect(mnuExit, &QAction::triggered, this, &QWidget::close);
  connect(mnuOpt, &QAction::triggered, this, &frmMain::ShowOptions);
  connect(mnuCont, &QAction::triggered, this, [this] { services_.help.ShowTopic(topic::kMain, this); });
  connect(mnuAbout, &QAction::triggered, this, &frmMain::ShowAbout);
}

std::vector<QObject*> frmMain::ControlOrder() const {
  return {cmdReplace,
          cmdLog,
          fileMain,
          cmdGo,
          dirMain,
          drvMain,
          mnuFile->menuAction(),
          mnuExit,
          mnuSet->menuAction(),
          mnuOpt,
          mnuHelp->menuAction(),
          mnuCont,
          mnuSep1,
          mnuAbout};
}

// The options dialog exists before the window takes its colours, and the
// options are read before the about box is made, so that every later step
// can rely on what came before.
void frmMain::Load() {
  frmOpt_ = new frmOpt(state_, services_.help, services_.messages, this);
  UseColourScheme(*this, *centralWidget(), [this] { return ControlOrder(); });
  settings_.emplace(services_.store, state::kApplicationName);
  state::LoadOptions(*settings_, state_);
  frmAbout_ = new frmAbout(services_.help, this);
}

void frmMain::Unload() {
  if (unloaded_) {
    return;
  }
  unloaded_ = true;
  delete frmOpt_;
  frmOpt_ = nullptr;
  delete frmAbout_;
  frmAbout_ = nullptr;
  services_.help.Close();
  state::SaveOptions(*settings_, state_);
}

void frmMain::closeEvent(QCloseEvent* event) {
  // Exit, the close button and the system menu all end here; the program
  // cannot refuse to end.
  Unload();
  event->accept();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (auto* button = qobject_cast<QPushButton*>(watched);
      button != nullptr && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      button->animateClick();
      return true;
    }
  }
  auto* menu = qobject_cast<QMenu*>(watched);
  const bool keyEvent =
      event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
  if (menu == nullptr || !keyEvent || static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1) {
    return QMainWindow::eventFilter(watched, event);
  }
  // While a menu item is highlighted, F1 is that item's help, not the
  // shortcut of "Contents".
  event->accept();
  if (event->type() == QEvent::KeyPress && menu->activeAction() != nullptr) {
    if (const auto topic = HelpTopicOf(*menu->activeAction())) {
      menu->close();
      services_.help.ShowTopic(*topic, this);
    }
  }
  return true;
}

void frmMain::OpenStartDirectory() {
  const QString start = QDir::currentPath();
  drvMain->SetDrives(services_.drives(), start);
  for (const QString& candidate : {start, QDir::homePath(), QDir::rootPath()}) {
    if (dirMain->SetPath(candidate).isEmpty()) {
      return;
    }
  }
}

void frmMain::ChooseDrive(const QString& drive) {
  const QString error = dirMain->SetPath(drvMain->CurrentDirectoryOf(drive));
  if (!error.isEmpty()) {
    drvMain->ShowDriveOf(dirMain->Path());
    services_.messages.Warn(error);
  }
}

void frmMain::ReportLeftOut(const std::filesystem::path& name, const engine::FileReport& report) {
  const QString message = Text(messages::LeftOut(name, report));
  if (report.outcome == engine::FileOutcome::DateFormatError) {
    services_.messages.Tell(message);
  } else {
    services_.messages.Warn(message);
  }
}

void frmMain::RunBatch() {
  BusyPointer busy;
  RunFrontEnd frontEnd(*this, busy);
  batch::RunSettings settings = services_.run;
  settings.recursion =
      state_.Subfolders != 0 ? batch::Recursion::Subfolders : batch::Recursion::ThisFolder;
  const batch::RunResult result =
      batch::BatchRun(services_.disk, state_, ToPath(dirMain->Path()), frontEnd, settings);
  frontEnd.Done();
  if (result.status == batch::RunStatus::Declined) {
    return;
  }
  if (result.status == batch::RunStatus::Completed) {
    // The replace takes what this run made, whatever the option says then.
    replaceRecursion_ = settings.recursion;
    if (state_.Log != 0) {
      cmdLog->setEnabled(true);
    }
    cmdReplace->setEnabled(true);
  }
  busy.Restore();
  if (result.status != batch::RunStatus::Completed) {
    services_.messages.Warn(Text(messages::Stopped(result.problem)));
    return;
  }
  if (!frontEnd.leftAsItIs.isEmpty()) {
    services_.messages.Tell(frontEnd.leftAsItIs.join(QLatin1Char('\n')));
  }
  for (const std::string& note : messages::RunNotes(result)) {
    services_.messages.Warn(Text(note));
  }
  services_.messages.Tell(Text(messages::Processed(result.fileCount)));
}

void frmMain::ViewLog() {
  const std::filesystem::path& log = state_.LogPath;
  std::error_code error;
  if (log.empty() || !std::filesystem::is_regular_file(log, error)) {
    services_.messages.Warn(QStringLiteral("There is no run log at %1: the last run wrote none.")
                                .arg(DisplayPath(log)));
    return;
  }
  if (!services_.editor.Open(log)) {
    services_.messages.Warn(
        QStringLiteral("Cannot open the run log %1 in a text editor.").arg(DisplayPath(log)));
  }
}

void frmMain::ReplaceOldFiles() {
  BusyPointer busy;
  ProgressWindow progress(this);
  const batch::ReplaceResult result =
      batch::Replace(services_.disk, state_, replaceRecursion_, &progress);
  progress.Close();
  cmdReplace->setEnabled(false);
  dirMain->Refresh();
  busy.Restore();
  QStringList problems;
  for (const std::string& problem : messages::ReplaceProblems(result)) {
    problems << Text(problem);
  }
  if (!problems.isEmpty()) {
    services_.messages.Warn(problems.join(QLatin1Char('\n')));
  }
}

void frmMain::ShowOptions() {
  frmOpt_->exec();
}

void frmMain::ShowAbout() {
  frmAbout_->exec();
}

}  // namespace lapse::ui
