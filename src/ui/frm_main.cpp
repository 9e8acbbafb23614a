#include "ui/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "front/folder_text.h"
#include "ui/colour_scheme.h"
#include "ui/editor.h"
#include "ui/frm_about.h"
#include "ui/frm_coming.h"
#include "ui/frm_opt.h"
#include "ui/frm_schedule.h"
#include "ui/help.h"
#include "ui/message_boxes.h"
#include "ui/program_icon.h"
#include "ui/progress_window.h"
#include "ui/twips.h"

namespace lapse::ui {

namespace {

QPushButton* MakeButton(const QString& name, const QString& caption, QRect place, QWidget* parent) {
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
  CarryHelpTopic(*button);
  return button;
}

QAction* AddItem(QMenu* menu, const QString& name, const QString& caption) {
  QAction* item = menu->addAction(caption);
  item->setObjectName(name);
  CarryHelpTopic(*item);
  return item;
}

}  // namespace

frmMain::frmMain(MainServices services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      services_(std::move(services)),
      logic_(*this, services_.store, services_.disk, services_.run, services_.keepIn) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Lapse"));
  setWindowIcon(ProgramIcon());
  CarryHelpTopic(*this);
  CreateControls();
  CreateMenus();
  logic_.Load();

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
                          TwipsRect(2760, 4080, 1815, 615), client);
  cmdLog = MakeButton(QStringLiteral("cmdLog"), QStringLiteral("&View Log"),
                      TwipsRect(2760, 3360, 1815, 615), client);
  fileMain = new FileList(client);
  fileMain->setObjectName(QStringLiteral("fileMain"));
  fileMain->setGeometry(TwipsRect(2760, 720, 1815, 2400));
  cmdGo = MakeButton(QStringLiteral("cmdGo"), QStringLiteral("&GO!"),
                     TwipsRect(480, 3360, 2175, 1335), client);
  dirMain = new DirectoryList(client);
  dirMain->setObjectName(QStringLiteral("dirMain"));
  dirMain->setGeometry(TwipsRect(480, 720, 2175, 2505));
  drvMain = new DriveList(client);
  drvMain->setObjectName(QStringLiteral("drvMain"));
  drvMain->setGeometry(TwipsRect(480, 240, 2175, 315));

  // Enter presses the focused button, as Space does.
  for (QPushButton* button : {cmdGo, cmdLog, cmdReplace}) {
    button->installEventFilter(this);
  }

  setTabOrder(cmdGo, cmdLog);
  setTabOrder(cmdLog, drvMain);
  setTabOrder(drvMain, dirMain);
  setTabOrder(dirMain, fileMain);
  setTabOrder(fileMain, cmdReplace);

  connect(drvMain, &DriveList::driveChosen, this,
          [this](const QString& root) { logic_.DriveChosen(root.toStdString()); });
  connect(dirMain, &DirectoryList::pathChanged, this,
          [this](const QString& path) { logic_.FolderOpened(path.toStdString()); });
  connect(dirMain, &DirectoryList::openFailed, this,
          [this](const QString& why) { logic_.FolderOpenFailed(why.toStdString()); });
  connect(cmdGo, &QPushButton::clicked, this, [this] { logic_.Go(); });
  connect(cmdLog, &QPushButton::clicked, this, [this] { logic_.ViewLog(); });
  connect(cmdReplace, &QPushButton::clicked, this, [this] { logic_.ReplaceOldFiles(); });

  OpenStartDirectory();
}

void frmMain::CreateMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuUndo = AddItem(mnuFile, QStringLiteral("mnuUndo"), QStringLiteral("&Undo replace"));
  mnuSep0 = mnuFile->addSeparator();
  mnuSep0->setObjectName(QStringLiteral("mnuSep0"));
  mnuExit = AddItem(mnuFile, QStringLiteral("mnuExit"), QStringLiteral("E&xit"));

  mnuSet = menuBar()->addMenu(QStringLiteral("&Setup"));
  mnuSet->setObjectName(QStringLiteral("mnuSet"));
  mnuOpt = AddItem(mnuSet, QStringLiteral("mnuOpt"), QStringLiteral("&Options..."));
  mnuSchedule = AddItem(mnuSet, QStringLiteral("mnuSchedule"), QStringLiteral("&Schedule..."));
  mnuComing =
      AddItem(mnuSet, QStringLiteral("mnuComing"), QString::fromStdString(front::ComingMenuText()));

  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuCont = AddItem(mnuHelp, QStringLiteral("mnuCont"), QStringLiteral("&Contents"));
  mnuCont->setShortcut(QKeySequence(Qt::Key_F1));
  mnuSep1 = mnuHelp->addSeparator();
  mnuSep1->setObjectName(QStringLiteral("mnuSep1"));
  mnuAbout = AddItem(mnuHelp, QStringLiteral("mnuAbout"), QStringLiteral("&About Lapse..."));

  for (QMenu* menu : {mnuFile, mnuSet, mnuHelp}) {
    menu->installEventFilter(this);
  }
  connect(mnuUndo, &QAction::triggered, this, [this] { logic_.UndoReplace(); });
  connect(mnuExit, &QAction::triggered, this, &QWidget::close);
  connect(mnuOpt, &QAction::triggered, this, [this] { frmOpt_->exec(); });
  connect(mnuSchedule, &QAction::triggered, this, &frmMain::OpenSchedule);
  connect(mnuComing, &QAction::triggered, this, &frmMain::OpenComing);
  connect(mnuCont, &QAction::triggered, this, [this] { ShowHelp(topic::kMain); });
  connect(mnuAbout, &QAction::triggered, this, [this] { frmAbout_->exec(); });
}

std::vector<QObject*> frmMain::ControlOrder() const {
  return {cmdReplace,
          cmdLog,
          fileMain,
          cmdGo,
          dirMain,
          drvMain,
          mnuFile->menuAction(),
          mnuUndo,
          mnuSep0,
          mnuExit,
          mnuSet->menuAction(),
          mnuOpt,
          mnuSchedule,
          mnuComing,
          mnuHelp->menuAction(),
          mnuCont,
          mnuSep1,
          mnuAbout};
}

void frmMain::changeEvent(QEvent* event) {
  // Back from another program, the folder shown may have been deleted there.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    logic_.Activated();
  }
  QMainWindow::changeEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event) {
  // Exit, the close button and the system menu all end here; the program
  // cannot refuse to end.
  logic_.Unload();
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
  front::StartPlace start;
  const std::vector<Drive> drives = services_.drives();
  start.drives.reserve(drives.size());
  for (const Drive& drive : drives) {
    start.drives.push_back({drive.root.toStdString(), drive.label.toStdString()});
  }
  start.folder = QDir::currentPath().toStdString();
  start.then = {QDir::homePath().toStdString(), QDir::rootPath().toStdString()};
  logic_.OpenStartFolder(start);
}

void frmMain::OpenSchedule() {
  const front::ScheduleServices services = logic_.ScheduleServicesFrom(services_.schedule);
  frmSchedule dialog(services, services_.help, services_.messages, this);
  dialog.Open(front::PathOf(OpenedFolder()), logic_.State().Subfolders != 0);
}

void frmMain::OpenComing() {
  // One window at a time: a second choice of the item reads the folder anew.
  if (auto* open = findChild<frmComing*>(QString(), Qt::FindDirectChildrenOnly)) {
    open->close();
  }
  front::ComingSettings settings;
  settings.newDays = logic_.State().NewDays;
  settings.lines = logic_.State().Lines;
  settings.locale = services_.run.locale;
  settings.subfolders = logic_.State().Subfolders != 0;
  const text::Today today = services_.run.clock ? services_.run.clock() : text::Today{};
  // Reading the folder's pages may take a while on a large site.
  std::optional<BusyPointer> busy(std::in_place);
  auto* window = new frmComing(services_.disk, front::PathOf(OpenedFolder()), std::move(settings),
                               today, services_.help, services_.messages, services_.editor, this);
  busy.reset();
  window->show();
}

void frmMain::MakeOptionsDialog() {
  frmOpt_ = new frmOpt(logic_.State(), services_.help, services_.messages, this);
}

void frmMain::UseColourScheme() {
  ui::UseColourScheme(*this, *centralWidget(), [this] { return ControlOrder(); });
}

void frmMain::MakeAboutBox() {
  frmAbout_ = new frmAbout(services_.help, this);
}

void frmMain::DropDialogs() {
  delete frmOpt_;
  frmOpt_ = nullptr;
  delete frmAbout_;
  frmAbout_ = nullptr;
}

void frmMain::CloseHelp() {
  services_.help.Close();
}

void frmMain::EnableButton(front::MainButton button, bool enabled) {
  (button == front::MainButton::Replace ? cmdReplace : cmdLog)->setEnabled(enabled);
}

// The lists may announce a folder while the controls are made, before the
// menus are; the start folder's announcement comes after.
void frmMain::EnableUndo(bool enabled) {
  if (mnuUndo != nullptr) {
    mnuUndo->setEnabled(enabled);
  }
}

void frmMain::SetPointer(front::Pointer pointer) {
  if (pointer == front::Pointer::Busy) {
    if (!busy_) {
      busy_.emplace();
    }
  } else {
    busy_.reset();
  }
}

bool frmMain::Ask(const std::string& question) {
  return services_.messages.AskYesNo(QString::fromStdString(question));
}

void frmMain::Tell(const std::string& text) {
  services_.messages.Tell(QString::fromStdString(text));
}

void frmMain::Warn(const std::string& text) {
  services_.messages.Warn(QString::fromStdString(text));
}

void frmMain::Repaint() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void frmMain::ShowProgress(std::uint64_t done, std::uint64_t listed,
                           const std::filesystem::path& current) {
  if (!progress_) {
    progress_ = std::make_unique<ProgressWindow>(this);
  }
  progress_->Advance(done, listed, current);
}

void frmMain::CloseProgress() {
  if (progress_) {
    progress_->Close();
    progress_.reset();
  }
}

void frmMain::ShowHelp(int topic) {
  services_.help.ShowTopic(topic, this);
}

bool frmMain::StartEditor(const std::filesystem::path& file) {
  return services_.editor.Open(file);
}

void frmMain::ShowDrives(const front::DriveTable& drives) {
  drvMain->SetTable(drives);
}

void frmMain::ShowDrive(const std::string& root) {
  drvMain->ShowDrive(QString::fromStdString(root));
}

std::string frmMain::OpenFolder(const std::string& folder) {
  return dirMain->SetPath(QString::fromStdString(folder)).toStdString();
}

std::string frmMain::OpenedFolder() const {
  return dirMain->Path().toStdString();
}

void frmMain::RefreshFolders() {
  dirMain->Refresh();
}

void frmMain::ListFiles(const std::string& folder) {
  fileMain->SetPath(QString::fromStdString(folder));
}

}  // namespace lapse::ui
