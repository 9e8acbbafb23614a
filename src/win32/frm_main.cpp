#include "win32/frm_main.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "front/folder_chain.h"
#include "front/folder_text.h"
#include "front/help_topics.h"
#include "messages/messages.h"
#include "win32/frm_about.h"
#include "win32/frm_coming.h"
#include "win32/frm_opt.h"
#include "win32/frm_schedule.h"
#include "win32/progress_window.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kList = WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;

// The menu items by identifier, for F1 on a highlighted one.
constexpr std::pair<int, const char*> kMenuItems[] = {
    {kMnuUndo, "mnuUndo"},    {kMnuExit, "mnuExit"},   {kMnuOpt, "mnuOpt"},
    {kMnuCont, "mnuCont"},    {kMnuAbout, "mnuAbout"}, {kMnuSchedule, "mnuSchedule"},
    {kMnuComing, "mnuComing"}};

std::wstring Indented(const std::wstring& name, int depth) {
  return std::wstring(static_cast<size_t>(depth) * 2, L' ') + name;
}

// The next folder after the highlighted one, round to it, whose name begins
// with typed, in any case; -1 when none does. The list cannot find it itself:
// every name it holds begins with its indentation.
int NextStartingWith(HWND list, wchar_t typed) {
  const auto count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  const auto current = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
  for (int step = 1; step <= count; ++step) {
    const int index = (current + step + count) % count;
    std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, index, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    const size_t first = text.find_first_not_of(L' ');
    if (first != std::wstring::npos &&
        CompareStringOrdinal(text.data() + first, 1, &typed, 1, TRUE) == CSTR_EQUAL) {
      return index;
    }
  }
  return -1;
}

LRESULT CALLBACK FolderListKeys(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR) {
  if (message == WM_CHAR && wParam >= L' ') {
    const int next = NextStartingWith(list, static_cast<wchar_t>(wParam));
    if (next >= 0) {
      SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
      SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    }
    return 0;
  }
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(list, FolderListKeys, 0);
  }
  return DefSubclassProc(list, message, wParam, lParam);
}

std::wstring LastName(const std::string& folder) {
  const auto slash = folder.find_last_of('/');
  if (slash == std::string::npos || folder.size() <= 3) {
    return FolderPath(folder);
  }
  return Wide(folder.substr(slash + 1));
}

std::string Child(const std::string& folder, const std::wstring& name) {
  return (folder.back() == '/' ? folder : folder + '/') + Utf8(name);
}

// The buttons' bold 9.75 points, a little smaller where the longest caption
// would touch its button's frame.
HFONT FittingButtonFont(UINT dpi) {
  const std::wstring caption = L"Replace old files";
  const int room = Pixels(1815, dpi) - 2 * Pixels(120, dpi);
  HDC context = GetDC(nullptr);
  HFONT font = nullptr;
  for (int size = 975; size >= 600; size -= 25) {
    font = MakeFont(dpi, Weight::Bold, size);
    const auto previous = SelectObject(context, font);
    SIZE extent{};
    GetTextExtentPoint32W(context, caption.c_str(), static_cast<int>(caption.size()), &extent);
    SelectObject(context, previous);
    if (extent.cx <= room || size == 600) {
      break;
    }
    DeleteObject(font);
  }
  ReleaseDC(nullptr, context);
  return font;
}

}  // namespace

frmMain::frmMain(MainServices services)
    : services_(std::move(services)),
      logic_(*this, services_.store, services_.disk, services_.run, services_.keepIn) {
  Create(L"frmMain", L"Lapse", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0,
         {1950, 2655, 4980, 4905}, nullptr);
  CreateMenus();
  CreateControls();
  logic_.Load();
  OpenStartFolder();
  Layout(DpiOf(Handle()));
  SetFocus(ControlNamed("cmdGo"));
}

frmMain::~frmMain() {
  if (buttonFont_ != nullptr) {
    DeleteObject(buttonFont_);
  }
}

void frmMain::CreateControls() {
  // Created in tab order: the dialog keys follow the order of creation.
  AddControl("cmdGo", WC_BUTTONW, L"&GO!", kButton, kCmdGo, {480, 3360, 2175, 1335});
  AddControl("cmdLog", WC_BUTTONW, L"&View Log", kButton, kCmdLog, {2760, 3360, 1815, 615});
  AddControl("drvMain", WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kDrvMain,
             {480, 240, 2175, 315 * 8});
  AddControl("dirMain", WC_LISTBOXW, L"", kList, kDirMain, {480, 720, 2175, 2505});
  SetWindowSubclass(ControlNamed("dirMain"), FolderListKeys, 0, 0);
  AddControl("fileMain", WC_LISTBOXW, L"", kList | LBS_NOSEL, kFileMain, {2760, 720, 1815, 2400});
  AddControl("cmdReplace", WC_BUTTONW, L"&Replace old files", kButton, kCmdReplace,
             {2760, 4080, 1815, 615});
  buttonFont_ = FittingButtonFont(DpiOf(Handle()));
  for (const char* name : {"cmdGo", "cmdLog", "cmdReplace"}) {
    SendMessageW(ControlNamed(name), WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_), FALSE);
  }
}

void frmMain::CreateMenus() {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, kMnuUndo, L"&Undo replace");
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(file, MF_STRING, kMnuExit, L"E&xit");
  HMENU setup = CreatePopupMenu();
  AppendMenuW(setup, MF_STRING, kMnuOpt, L"&Options...");
  AppendMenuW(setup, MF_STRING, kMnuSchedule, L"&Schedule...");
  AppendMenuW(setup, MF_STRING, kMnuComing, Wide(front::ComingMenuText()).c_str());
  HMENU help = CreatePopupMenu();
  AppendMenuW(help, MF_STRING, kMnuCont, L"&Contents\tF1");
  AppendMenuW(help, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(help, MF_STRING, kMnuAbout, L"&About Lapse...");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(setup), L"&Setup");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
  SetMenu(Handle(), bar);
}

void frmMain::OpenStartFolder() {
  front::StartPlace start;
  start.drives = services_.drives();
  std::wstring current(MAX_PATH, L'\0');
  current.resize(GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
  start.folder = FolderText(current);
  // Then the user's own folder, then the root of the start folder's drive.
  std::wstring home(MAX_PATH, L'\0');
  home.resize(
      GetEnvironmentVariableW(L"USERPROFILE", home.data(), static_cast<DWORD>(home.size())));
  if (!home.empty() && home.size() < MAX_PATH) {
    start.then.push_back(FolderText(home));
  }
  start.then.push_back(front::RootOfPath(start.folder));
  logic_.OpenStartFolder(start);
}

void frmMain::Unload() {
  if (unloaded_) {
    return;
  }
  unloaded_ = true;
  logic_.Unload();
  DestroyWindow(Handle());
}

bool frmMain::PreTranslate(MSG& message) {
  // F1 is the shortcut of "Contents" everywhere on the main window.
  if (message.message == WM_KEYDOWN && message.wParam == VK_F1 &&
      (message.hwnd == Handle() || IsChild(Handle(), message.hwnd))) {
    ShowHelp(front::topic::kMain);
    return true;
  }
  return false;
}

LRESULT frmMain::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_HELP: {
      // F1 while a menu item is highlighted: that item's topic.
      const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
      if (info->iContextType == HELPINFO_MENUITEM) {
        for (const auto& [id, name] : kMenuItems) {
          if (id == info->iCtrlId) {
            ShowHelp(front::HelpTopicOf(name).value_or(front::topic::kMain));
          }
        }
      }
      return TRUE;
    }
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // The close button, the system menu and Exit all end here; the
      // program cannot refuse to end. While a command works (a run, a
      // dialog shown), the end waits until it has returned.
      if (commandDepth_ > 0) {
        closePending_ = true;
        for (Window* dialog :
             {static_cast<Window*>(frmOpt_.get()), static_cast<Window*>(frmAbout_.get()),
              static_cast<Window*>(frmSchedule_), static_cast<Window*>(frmComing_)}) {
          if (dialog != nullptr && dialog->Shown()) {
            dialog->EndModal();
          }
        }
        return 0;
      }
      Unload();
      return 0;
    case WM_ENDSESSION:
      // Logging off or shutting down ends the program without a close.
      if (wParam != FALSE) {
        logic_.Unload();
      }
      return 0;
    case WM_ACTIVATE:
      // The control that had the focus gets it back after a message box, a
      // dialog or another program.
      if (LOWORD(wParam) == WA_INACTIVE) {
        lastFocus_ = GetFocus();
        return 0;
      }
      if (lastFocus_ != nullptr && IsChild(Handle(), lastFocus_)) {
        SetFocus(lastFocus_);
      }
      // Back from another program, the folder shown may have been deleted
      // there.
      logic_.Activated();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_DPICHANGED: {
      const LRESULT result = Window::OnMessage(message, wParam, lParam);
      DeleteObject(buttonFont_);
      buttonFont_ = FittingButtonFont(HIWORD(wParam));
      for (const char* name : {"cmdGo", "cmdLog", "cmdReplace"}) {
        SendMessageW(ControlNamed(name), WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_), TRUE);
      }
      return result;
    }
    default:
      break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

void frmMain::Command(int id, int notification) {
  ++commandDepth_;
  Dispatch(id, notification);
  --commandDepth_;
  if (commandDepth_ == 0 && closePending_) {
    closePending_ = false;
    Unload();
  }
}

void frmMain::Dispatch(int id, int notification) {
  switch (id) {
    case kCmdGo:
      logic_.Go();
      return;
    case kCmdLog:
      logic_.ViewLog();
      return;
    case kCmdReplace:
      logic_.ReplaceOldFiles();
      return;
    case kDrvMain:
      // A drive is chosen when its list closes on it, or by the arrow keys
      // while the list is closed; passing over drives in the open list
      // opens none of them.
      if (notification == CBN_SELENDOK ||
          (notification == CBN_SELCHANGE &&
           SendMessageW(ControlNamed("drvMain"), CB_GETDROPPEDSTATE, 0, 0) == FALSE)) {
        const auto index = SendMessageW(ControlNamed("drvMain"), CB_GETCURSEL, 0, 0);
        if (index >= 0 && static_cast<size_t>(index) < driveRoots_.size()) {
          logic_.DriveChosen(driveRoots_[static_cast<size_t>(index)]);
        }
      }
      return;
    case kDirMain:
      if (notification == LBN_DBLCLK) {
        OpenFolderItem(static_cast<int>(SendMessageW(ControlNamed("dirMain"), LB_GETCURSEL, 0, 0)));
      }
      return;
    case IDOK: {
      // Enter presses the focused button, as Space does, and opens the
      // highlighted folder in the folder list.
      HWND focus = GetFocus();
      if (focus == ControlNamed("dirMain")) {
        OpenFolderItem(static_cast<int>(SendMessageW(focus, LB_GETCURSEL, 0, 0)));
      }
      for (const char* name : {"cmdGo", "cmdLog", "cmdReplace"}) {
        if (focus == ControlNamed(name) && IsWindowEnabled(focus) != FALSE) {
          Dispatch(GetDlgCtrlID(focus), BN_CLICKED);
        }
      }
      return;
    }
    case kMnuUndo:
      logic_.UndoReplace();
      return;
    case kMnuExit:
      Unload();
      return;
    case kMnuOpt:
      frmOpt_->ShowModal(Handle());
      return;
    case kMnuSchedule:
      OpenSchedule();
      return;
    case kMnuComing:
      OpenComing();
      return;
    case kMnuCont:
      ShowHelp(front::topic::kMain);
      return;
    case kMnuAbout:
      frmAbout_->ShowModal(Handle());
      return;
    default:
      return;
  }
}

void frmMain::OpenFolderItem(int index) {
  if (index < 0 || static_cast<size_t>(index) >= folderItems_.size()) {
    return;
  }
  const std::string why = OpenFolder(folderItems_[static_cast<size_t>(index)]);
  if (!why.empty()) {
    logic_.FolderOpenFailed(why);
  }
}

void frmMain::OpenSchedule() {
  const front::ScheduleServices services = logic_.ScheduleServicesFrom(services_.schedule);
  frmSchedule dialog(services, services_.prompts, services_.help, Handle());
  frmSchedule_ = &dialog;
  dialog.Open(front::PathOf(openedFolder_), logic_.State().Subfolders != 0);
  frmSchedule_ = nullptr;
}

void frmMain::OpenComing() {
  const state::ProgramState& state = logic_.State();
  const front::ComingSettings settings{state.NewDays, state.Lines, services_.run.locale,
                                       state.Subfolders != 0};
  // Reading a large site may run out of memory: said, and the main window
  // goes on.
  try {
    frmComing window(front::ComingLogic(services_.disk, front::PathOf(openedFolder_), settings,
                                        services_.run.clock()),
                     {services_.prompts, services_.help, services_.editor}, Handle());
    frmComing_ = &window;
    SetPointer(front::Pointer::Busy);
    window.Load();
    SetPointer(front::Pointer::Normal);
    window.ShowModal(Handle());
  } catch (const std::exception& error) {
    // The message is read with the normal pointer.
    SetPointer(front::Pointer::Normal);
    Warn(messages::WindowFailed(error.what()));
  }
  frmComing_ = nullptr;
  SetPointer(front::Pointer::Normal);
}

void frmMain::MakeOptionsDialog() {
  frmOpt_ = std::make_unique<frmOpt>(logic_.State(), services_.prompts, services_.help, Handle());
}

void frmMain::UseColourScheme() {
  // The controls take the window colours as they are drawn (Window::Handle),
  // so that they follow the user's colours while the program runs.
  InvalidateRect(Handle(), nullptr, TRUE);
}

void frmMain::MakeAboutBox() {
  frmAbout_ = std::make_unique<frmAbout>(services_.help, Handle());
}

void frmMain::DropDialogs() {
  frmOpt_.reset();
  frmAbout_.reset();
}

void frmMain::CloseHelp() {
  services_.help.Close();
}

void frmMain::EnableUndo(bool enabled) {
  EnableMenuItem(GetMenu(Handle()), kMnuUndo, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void frmMain::EnableButton(front::MainButton button, bool enabled) {
  EnableWindow(ControlNamed(button == front::MainButton::Replace ? "cmdReplace" : "cmdLog"),
               enabled ? TRUE : FALSE);
}

void frmMain::SetPointer(front::Pointer pointer) {
  busy_ = pointer == front::Pointer::Busy;
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy_ ? 32514 : 32512)));
}

bool frmMain::Ask(const std::string& question) {
  return services_.prompts.AskYesNo(Handle(), Wide(question));
}

void frmMain::Tell(const std::string& text) {
  services_.prompts.Tell(Handle(), Wide(text));
}

void frmMain::Warn(const std::string& text) {
  services_.prompts.Warn(Handle(), Wide(text));
}

void frmMain::Repaint() {
  RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void frmMain::ShowProgress(std::uint64_t done, std::uint64_t listed,
                           const std::filesystem::path& current) {
  if (!progress_) {
    progress_ = std::make_unique<ProgressWindow>(Handle());
  }
  progress_->Advance(done, listed, current);
}

void frmMain::CloseProgress() {
  progress_.reset();
}

void frmMain::ShowHelp(int topic) {
  services_.help.ShowTopic(Handle(), topic);
}

bool frmMain::StartEditor(const std::filesystem::path& file) {
  return services_.editor.Open(file);
}

void frmMain::ShowDrives(const front::DriveTable& drives) {
  HWND list = ControlNamed("drvMain");
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  driveRoots_.clear();
  for (const front::Drive& drive : drives.Drives()) {
    const std::wstring caption = Wide(front::DriveTable::Caption(drive, '\\'));
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(caption.c_str()));
    driveRoots_.push_back(drive.root);
  }
}

void frmMain::ShowDrive(const std::string& root) {
  const auto found = std::find_if(
      driveRoots_.begin(), driveRoots_.end(),
      [&root](const std::string& r) { return _stricmp(r.c_str(), root.c_str()) == 0; });
  SendMessageW(ControlNamed("drvMain"), CB_SETCURSEL,
               found == driveRoots_.end() ? static_cast<WPARAM>(-1)
                                          : static_cast<WPARAM>(found - driveRoots_.begin()),
               0);
}

std::string frmMain::OpenFolder(const std::string& folder) {
  const Listing subfolders = ListFolder(FolderPath(folder), EntryWanted::Folders);
  if (!subfolders.error.empty()) {
    return subfolders.error;
  }
  HWND list = ControlNamed("dirMain");
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  folderItems_ = front::FolderChain(folder);
  int depth = 0;
  for (const std::string& ancestor : folderItems_) {
    const std::wstring text = Indented(LastName(ancestor), depth++);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  const auto opened = static_cast<WPARAM>(folderItems_.size() - 1);
  openedFolder_ = folderItems_.back();
  for (const std::wstring& name : subfolders.names) {
    folderItems_.push_back(Child(openedFolder_, name));
    const std::wstring text = Indented(name, depth);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(list, LB_SETCURSEL, opened, 0);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  logic_.FolderOpened(openedFolder_);
  return {};
}

void frmMain::RefreshFolders() {
  const std::vector<std::string> chain = front::FolderChain(openedFolder_);
  for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder) {
    if (OpenFolder(*folder).empty()) {
      return;
    }
  }
}

void frmMain::ListFiles(const std::string& folder) {
  HWND list = ControlNamed("fileMain");
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::wstring& name : ListFolder(FolderPath(folder), EntryWanted::Files).names) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

}  // namespace lapse::win32
