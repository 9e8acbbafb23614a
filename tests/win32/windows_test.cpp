// The Win32 windows, created hidden over a folder of the test's own, with
// message boxes and help that the test answers.
// windows.h comes before every other Windows header.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "front/help_topics.h"
#include "messages/messages.h"
#include "platform/disk.h"
#include "platform/errors.h"
#include "schedule/history.h"
#include "support/fake_runner.h"
#include "support/memory_settings_store.h"
#include "support/temp_dir.h"
#include "win32/frm_about.h"
#include "win32/frm_coming.h"
#include "win32/frm_main.h"
#include "win32/frm_opt.h"
#include "win32/frm_schedule.h"
#include "win32/progress_window.h"
#include "win32/text.h"
#include "win32/text_window.h"

namespace lapse::win32 {
namespace {

batch::RunOptions TestRunOptions() {
  batch::RunOptions options;
  options.locale = text::EnglishDateLocale();
  options.clock = [] { return std::chrono::local_days{std::chrono::year{2026} / 12 / 9}; };
  options.lockWait = std::chrono::milliseconds(0);
  return options;
}

class ScriptedPrompts final : public Prompts {
 public:
  bool AskYesNo(HWND, const std::wstring& text) override {
    said.push_back(L"ask: " + text);
    return true;
  }
  void Tell(HWND, const std::wstring& text) override { said.push_back(L"tell: " + text); }
  void Warn(HWND, const std::wstring& text) override { said.push_back(L"warn: " + text); }
  std::vector<std::wstring> said;
};

class RecordingHelp final : public HelpPages {
 public:
  void ShowTopic(HWND, int topic) override { topics.push_back(topic); }
  void Close() override { ++closes; }
  std::vector<int> topics;
  int closes = 0;
};

class RecordingEditor final : public Editor {
 public:
  bool Open(const std::filesystem::path& file) override {
    opened.push_back(file);
    return true;
  }
  std::vector<std::filesystem::path> opened;
};

std::wstring CaptionOf(HWND control) {
  wchar_t text[256] = {};
  GetWindowTextW(control, text, 256);
  return text;
}

std::wstring ClassOf(HWND control) {
  wchar_t name[64] = {};
  GetClassNameW(control, name, 64);
  return name;
}

RECT PlaceIn(HWND control) {
  RECT place;
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

struct Expected {
  const char* name;
  const wchar_t* className;
  const wchar_t* caption;
  Twips place;
  // A row fitted to its font keeps its top and order, and only grows.
  bool fitted = false;
};

void ExpectControls(const Window& window, const std::vector<Expected>& expected) {
  const UINT dpi = DpiOf(window.Handle());
  for (const Expected& control : expected) {
    SCOPED_TRACE(control.name);
    HWND handle = window.ControlNamed(control.name);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(_wcsicmp(ClassOf(handle).c_str(), control.className), 0) << Utf8(ClassOf(handle));
    if (control.caption != nullptr) {
      EXPECT_EQ(CaptionOf(handle), control.caption);
    }
    const RECT place = PlaceIn(handle);
    const RECT designed = PixelRect(control.place, dpi);
    if (control.fitted) {
      EXPECT_EQ(place.top, designed.top);
      EXPECT_GE(place.left, designed.left);
      EXPECT_GE(place.right - place.left, designed.right - designed.left);
      continue;
    }
    EXPECT_EQ(place.left, designed.left);
    EXPECT_EQ(place.top, designed.top);
    EXPECT_EQ(place.right, designed.right);
    // A drop-down list is as high as its font makes it.
    if (_wcsicmp(control.className, WC_COMBOBOXW) != 0) {
      EXPECT_EQ(place.bottom, designed.bottom);
    }
  }
}

// The controls that Tab visits, in its order, whether or not they are
// enabled now.
std::vector<std::string> TabOrder(const Window& window) {
  std::vector<std::string> order;
  for (HWND control = GetWindow(window.Handle(), GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    for (const Control& known : window.Controls()) {
      if (known.handle == control && (GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP) != 0) {
        order.emplace_back(known.name);
      }
    }
  }
  return order;
}

class WindowsTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    std::ofstream(dir_ / "a.htm") << "<!--LAPSE 01/01/20\nold\n<!--ENDL\nkept\n";
    std::ofstream(dir_ / "notes.txt") << "n\n";
    SetCurrentDirectoryW(dir_.c_str());
    store_.values[{"Lapse", "New", "Days"}] = "7";
    window_ =
        std::make_unique<frmMain>(MainServices{store_, prompts_, help_, editor_, TestRunOptions(),
                                               [] { return std::vector<front::Drive>{}; }});
  }
  void TearDown() override {
    window_.reset();
    SetCurrentDirectoryW(std::filesystem::temp_directory_path().c_str());
    TempDirTest::TearDown();
  }
  void Click(const char* name) {
    SendMessageW(window_->Handle(), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(window_->ControlNamed(name)), BN_CLICKED),
                 reinterpret_cast<LPARAM>(window_->ControlNamed(name)));
  }
  bool Enabled(const char* name) const {
    return IsWindowEnabled(window_->ControlNamed(name)) != FALSE;
  }

  testing_support::MemorySettingsStore store_;
  ScriptedPrompts prompts_;
  RecordingHelp help_;
  RecordingEditor editor_;
  std::unique_ptr<frmMain> window_;
};

TEST_F(WindowsTest, TheMainWindowHasItsControlsWhereTheyWereDesigned) {
  EXPECT_EQ(CaptionOf(window_->Handle()), L"Lapse");
  ExpectControls(*window_,
                 {{"cmdReplace", WC_BUTTONW, L"&Replace old files", {2760, 4080, 1815, 615}},
                  {"cmdLog", WC_BUTTONW, L"&View Log", {2760, 3360, 1815, 615}},
                  {"fileMain", WC_LISTBOXW, L"", {2760, 720, 1815, 2400}},
                  {"cmdGo", WC_BUTTONW, L"&GO!", {480, 3360, 2175, 1335}},
                  {"dirMain", WC_LISTBOXW, L"", {480, 720, 2175, 2505}},
                  {"drvMain", WC_COMBOBOXW, nullptr, {480, 240, 2175, 315}}});
  EXPECT_EQ(TabOrder(*window_), (std::vector<std::string>{"cmdGo", "cmdLog", "drvMain", "dirMain",
                                                          "fileMain", "cmdReplace"}));
  RECT client;
  GetClientRect(window_->Handle(), &client);
  const UINT dpi = DpiOf(window_->Handle());
  EXPECT_EQ(client.right, Pixels(4980, dpi));
  EXPECT_EQ(client.bottom, Pixels(4905, dpi));
}

TEST_F(WindowsTest, TheListsShowTheStartFolderAndItsFiles) {
  HWND files = window_->ControlNamed("fileMain");
  EXPECT_EQ(SendMessageW(files, LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(window_->FolderItems().back(), FolderText(dir_.native()));
  HWND drives = window_->ControlNamed("drvMain");
  EXPECT_NE(SendMessageW(drives, CB_GETCURSEL, 0, 0), CB_ERR);
}

TEST_F(WindowsTest, ALetterTypedInTheFolderListMovesToTheNextFolderOfThatLetter) {
  for (const char* name : {"Quails", "Quinces", "Xylem"}) {
    std::filesystem::create_directory(dir_ / name);
  }
  window_.reset();
  window_ =
      std::make_unique<frmMain>(MainServices{store_, prompts_, help_, editor_, TestRunOptions(),
                                             [] { return std::vector<front::Drive>{}; }});
  HWND list = window_->ControlNamed("dirMain");
  const struct {
    wchar_t typed;
    const char* highlighted;
  } keys[] = {{L'q', "Quails"}, {L'Q', "Quinces"}, {L'x', "Xylem"},
              {L'z', "Xylem"},  {L'q', "Quails"},  {L' ', "Quails"}};
  for (const auto& key : keys) {
    SendMessageW(list, WM_CHAR, key.typed, 1);
    const auto index = static_cast<size_t>(SendMessageW(list, LB_GETCURSEL, 0, 0));
    ASSERT_LT(index, window_->FolderItems().size());
    const std::string& folder = window_->FolderItems()[index];
    EXPECT_EQ(folder.substr(folder.find_last_of('/') + 1), key.highlighted)
        << static_cast<char>(key.typed);
  }
}

TEST_F(WindowsTest, GoEnablesReplaceAndTheLogAndReplaceTurnsItselfOff) {
  EXPECT_EQ(window_->State().NewDays, 7);
  EXPECT_FALSE(Enabled("cmdReplace"));
  EXPECT_FALSE(Enabled("cmdLog"));
  Click("cmdGo");
  ASSERT_EQ(prompts_.said.size(), 2u);
  EXPECT_EQ(prompts_.said.back(), L"tell: Processed 2 files.");
  EXPECT_TRUE(Enabled("cmdReplace"));
  EXPECT_TRUE(Enabled("cmdLog"));
  // The new folder shows in the folder list at once.
  EXPECT_EQ(window_->FolderItems().back(), FolderText((dir_ / "New").native()));

  Click("cmdLog");
  EXPECT_EQ(editor_.opened, std::vector<std::filesystem::path>{dir_ / "New" / "Log.txt"});

  Click("cmdReplace");
  EXPECT_FALSE(Enabled("cmdReplace"));
  EXPECT_TRUE(Enabled("cmdLog"));
  EXPECT_EQ(window_->FolderItems().back(), FolderText(dir_.native()));
  std::ifstream page(dir_ / "a.htm", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(page), {}), "kept\r\n");
}

TEST_F(WindowsTest, TheQuestionNamesTheSubfoldersWhenTheRunTakesThem) {
  struct Case {
    int subfolders;
    const wchar_t* ending;
  };
  for (const Case& c : {Case{0, L"?"}, Case{1, L" and its subfolders?"}}) {
    SCOPED_TRACE(c.subfolders);
    prompts_.said.clear();
    window_->State().Subfolders = c.subfolders;
    Click("cmdGo");
    ASSERT_FALSE(prompts_.said.empty());
    EXPECT_EQ(prompts_.said.front(),
              L"ask: Update all HTML files in " + (dir_ / "").native() + c.ending);
  }
}

// Deleted behind the program's back: the lists move up to the folder that
// is left, with the run's reason told.
TEST_F(WindowsTest, AfterARunOnADeletedFolderTheListsShowTheNearestFolderLeft) {
  std::filesystem::create_directories(dir_ / "gone" / "deeper");
  const auto open = [this](const std::filesystem::path& folder) {
    const auto& items = window_->FolderItems();
    window_->OpenFolderItem(static_cast<int>(
        std::find(items.begin(), items.end(), FolderText(folder.native())) - items.begin()));
  };
  open(dir_);  // lists "gone" too
  open(dir_ / "gone");
  open(dir_ / "gone" / "deeper");
  ASSERT_EQ(window_->FolderItems().back(), FolderText((dir_ / "gone" / "deeper").native()));
  std::filesystem::remove_all(dir_ / "gone");
  Click("cmdGo");
  ASSERT_FALSE(prompts_.said.empty());
  EXPECT_EQ(prompts_.said.back().rfind(L"warn: ", 0), 0u) << Utf8(prompts_.said.back());
  // The folder list ends with the opened folder's subfolders, and the site
  // has none left.
  EXPECT_EQ(window_->FolderItems().back(), FolderText(dir_.native()));
  EXPECT_FALSE(Enabled("cmdReplace"));
}

TEST_F(WindowsTest, AFolderThatCannotBeOpenedLeavesTheListsWhereTheyWere) {
  std::filesystem::create_directory(dir_ / "gone");
  const auto indexOf = [this](const std::filesystem::path& folder) {
    const auto& items = window_->FolderItems();
    return static_cast<int>(std::find(items.begin(), items.end(), FolderText(folder.native())) -
                            items.begin());
  };
  window_->OpenFolderItem(indexOf(dir_));  // lists "gone" too
  const std::vector<std::string> before = window_->FolderItems();
  std::filesystem::remove(dir_ / "gone");
  window_->OpenFolderItem(indexOf(dir_ / "gone"));
  EXPECT_EQ(window_->FolderItems(), before);
  ASSERT_FALSE(prompts_.said.empty());
  EXPECT_EQ(prompts_.said.back().rfind(L"warn: Cannot open the folder ", 0), 0u)
      << Utf8(prompts_.said.back());
}

TEST_F(WindowsTest, TheOptionsDialogShowsTheOptionsAndApplies) {
  frmOpt& dialog = *window_->Options();
  EXPECT_EQ(CaptionOf(dialog.Handle()), L"Options");
  ExpectControls(
      dialog,
      {{"cmdOK", WC_BUTTONW, L"OK", {120, 2880, 975, 375}},
       {"cmdCancel", WC_BUTTONW, L"Cancel", {1200, 2880, 975, 375}},
       {"cmdApply", WC_BUTTONW, L"Apply", {2280, 2880, 975, 375}},
       {"cmdHelp", WC_BUTTONW, L"Help", {3360, 2880, 975, 375}},
       {"tabOpt", WC_TABCONTROLW, L"", {120, 120, 4215, 2655}},
       {"lblDays", WC_STATICW, L"New tags expire after", {120, 600, 1695, 255}, true},
       {"txtDays", WC_EDITW, L"", {1680, 600, 735, 285}, true},
       {"lblLines2", WC_STATICW, L"line(s) of text after tag", {1440, 1200, 2535, 255}, true},
       {"chkLog", WC_BUTTONW, L"Generate Log.txt file?", {360, 720, 2055, 375}, true}});
  EXPECT_EQ(dialog.SelectedTab(), 1);

  // Shown and cancelled at once: its Activate has run.
  PostMessageW(dialog.Handle(), WM_COMMAND, IDCANCEL, 0);
  dialog.ShowModal(window_->Handle());
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("txtDays")), L"7");
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("txtLines")), L"1");
  EXPECT_EQ(SendMessageW(dialog.ControlNamed("chkLog"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(IsWindowEnabled(dialog.ControlNamed("cmdApply")));

  SetWindowTextW(dialog.ControlNamed("txtLines"), L" 3 ");
  EXPECT_TRUE(IsWindowEnabled(dialog.ControlNamed("cmdApply")));
  SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(kCmdApply, BN_CLICKED), 0);
  EXPECT_EQ(window_->State().Lines, 3);
  EXPECT_FALSE(IsWindowEnabled(dialog.ControlNamed("cmdApply")));

  SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(kCmdHelp, BN_CLICKED), 0);
  EXPECT_EQ(help_.topics, std::vector<int>{21});
}

// Task Scheduler through a fake schtasks that keeps the names it was given.
class ScheduleDialogTest : public WindowsTest {
 protected:
  void SetUp() override {
    WindowsTest::SetUp();
    Write(dir_ / "lapse-cli.exe", "a program");
    runner_.present = {"schtasks"};
    runner_.answers["schtasks"] = [this](const testing_support::ProgramCall& call) {
      if (call.args[0] == "/Create") {
        tasks_.insert(call.args[2]);
      } else if (call.args[0] == "/Delete") {
        tasks_.erase(call.args[2]);
      } else if (tasks_.count(call.args[2]) == 0) {
        return schedule::ProgramResult{true, 1, {}, {}};
      }
      return schedule::ProgramResult{true, 0, {}, {}};
    };
    const std::filesystem::path root = dir_;
    services_.host = [this, root] {
      schedule::Host host(runner_);
      host.program = root / "lapse-cli.exe";
      host.stateFolder = root / "state";
      host.windows = true;
      return host;
    };
    services_.nextChange = [](const std::filesystem::path&, bool recursive) {
      return recursive ? std::optional(std::chrono::local_days{std::chrono::year{2027} / 1 / 15})
                       : std::nullopt;
    };
  }
  void Press(frmSchedule& dialog, int id) {
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  }

  testing_support::FakeRunner runner_;
  std::set<std::string> tasks_;
  front::ScheduleServices services_;
};

TEST_F(ScheduleDialogTest, TheDialogSchedulesAndStopsTheFoldersTask) {
  frmSchedule dialog(services_, prompts_, help_, window_->Handle());
  EXPECT_EQ(CaptionOf(dialog.Handle()), L"Schedule");
  ExpectControls(
      dialog, {{"lblFolder", WC_STATICW, L"Folder:", {120, 120, 2100, 255}},
               {"txtTime", WC_EDITW, nullptr, {2280, 1320, 735, 285}, true},
               {"chkSubfolders", WC_BUTTONW, L"Include &subfolders", {2280, 1740, 3600, 375}, true},
               {"cmdSchedule", WC_BUTTONW, L"&Schedule", {120, 3300, 1335, 375}},
               {"cmdStop", WC_BUTTONW, L"S&top", {1560, 3300, 1335, 375}},
               {"cmdClose", WC_BUTTONW, L"Close", {3000, 3300, 1335, 375}},
               {"cmdHelp", WC_BUTTONW, L"Help", {4440, 3300, 1335, 375}},
               {"lblLastUpdate", WC_STATICW, L"Last update:", {120, 2640, 2100, 255}}});
  EXPECT_EQ(TabOrder(dialog), (std::vector<std::string>{"txtTime", "chkSubfolders", "cmdSchedule",
                                                        "cmdStop", "cmdClose", "cmdHelp"}));

  const std::filesystem::path site = std::filesystem::canonical(dir_);
  dialog.Load(site, true);
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("txtFolder")), site.wstring());
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("lblStatus")), L"Not updated automatically.");
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("txtTime")), L"00:05");
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("txtNextLapse")), L"2027-01-15");
  EXPECT_FALSE(IsWindowEnabled(dialog.ControlNamed("cmdStop")));

  SetWindowTextW(dialog.ControlNamed("txtTime"), L" 06:30 ");
  Press(dialog, IDOK);
  EXPECT_TRUE(prompts_.said.empty()) << Utf8(prompts_.said.front());
  EXPECT_EQ(tasks_.size(), 1u);
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("lblStatus")),
            L"Updated automatically every day at 06:30, with its subfolders, by Task Scheduler. "
            L"Update options: dates month first.");
  EXPECT_TRUE(IsWindowEnabled(dialog.ControlNamed("cmdStop")));

  SetWindowTextW(dialog.ControlNamed("txtTime"), L"7pm");
  Press(dialog, IDOK);
  ASSERT_EQ(prompts_.said.size(), 1u);
  EXPECT_EQ(prompts_.said[0].rfind(L"warn: '7pm' is no time of day", 0), 0u);

  Press(dialog, kCmdStop);
  EXPECT_TRUE(tasks_.empty());
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("lblStatus")), L"Not updated automatically.");

  Press(dialog, kCmdScheduleHelp);
  EXPECT_EQ(help_.topics, std::vector<int>{25});
}

// The longest texts: a task that wine's Task Scheduler keeps but never
// starts, and a last update that names a long page and why it was left.
// Each wrapped text gets the lines it takes, as drawn, and pushes what is
// below it down inside the dialog; the warning names no task and quotes
// nothing.
TEST_F(ScheduleDialogTest, LongTextsFitAndATaskThatWillNotRunIsWarnedOf) {
  const std::filesystem::path root = dir_;
  services_.host = [this, root] {
    schedule::Host host(runner_);
    host.program = root / "lapse-cli.exe";
    host.stateFolder = root / "state";
    host.windows = true;
    host.wine = true;
    return host;
  };
  const std::filesystem::path site = std::filesystem::canonical(dir_);
  schedule::HistoryEntry update;
  update.time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8};
  update.folder = site;
  update.status = 1;
  update.rewritten = 1234;
  update.left = {{"news\\archive\\2026\\december\\the-longest-page-name-of-the-site.htm",
                  "its page changed after the run, so its copy was left in New"},
                 {"b.htm", "its page changed after the run"}};
  ASSERT_FALSE(schedule::AppendHistory(update, schedule::HistoryFile(root / "state")));
  frmSchedule dialog(services_, prompts_, help_, window_->Handle());
  dialog.Load(site, false);
  Press(dialog, IDOK);
  ASSERT_EQ(prompts_.said.size(), 1u);
  const std::wstring& warned = prompts_.said[0];
  EXPECT_EQ(warned.rfind(L"warn: Saved: the daily update of ", 0), 0u) << Utf8(warned);
  EXPECT_EQ(warned.find_first_of(L"'\""), std::wstring::npos) << Utf8(warned);
  EXPECT_EQ(CaptionOf(dialog.ControlNamed("lblStatus")).rfind(L"Scheduled every day at 00:05", 0),
            0u);

  const auto below = [&dialog](const char* upper, const char* lower) {
    SCOPED_TRACE(upper);
    HWND label = dialog.ControlNamed(upper);
    const std::wstring text = CaptionOf(label);
    const RECT place = PlaceIn(label);
    HDC context = GetDC(label);
    const auto previous =
        SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT drawn{0, 0, place.right - place.left, 0};
    DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &drawn,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(context, previous);
    ReleaseDC(label, context);
    EXPECT_GT(drawn.bottom, PixelRect({0, 0, 0, 480}, DpiOf(dialog.Handle())).bottom)
        << "the text is no longer than the two lines designed";
    EXPECT_GE(place.bottom - place.top, drawn.bottom);
    EXPECT_LE(place.bottom, PlaceIn(dialog.ControlNamed(lower)).top);
  };
  below("lblStatus", "txtTime");
  below("txtLastUpdate", "cmdSchedule");
  RECT client;
  GetClientRect(dialog.Handle(), &client);
  EXPECT_LE(PlaceIn(dialog.ControlNamed("cmdHelp")).bottom, client.bottom);
}

// Moved to a screen of another DPI, the dialog is laid out at the DPI the
// message gives, which a system without GetDpiForWindow cannot tell of the
// window: what is above the texts stays at its place, what is below them
// below them.
TEST_F(ScheduleDialogTest, AtAnotherDpiTheTextsFitAtThatDpi) {
  frmSchedule dialog(services_, prompts_, help_, window_->Handle());
  dialog.Load(std::filesystem::canonical(dir_), false);
  const UINT dpi = DpiOf(dialog.Handle()) * 2;
  RECT suggested{0, 0, Pixels(6000, dpi), Pixels(3795, dpi)};
  SendMessageW(dialog.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(PlaceIn(dialog.ControlNamed("lblFolder")).top, Pixels(120, dpi));
  EXPECT_EQ(PlaceIn(dialog.ControlNamed("lblStatus")).top, Pixels(720, dpi));
  EXPECT_GE(PlaceIn(dialog.ControlNamed("txtTime")).top, Pixels(1320, dpi));
  EXPECT_GE(PlaceIn(dialog.ControlNamed("cmdSchedule")).top, Pixels(3300, dpi));
  RECT client;
  GetClientRect(dialog.Handle(), &client);
  EXPECT_GE(client.bottom, Pixels(3795, dpi));
}

// The texts of the schedule dialog's controls, read as it shows, which then
// closes it.
std::vector<std::wstring> scheduleTexts;

BOOL CALLBACK NoteText(HWND child, LPARAM) {
  scheduleTexts.push_back(CaptionOf(child));
  return TRUE;
}

void CALLBACK ReadAndCloseSchedule(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowW(L"frmSchedule", nullptr);
  if (dialog == nullptr) {
    return;
  }
  KillTimer(nullptr, timer);
  EnumChildWindows(dialog, NoteText, 0);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(ScheduleDialogTest, TheSetupMenuOpensTheDialogOnTheOpenedFolder) {
  MainServices services{store_,  prompts_,         help_,
                        editor_, TestRunOptions(), [] { return std::vector<front::Drive>{}; }};
  services.schedule = services_;
  window_.reset();
  window_ = std::make_unique<frmMain>(services);
  window_->State().Subfolders = 1;
  scheduleTexts.clear();
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, ReadAndCloseSchedule);
  SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(kMnuSchedule, 0), 0);
  KillTimer(nullptr, timer);
  EXPECT_NE(std::find(scheduleTexts.begin(), scheduleTexts.end(),
                      FolderPath(window_->FolderItems().back())),
            scheduleTexts.end());
  EXPECT_NE(std::find(scheduleTexts.begin(), scheduleTexts.end(), L"2027-01-15"),
            scheduleTexts.end());
  EXPECT_EQ(FindWindowW(L"frmSchedule", nullptr), nullptr);
  EXPECT_TRUE(tasks_.empty());
}

// What a timer saw of a dialog while it showed modally; the dialog is closed
// at the end of the timer's work.
struct ModalVisit {
  ModalVisit(const wchar_t* windowClass, const char* control, const Window* window)
      : windowClass(windowClass), control(control), window(window) {}
  const wchar_t* windowClass;
  const char* control;  // focused before F1, where there is one
  const Window* window;
  int step = 0;
  HWND focusOnOpening = nullptr;
  std::wstring typed;
  HWND focusAfterHelp = nullptr;
};
ModalVisit* visit = nullptr;

// Types a new time over the one shown, as a user would at once.
void CALLBACK TypeTimeAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowW(visit->windowClass, nullptr);
  if (dialog == nullptr || !IsWindowVisible(dialog)) {
    return;
  }
  KillTimer(nullptr, timer);
  visit->focusOnOpening = GetFocus();
  for (const wchar_t key : std::wstring(L"07:30")) {
    SendMessageW(visit->focusOnOpening, WM_CHAR, key, 1);
  }
  visit->typed = CaptionOf(visit->focusOnOpening);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

// F1 on a control, then another window is active for a moment and the dialog
// again, as when the help window is closed.
void CALLBACK HelpAndComeBack(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindWindowW(visit->windowClass, nullptr);
  if (dialog == nullptr || !IsWindowVisible(dialog)) {
    return;
  }
  HWND control = visit->window->ControlNamed(visit->control);
  if (visit->step++ == 0) {
    SetFocus(control);
    PostMessageW(control, WM_KEYDOWN, VK_F1, 0);
    return;
  }
  KillTimer(nullptr, timer);
  HWND other = CreateWindowExW(0, WC_STATICW, L"help", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                               nullptr, nullptr, nullptr);
  SetActiveWindow(other);
  SetActiveWindow(dialog);
  visit->focusAfterHelp = GetFocus();
  DestroyWindow(other);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(ScheduleDialogTest, TypingOnOpeningReplacesTheTime) {
  frmSchedule dialog(services_, prompts_, help_, window_->Handle());
  ModalVisit seen{L"frmSchedule", nullptr, &dialog};
  visit = &seen;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, TypeTimeAndClose);
  dialog.Open(std::filesystem::canonical(dir_), false);
  KillTimer(nullptr, timer);
  EXPECT_EQ(seen.focusOnOpening, dialog.ControlNamed("txtTime"));
  EXPECT_EQ(seen.typed, L"07:30");
}

TEST_F(ScheduleDialogTest, AfterHelpTheFocusIsWhereItWas) {
  frmSchedule schedule(services_, prompts_, help_, window_->Handle());
  const struct {
    const wchar_t* windowClass;
    const char* control;
    std::function<void()> open;
    const Window* window;
  } cases[] = {
      {L"frmSchedule", "chkSubfolders",
       [&] { schedule.Open(std::filesystem::canonical(dir_), false); }, &schedule},
      {L"frmOpt", "cmdCancel", [&] { window_->Options()->ShowModal(window_->Handle()); },
       window_->Options()},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.control);
    help_.topics.clear();
    ModalVisit seen{each.windowClass, each.control, each.window};
    visit = &seen;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, HelpAndComeBack);
    each.open();
    KillTimer(nullptr, timer);
    EXPECT_EQ(help_.topics.size(), 1u);
    EXPECT_EQ(seen.focusAfterHelp, each.window->ControlNamed(each.control));
  }
}

// The "Coming up" window over a site with a date that cannot be read and a
// sale that ends on 2026-12-20, followed by a notice shown from 2026-12-21;
// the tests' today is 2026-12-09.
class ComingUpTest : public WindowsTest {
 protected:
  void SetUp() override {
    WindowsTest::SetUp();
    Write(dir_ / "sale.htm",
          "<p>top</p>\r\n<!--LAPSE 12/20/26\r\n<p>Winter sale</p>\r\n<!--ENDL\r\n"
          "<!--LSHOW 12/21/26\r\n<p>Sale over</p>\r\n-->\r\n");
    Write(dir_ / "bad.htm", "<!--LNEW 31/31/26\r\n<p>new</p>\r\n");
  }
};

std::wstring CellOf(HWND list, int row, int column) {
  wchar_t text[256] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 256;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

// A pane's lines as "number mark text", the mark one of " -+".
std::vector<std::wstring> PaneOf(HWND pane) {
  std::vector<std::wstring> lines;
  const auto count = SendMessageW(pane, LB_GETCOUNT, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    std::wstring text(static_cast<size_t>(SendMessageW(pane, LB_GETTEXTLEN, index, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(pane, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    const auto data = static_cast<std::uint64_t>(SendMessageW(pane, LB_GETITEMDATA, index, 0));
    lines.push_back(std::to_wstring(data >> 2U) + L" -+"[data & 3U] + text);
  }
  return lines;
}

// What the window showed while it was open, read by a timer in its loop.
struct ComingSeen {
  std::wstring caption;
  std::vector<std::vector<std::wstring>> rows;
  SYSTEMTIME picked{};
  std::vector<std::wstring> nowBefore;
  std::vector<std::wstring> onDayBefore;
  std::wstring dayHeading;
  std::vector<std::wstring> now;
  std::vector<std::wstring> onDay;
  std::wstring note;
};
ComingSeen comingSeen;

// Reads the list, picks the sale's row as a click does, then 2026-12-21 in
// the date picker as the user does; then F1, Enter and Escape on the list.
void CALLBACK ReadComingUp(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND window = FindWindowW(L"frmComing", nullptr);
  if (window == nullptr || IsWindowVisible(window) == FALSE) {
    return;
  }
  KillTimer(nullptr, timer);
  ComingSeen& seen = comingSeen;
  seen.caption = CaptionOf(window);
  HWND list = GetDlgItem(window, kLvwComing);
  int sale = -1;
  for (int row = 0; row < SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); ++row) {
    seen.rows.emplace_back();
    for (int column = 0; column < 6; ++column) {
      seen.rows.back().push_back(CellOf(list, row, column));
    }
    if (seen.rows.back()[2] == L"sale.htm" && seen.rows.back()[3] == L"2") {
      sale = row;
    }
  }
  HWND picker = GetDlgItem(window, kDtpLookAt);
  SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&seen.picked));
  if (sale >= 0) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(sale),
                 reinterpret_cast<LPARAM>(&state));
  }
  seen.nowBefore = PaneOf(GetDlgItem(window, kLstNow));
  seen.onDayBefore = PaneOf(GetDlgItem(window, kLstOnDay));
  NMDATETIMECHANGE change{};
  change.nmhdr = {picker, static_cast<UINT_PTR>(kDtpLookAt), static_cast<UINT>(DTN_DATETIMECHANGE)};
  change.dwFlags = GDT_VALID;
  change.st.wYear = 2026;
  change.st.wMonth = 12;
  change.st.wDay = 21;
  SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&change.st));
  SendMessageW(window, WM_NOTIFY, kDtpLookAt, reinterpret_cast<LPARAM>(&change));
  seen.dayHeading = CaptionOf(FindWindowExW(window, nullptr, WC_STATICW, L"On 2026-12-21"));
  seen.now = PaneOf(GetDlgItem(window, kLstNow));
  seen.onDay = PaneOf(GetDlgItem(window, kLstOnDay));
  SetFocus(list);
  for (const WPARAM key : {VK_F1, VK_RETURN, VK_ESCAPE}) {
    PostMessageW(list, WM_KEYDOWN, key, 1);
  }
}

TEST_F(ComingUpTest, TheSetupMenuOpensTheWindowAndARowShowsItsPageOnTheDayPicked) {
  comingSeen = {};
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, ReadComingUp);
  SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(kMnuComing, 0), 0);
  KillTimer(nullptr, timer);
  const ComingSeen& seen = comingSeen;
  EXPECT_EQ(seen.caption, L"Coming up in " + dir_.native());
  ASSERT_EQ(seen.rows.size(), 4u);
  // The date that cannot be read comes first, named as such.
  EXPECT_EQ(seen.rows[0][1], L"date format error");
  EXPECT_EQ(seen.rows[0][2], L"bad.htm");
  EXPECT_EQ(seen.rows[0][4], L"new");
  EXPECT_EQ(seen.rows[0][5], L"<p>new</p>");
  EXPECT_EQ(seen.picked.wYear, 2026);
  EXPECT_EQ(seen.picked.wMonth, 12);
  EXPECT_EQ(seen.picked.wDay, 9);
  // On the tests' today nothing of the sale's page changes yet.
  const std::vector<std::wstring> asItIs{
      L"1 <p>top</p>", L"2 <!--LAPSE 12/20/26", L"3 <p>Winter sale</p>",
      L"4 <!--ENDL",   L"5 <!--LSHOW 12/21/26", L"6 <p>Sale over</p>",
      L"7 -->"};
  EXPECT_EQ(seen.nowBefore, asItIs);
  EXPECT_EQ(seen.onDayBefore, asItIs);
  EXPECT_EQ(seen.dayHeading, L"On 2026-12-21");
  EXPECT_EQ(seen.now,
            (std::vector<std::wstring>{L"1 <p>top</p>", L"2-<!--LAPSE 12/20/26",
                                       L"3-<p>Winter sale</p>", L"4-<!--ENDL",
                                       L"5-<!--LSHOW 12/21/26", L"6+<p>Sale over</p>", L"7--->"}));
  EXPECT_EQ(seen.onDay, (std::vector<std::wstring>{L"1 <p>top</p>", L"6+<p>Sale over</p>"}));
  // F1 opened the window's topic, Enter the page, Escape closed the window.
  EXPECT_EQ(help_.topics, std::vector<int>{front::topic::kComing});
  EXPECT_EQ(editor_.opened, std::vector<std::filesystem::path>{dir_ / "sale.htm"});
  EXPECT_EQ(FindWindowW(L"frmComing", nullptr), nullptr);
  EXPECT_TRUE(prompts_.said.empty());
}

TEST_F(ComingUpTest, TheWindowFitsASmallScreenAndItsControlsFollowItsSize) {
  frmComing window(
      front::ComingLogic(platform::MachineDisk(), dir_, {7, 1, text::EnglishDateLocale(), false},
                         std::chrono::local_days{std::chrono::year{2026} / 12 / 9}),
      {prompts_, help_, editor_}, window_->Handle());
  window.Load();
  const UINT dpi = DpiOf(window.Handle());
  RECT frame;
  GetWindowRect(window.Handle(), &frame);
  EXPECT_LE(frame.right - frame.left, MulDiv(800, static_cast<int>(dpi), 96));
  EXPECT_LE(frame.bottom - frame.top, MulDiv(600, static_cast<int>(dpi), 96));
  EXPECT_EQ(TabOrder(window), (std::vector<std::string>{"dtpLookAt", "lvwComing", "lstNow",
                                                        "lstOnDay", "cmdOpen", "cmdClose"}));
  // The first row is selected as the window opens, so its page shows.
  EXPECT_EQ(window.PaneLines(kLstNow).size(), 2u);
  EXPECT_TRUE(IsWindowEnabled(window.ControlNamed("cmdOpen")));

  const char* names[] = {"lvwComing", "lstNow", "lstOnDay", "cmdOpen", "lblOnDay"};
  std::vector<RECT> before;
  for (const char* name : names) {
    before.push_back(PlaceIn(window.ControlNamed(name)));
  }
  const int wider = 200;
  const int higher = 100;
  SetWindowPos(window.Handle(), nullptr, 0, 0, frame.right - frame.left + wider,
               frame.bottom - frame.top + higher, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  std::vector<RECT> after;
  for (const char* name : names) {
    after.push_back(PlaceIn(window.ControlNamed(name)));
  }
  const auto width = [](const RECT& r) { return r.right - r.left; };
  const auto height = [](const RECT& r) { return r.bottom - r.top; };
  // The list takes the whole added width and half the added height; the
  // panes share the width and take the other half below it; the buttons
  // keep to the bottom.
  EXPECT_EQ(width(after[0]), width(before[0]) + wider);
  EXPECT_EQ(height(after[0]), height(before[0]) + higher / 2);
  EXPECT_EQ(after[1].top, before[1].top + higher / 2);
  EXPECT_EQ(height(after[1]), height(before[1]) + higher / 2);
  EXPECT_EQ(width(after[1]) + width(after[2]), width(before[1]) + width(before[2]) + wider);
  EXPECT_EQ(after[2].left - after[1].right, before[2].left - before[1].right);
  EXPECT_EQ(after[3].top, before[3].top + higher);
  EXPECT_EQ(width(after[3]), width(before[3]));
  EXPECT_EQ(after[4].left, after[2].left);
}

TEST_F(WindowsTest, TheAboutBoxShowsTheNameAndVersion) {
  frmAbout& about = *window_->About();
  EXPECT_EQ(CaptionOf(about.Handle()), L"About Lapse");
  ExpectControls(about,
                 {{"cmdOK", WC_BUTTONW, L"OK", {1800, 1800, 1335, 495}},
                  {"imgAbout", WC_STATICW, L"", {600, 240, 480, 480}},
                  {"Label1", WC_STATICW, L"Lapse Version 1.4", {1800, 240, 1335, 255}, true}});
}

TEST_F(WindowsTest, ClosingStoresTheOptionsAndClosesHelp) {
  window_->State().Lines = 5;
  SendMessageW(window_->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window_->Handle(), nullptr);
  EXPECT_EQ(store_.At("New", "Lines"), "5");
  EXPECT_EQ(store_.At("General", "Log"), " 1");
  EXPECT_EQ(help_.closes, 1);
  MSG quit;
  EXPECT_NE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE), 0);
}

class FolderLockTest : public testing_support::TempDirTest {};

// A mutex cannot tell its owner: the message for a busy folder names the
// holder from what the holder published, here another thread of this process.
TEST_F(FolderLockTest, ABusyFolderNamesTheProcessThatHoldsItAndSinceWhen) {
  platform::Disk& disk = platform::MachineDisk();
  const std::filesystem::path folder = dir_ / "";
  std::promise<bool> locked;
  std::promise<void> release;
  std::thread holder([&] {
    auto opened = disk.OpenFolder(folder);
    if (!opened) {
      locked.set_value(false);
      return;
    }
    const auto lock = disk.Lock(**opened, std::chrono::milliseconds(0));
    locked.set_value(static_cast<bool>(lock));
    release.get_future().wait();
  });
  const bool held = locked.get_future().get();
  auto opened = disk.OpenFolder(folder);
  ASSERT_TRUE(opened);
  const auto refused = disk.Lock(**opened, std::chrono::milliseconds(0));
  release.set_value();
  holder.join();
  ASSERT_TRUE(held);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().error, platform::FolderBusyError());
  EXPECT_EQ(refused.error().holder.process, std::optional<std::uint64_t>(GetCurrentProcessId()));
  ASSERT_TRUE(refused.error().holder.since);
  EXPECT_LE(*refused.error().holder.since, std::chrono::system_clock::now());
  EXPECT_GT(*refused.error().holder.since,
            std::chrono::system_clock::now() - std::chrono::hours(1));
  const std::string said = messages::Busy(dir_, refused.error().holder);
  EXPECT_NE(said.find("(process " + std::to_string(GetCurrentProcessId()) + ", since "),
            std::string::npos)
      << said;

  // Released, the folder is free again and the next holder is this thread.
  const auto again = disk.Lock(**opened, std::chrono::milliseconds(0));
  EXPECT_TRUE(again);
}

TEST(RegistryStoreTest, ValuesComeBackAsTheyWereStored) {
  RegistryStore store;
  store.Set("LapseTest", "General", "Log", " 1");
  store.Set("LapseTest", "New", "Days", "Grüße");
  EXPECT_EQ(store.Get("LapseTest", "General", "Log", "x"), " 1");
  EXPECT_EQ(store.Get("LapseTest", "New", "Days", "x"), "Grüße");
  EXPECT_EQ(store.Get("LapseTest", "New", "Missing", "default"), "default");
  EXPECT_FALSE(store.WriteFailed());
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\LapseTest");
}

// Where notepad cannot be started, the log shows in the program's own
// window: each line in the encoding it is valid in, UTF-8 or the ANSI code
// page.
class OwnTextWindowTest : public testing_support::TempDirTest {};

TEST_F(OwnTextWindowTest, WithoutNotepadTheLogShowsInAWindowOfTheProgramsOwn) {
  // An ANSI code page of UTF-8 would leave nothing to tell apart.
  ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8));
  wchar_t eAcute = 0;  // what the ANSI code page makes of the byte E9
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, &eAcute, 1), 1);
  const std::filesystem::path log = dir_ / "Log.txt";
  std::ofstream(log, std::ios::binary) << "a.htm\r\nCaf\xE9\r\nb.htm\r\nGr\xC3\xBC\xC3\x9F\x65\n";
  Notepad editor(dir_ / "no-such-notepad.exe");
  EXPECT_TRUE(editor.Open(log));
  const TextWindow* window = editor.OwnWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_NE(IsWindowVisible(window->Handle()), FALSE);
  EXPECT_EQ(CaptionOf(window->Handle()), L"Log.txt in " + dir_.native());
  EXPECT_EQ(window->Text(),
            L"a.htm\r\nCaf" + std::wstring(1, eAcute) + L"\r\nb.htm\r\nGr\u00FC\u00DFe\r\n");
  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(IsWindowVisible(window->Handle()), FALSE);

  std::filesystem::remove(log);
  EXPECT_TRUE(editor.Open(log));
  EXPECT_EQ(window->Text().rfind(L"Cannot read " + log.native() + L": ", 0), 0u)
      << Utf8(window->Text());
}

// The progress window shows a bar and the count, and draws no title of its
// own across them.
TEST(ProgressWindowTest, AfterASecondItShowsTheCountTheBarAndThePage) {
  const HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 400, 300, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  {
    ProgressWindow progress(owner);
    Sleep(1100);
    progress.Advance(3, 10, L"sub\\a.htm");
    const HWND window = FindWindowExW(nullptr, nullptr, WC_DIALOG, L"Lapse");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetWindow(window, GW_OWNER), owner);
    const HWND text = FindWindowExW(window, nullptr, L"STATIC", nullptr);
    const HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    ASSERT_NE(text, nullptr);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(CaptionOf(text), L"3 of 10 files\nsub\\a.htm");
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 3);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 10);
  }
  EXPECT_EQ(FindWindowExW(nullptr, nullptr, WC_DIALOG, L"Lapse"), nullptr);
  DestroyWindow(owner);
}

TEST(NotepadTest, ThePathIsOneQuotedArgument) {
  EXPECT_EQ(NotepadCommandLine(L"C:\\My Site\\-x\\Log.txt"),
            L"notepad.exe \"C:\\My Site\\-x\\Log.txt\"");
}

}  // namespace
}  // namespace lapse::win32
