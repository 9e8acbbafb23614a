#include "front/main_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>

#include "messages/messages.h"
#include "platform/memory_disk.h"
#include "support/batch_fixture.h"
#include "support/memory_settings_store.h"
#include "support/temp_dir.h"

namespace lapse::front {
namespace {

using Trace = std::vector<std::string>;

// A path as messages show it: with the platform's separators.
std::string Shown(std::string path) {
  std::replace(path.begin(), path.end(), '/', testing_support::kSeparator[0]);
  return path;
}

// Writes down, a line each, what the logic asks of its window, and answers
// the question and the folder openings as the test says.
class RecordingView final : public MainView {
 public:
  void MakeOptionsDialog() override { Note("options dialog"); }
  void UseColourScheme() override { Note("colours"); }
  void MakeAboutBox() override {
    Note("about box, days " + std::to_string(logic->State().NewDays));
  }
  void DropDialogs() override { Note("drop dialogs"); }
  void CloseHelp() override { Note("close help"); }
  void EnableButton(MainButton button, bool enabled) override {
    Note(std::string(button == MainButton::Replace ? "Replace" : "Log") +
         (enabled ? " on" : " off"));
  }
  // Kept apart from the trace: every folder opened sets it.
  void EnableUndo(bool enabled) override { undoEnabled = enabled; }
  void SetPointer(Pointer pointer) override { Note(pointer == Pointer::Busy ? "busy" : "normal"); }
  bool Ask(const std::string& question) override {
    Note("ask: " + question);
    if (whileAsking) {
      whileAsking();
    }
    return answer;
  }
  void Tell(const std::string& text) override { Note("tell: " + text); }
  void Warn(const std::string& text) override { Note("warn: " + text); }
  void Repaint() override { Note("repaint"); }
  void ShowProgress(std::uint64_t, std::uint64_t, const std::filesystem::path&) override {
    ++progressSteps;
  }
  void CloseProgress() override { Note("close progress"); }
  void ShowHelp(int topic) override { Note("help " + std::to_string(topic)); }
  bool StartEditor(const std::filesystem::path& file) override {
    Note("editor " + file.generic_string());
    return editorStarts;
  }
  void ShowDrives(const DriveTable& drives) override {
    std::string roots;
    for (const Drive& drive : drives.Drives()) {
      roots += " " + drive.root;
    }
    Note("drives" + roots);
  }
  void ShowDrive(const std::string& root) override { Note("drive " + root); }
  std::string OpenFolder(const std::string& folder) override {
    if (unreadable.count(folder) != 0) {
      return "cannot open " + folder;
    }
    opened = folder;
    logic->FolderOpened(folder);
    return {};
  }
  std::string OpenedFolder() const override { return opened; }
  void RefreshFolders() override { Note("refresh folders"); }
  void ListFiles(const std::string& folder) override { Note("files of " + folder); }

  void Note(std::string line) { trace.push_back(std::move(line)); }

  MainLogic* logic = nullptr;
  bool answer = true;
  std::function<void()> whileAsking;
  bool editorStarts = true;
  std::set<std::string> unreadable;
  std::string opened;
  int progressSteps = 0;
  bool undoEnabled = false;
  Trace trace;
};

class MainLogicTest : public testing::Test {
 protected:
  static inline const std::string kSite = "/site";

  MainLogicTest() : logic_(view_, store_, disk_, Options()) {
    view_.logic = &logic_;
    disk_.AddFolder(kSite);
  }

  static batch::RunOptions Options() { return testing_support::RunDayOptions(); }
  // Loads, opens the site and forgets what that took.
  void Start() {
    logic_.Load();
    logic_.OpenStartFolder({{{"/", {}}}, kSite, {}, PathCase::Sensitive, "/"});
    view_.trace.clear();
  }

  RecordingView view_;
  testing_support::MemorySettingsStore store_;
  platform::MemoryDisk disk_;
  MainLogic logic_;
};

TEST_F(MainLogicTest, LoadAndUnloadTakeTheirStepsInOrderAndUnloadOnce) {
  store_.values[{"Lapse", "New", "Days"}] = "7";
  logic_.Load();
  logic_.State().Lines = 4;
  logic_.Unload();
  logic_.Unload();
  EXPECT_EQ(view_.trace, (Trace{"options dialog", "colours", "about box, days 7", "Replace off",
                                "Log off", "drop dialogs", "close help"}));
  EXPECT_EQ(store_.At("New", "Lines"), "4");
}

TEST_F(MainLogicTest, ACompletedRunEnablesReplaceAndTheLogThenTellsTheCount) {
  disk_.AddFile(kSite + "/a.htm", "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n");
  disk_.AddFile(kSite + "/notes.txt", "n\n");
  Start();
  logic_.Go();
  EXPECT_EQ(view_.trace,
            (Trace{"busy", "normal", "ask: Update all HTML files in " + Shown("/site/") + "?",
                   "busy", "repaint", "refresh folders", "close progress", "normal", "Log on",
                   "Replace on", "tell: Processed 2 files."}));
  EXPECT_GT(view_.progressSteps, 0);
  EXPECT_EQ(disk_.Content("/site/New/a.htm"), "kept\n");
}

// A broken show block is warned of as its page is left out; a lapsed block
// that no end tag closed is warned of with the run's notes, before the count.
TEST_F(MainLogicTest, BrokenBlocksAreWarnedOf) {
  disk_.AddFile(kSite + "/a.htm", "<!--LSHOW 1/1/20\nsoon\n");
  disk_.AddFile(kSite + "/b.htm", "kept\n<!--LAPSE 1/1/20\nold\n");
  Start();
  logic_.Go();
  const Trace& trace = view_.trace;
  const auto at = [&trace](const std::string& line) {
    return std::find(trace.begin(), trace.end(), line) - trace.begin();
  };
  const auto shown =
      at("warn: a.htm:1: show block has no closing line \"-->\". The page is left "
         "as it is.");
  const auto unclosed =
      at("warn: b.htm:2: expiry block has no <!--ENDL; it runs to the end of the page.");
  const auto count = at("tell: Processed 2 files.");
  EXPECT_LT(shown, unclosed);
  EXPECT_LT(unclosed, count);
  EXPECT_LT(count, static_cast<std::ptrdiff_t>(trace.size()));
  EXPECT_EQ(disk_.Content("/site/New/b.htm"), "kept\n");
}

TEST_F(MainLogicTest, RunsThatDoNotCompleteEnableNothing) {
  struct Case {
    std::string name;
    bool answer;
    bool newIsAFile;
    Trace tail;
  };
  const Case cases[] = {
      {"declined", false, false, {"close progress", "normal"}},
      {"stopped",
       true,
       true,
       {"close progress", "normal",
        "warn: Cannot create the folder " + Shown("/site/New") +
            ": a file of that name is in the way."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingView view;
    platform::MemoryDisk disk;
    disk.AddFolder(kSite);
    if (c.newIsAFile) {
      disk.AddFile(kSite + "/New", "");
    }
    testing_support::MemorySettingsStore store;
    MainLogic logic(view, store, disk, Options());
    view.logic = &logic;
    view.answer = c.answer;
    view.opened = kSite;
    logic.Go();
    const Trace tail(view.trace.end() - static_cast<std::ptrdiff_t>(c.tail.size()),
                     view.trace.end());
    EXPECT_EQ(tail, c.tail);
    for (const std::string& line : view.trace) {
      EXPECT_EQ(line.find(" on"), std::string::npos) << line;
    }
  }
}

TEST_F(MainLogicTest, WithoutTheLogOptionOnlyReplaceIsEnabled) {
  Start();
  logic_.State().Log = 0;
  logic_.Go();
  EXPECT_EQ(std::count(view_.trace.begin(), view_.trace.end(), "Log on"), 0);
  EXPECT_EQ(std::count(view_.trace.begin(), view_.trace.end(), "Replace on"), 1);
}

TEST_F(MainLogicTest, ReplacePutsTheCopiesInPlaceAndTurnsItselfOff) {
  disk_.AddFile(kSite + "/a.htm", "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n");
  Start();
  logic_.Go();
  view_.trace.clear();
  logic_.ReplaceOldFiles();
  EXPECT_EQ(view_.trace,
            (Trace{"busy", "close progress", "Replace off", "refresh folders", "normal"}));
  EXPECT_EQ(disk_.Content("/site/a.htm"), "kept\n");
}

TEST_F(MainLogicTest, ReplaceTellsWhatItHeldBack) {
  disk_.AddFile(kSite + "/a.htm", "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n");
  Start();
  logic_.State().Log = 0;
  logic_.Go();
  disk_.AddFile(kSite + "/a.htm", "edited after the run\n");
  view_.trace.clear();
  logic_.ReplaceOldFiles();
  EXPECT_EQ(view_.trace.back(),
            "warn: a.htm stays in the folder New: its page changed after the run; run again.");
}

TEST_F(MainLogicTest, ViewLogOpensTheLogOrSaysWhyNot) {
  struct Case {
    std::string name;
    bool logWritten;
    bool editorStarts;
    std::string last;
  };
  const Case cases[] = {
      {"no log", false, true,
       "warn: There is no run log at /site/New/Log.txt: the last run wrote none."},
      {"opened", true, true, "editor /site/New/Log.txt"},
      {"no editor", true, false,
       "warn: Cannot open the run log /site/New/Log.txt in a text editor."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::MemoryDisk disk;
    disk.AddFolder("/site/New");
    if (c.logWritten) {
      disk.AddFile("/site/New/Log.txt", "lines\r\n");
    }
    RecordingView view;
    testing_support::MemorySettingsStore store;
    MainLogic logic(view, store, disk, Options());
    logic.State().LogPath = "/site/New/Log.txt";
    view.editorStarts = c.editorStarts;
    logic.ViewLog();
    EXPECT_EQ(view.trace.back(), c.last);
  }
}

TEST_F(MainLogicTest, TheListsFollowTheDriveAndTheFolder) {
  logic_.OpenStartFolder({{{"/media/stick", "STICK"}}, "/home/ann", {}, PathCase::Sensitive, "/"});
  EXPECT_EQ(view_.trace,
            (Trace{"drives / /media/stick", "drive /", "files of /home/ann", "drive /"}));
  view_.trace.clear();
  logic_.DriveChosen("/media/stick");
  logic_.DriveChosen("/");
  EXPECT_EQ(view_.trace, (Trace{"files of /media/stick", "drive /media/stick", "files of /home/ann",
                                "drive /"}));
}

TEST_F(MainLogicTest, AnUnreadableDriveOrStartFolderLeavesTheListsWhereTheyWere) {
  view_.unreadable = {"/home/ann"};
  logic_.OpenStartFolder(
      {{{"/media/stick", {}}}, "/home/ann", {"/home", "/"}, PathCase::Sensitive, "/"});
  EXPECT_EQ(view_.opened, "/home");
  view_.unreadable.insert("/media/stick");
  view_.trace.clear();
  logic_.DriveChosen("/media/stick");
  EXPECT_EQ(view_.trace, (Trace{"drive /", "warn: cannot open /media/stick"}));
  EXPECT_EQ(view_.opened, "/home");
}

// Replace puts in place what the last completed run made, whatever a later
// run that was declined showed, and nothing when no completed run waits.
TEST_F(MainLogicTest, ReplaceActsOnTheLastCompletedRunOnly) {
  const std::string lapsed = "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n";
  disk_.AddFile("/a/a.htm", lapsed);
  disk_.AddFile("/b/b.htm", lapsed);
  Start();
  logic_.ReplaceOldFiles();
  EXPECT_EQ(view_.trace, Trace{});
  view_.OpenFolder("/b");
  logic_.Go();
  view_.OpenFolder("/a");
  logic_.Go();
  view_.OpenFolder("/b");
  view_.answer = false;
  logic_.Go();
  EXPECT_EQ(logic_.State().SourceDir, Shown("/b/"));
  logic_.ReplaceOldFiles();
  EXPECT_EQ(disk_.Content("/a/a.htm"), "kept\n");
  EXPECT_EQ(disk_.Content("/b/b.htm"), lapsed);
  EXPECT_EQ(disk_.Content("/b/New/b.htm"), "kept\n");
  EXPECT_EQ(logic_.State().LogPath, Shown("/a/Log.txt"));
  view_.trace.clear();
  logic_.ReplaceOldFiles();
  EXPECT_EQ(view_.trace, Trace{});
}

// Another Lapse at work on the folder: the user is told who and nothing
// changes; a Replace waits for a later try.
TEST_F(MainLogicTest, AFolderAnotherLapseWorksOnIsLeftAlone) {
  disk_.AddFile(kSite + "/a.htm", "a\n<!--LNEW 1/1/20\nx\n");
  disk_.otherHolder.process = 4242;
  Start();
  logic_.Go();
  disk_.lockedByOthers.insert(Shown("/site/"));
  view_.trace.clear();
  logic_.Go();
  EXPECT_EQ(view_.trace.back(), "warn: " + Shown("/site/") +
                                    " is being updated by another Lapse (process 4242); try "
                                    "again later.");
  view_.trace.clear();
  logic_.ReplaceOldFiles();
  EXPECT_EQ(std::count(view_.trace.begin(), view_.trace.end(), "Replace off"), 0);
  disk_.lockedByOthers.clear();
  logic_.ReplaceOldFiles();
  EXPECT_EQ(disk_.Content("/site/a.htm"), "a\n");
}

// A folder deleted while the lists show it: the lists move up to the nearest
// folder that is left, after a run that stopped on it, on a refresh after a
// replace and when the window becomes active again; a folder that is still
// there stays, and so do the lists while a command works.
TEST_F(MainLogicTest, TheScheduleDialogTakesTheOptionsNowSetUnlessTheFaceGivesItsOwn) {
  Start();
  logic_.State().NewDays = 9;
  const ScheduleServices filled = logic_.ScheduleServicesFrom({});
  EXPECT_EQ(filled.options.days, 9);
  EXPECT_EQ(filled.options, logic_.ScheduledUpdateOptions());
  ASSERT_TRUE(filled.nextChange);
  EXPECT_EQ(filled.nextChange(kSite, false), logic_.NextChangeDay(kSite, false));

  ScheduleServices given;
  given.options.days = 3;
  const std::chrono::local_days aDay{std::chrono::year{2001} / 2 / 3};
  given.nextChange = [aDay](const std::filesystem::path&, bool) { return aDay; };
  const ScheduleServices kept = logic_.ScheduleServicesFrom(given);
  EXPECT_EQ(kept.options, given.options);
  EXPECT_EQ(kept.nextChange(kSite, false), aDay);
}

TEST_F(MainLogicTest, TheListsLeaveAFolderThatWasDeleted) {
  enum class Action { Go, ReplaceOfARunElsewhere, Activated, ActivatedWhileAsked };
  struct Case {
    std::string name;
    std::string shown;  // the folder the lists show; only /site and /other exist
    Action action;
    std::string openedAfter;
    std::string lastSaid;  // empty for nothing said
  };
  const Case cases[] = {
      {"run on a deleted folder", "/site/gone", Action::Go, "/site",
       "warn: Cannot open the folder " + Shown("/site/gone/") + ": No such file or directory."},
      {"several levels gone", "/site/a/b/c", Action::Activated, "/site", ""},
      {"everything up to the root gone", "/gone/a", Action::Activated, "/", ""},
      {"still there", "/site", Action::Activated, "/site", ""},
      {"refresh after a replace", "/site/gone", Action::ReplaceOfARunElsewhere, "/site", ""},
      {"not while a run asks", "/site", Action::ActivatedWhileAsked, "/site",
       "tell: Processed 0 files."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::MemoryDisk disk;
    disk.AddFolder(kSite);
    disk.AddFolder("/other");
    RecordingView view;
    testing_support::MemorySettingsStore store;
    MainLogic logic(view, store, disk, Options());
    view.logic = &logic;
    logic.Load();
    switch (c.action) {
      case Action::Go:
        view.opened = c.shown;
        logic.Go();
        break;
      case Action::ReplaceOfARunElsewhere:
        view.opened = "/other";
        logic.Go();
        view.opened = c.shown;
        logic.ReplaceOldFiles();
        break;
      case Action::Activated:
        view.opened = c.shown;
        logic.Activated();
        break;
      case Action::ActivatedWhileAsked:
        view.opened = c.shown;
        view.whileAsking = [&] {
          view.opened = "/site/deleted-meanwhile";
          logic.Activated();
          EXPECT_EQ(view.opened, "/site/deleted-meanwhile");
          view.opened = c.shown;
        };
        logic.Go();
        break;
    }
    EXPECT_EQ(view.opened, c.openedAfter);
    if (c.openedAfter != c.shown) {
      EXPECT_NE(std::find(view.trace.begin(), view.trace.end(), "files of " + c.openedAfter),
                view.trace.end());
    }
    const bool said = !view.trace.empty() && (view.trace.back().starts_with("warn: ") ||
                                              view.trace.back().starts_with("tell: "));
    EXPECT_EQ(said ? view.trace.back() : "", c.lastSaid);
  }
}

// A replace can be taken back from the File menu: it asks, puts back the
// pages as they were, and then has nothing more to undo.
TEST_F(MainLogicTest, UndoPutsBackWhatTheLastReplaceChanged) {
  const std::string lapsed = "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n";
  disk_.AddFile(kSite + "/a.htm", lapsed);
  disk_.AddFolder("/home/ann/.local/state");
  RecordingView view;
  testing_support::MemorySettingsStore store;
  MainLogic logic(view, store, disk_, Options(),
                  std::filesystem::path("/home/ann/.local/state/lapse"));
  view.logic = &logic;
  logic.Load();
  logic.OpenStartFolder({{{"/", {}}}, kSite, {}, PathCase::Sensitive, "/"});
  EXPECT_FALSE(view.undoEnabled);
  logic.Go();
  logic.ReplaceOldFiles();
  EXPECT_EQ(disk_.Content("/site/a.htm"), "kept\n");
  EXPECT_TRUE(view.undoEnabled);
  view.trace.clear();
  view.answer = false;
  logic.UndoReplace();
  EXPECT_EQ(disk_.Content("/site/a.htm"), "kept\n");
  ASSERT_EQ(view.trace.size(), 1u);
  EXPECT_TRUE(view.trace[0].starts_with("ask: Put back the page that the replace of "));
  EXPECT_TRUE(view.trace[0].ends_with(" changed in " + Shown("/site/") + "?"));
  view.answer = true;
  logic.UndoReplace();
  EXPECT_EQ(disk_.Content("/site/a.htm"), lapsed);
  EXPECT_FALSE(view.undoEnabled);
  EXPECT_EQ(std::count_if(view.trace.begin(), view.trace.end(),
                          [](const std::string& line) { return line.starts_with("warn"); }),
            0);
  // An undo that went well says what it put back.
  ASSERT_FALSE(view.trace.empty());
  EXPECT_TRUE(
      view.trace.back().starts_with("tell: Put back 1 page as it was before the replace of "))
      << view.trace.back();
  EXPECT_TRUE(view.trace.back().ends_with(" in " + Shown("/site/") + "."));
  // Nothing kept anywhere in the site.
  for (const std::string& path : disk_.Tree("/site")) {
    EXPECT_EQ(path.find("kept"), std::string::npos) << path;
  }
}

// A window logic that keeps what a replace replaces, over a disk whose site
// has been run and replaced once.
struct ReplacedSite {
  static platform::MemoryDisk& WithStateFolder(platform::MemoryDisk& disk) {
    disk.AddFolder("/home/ann/.local/state");
    return disk;
  }
  explicit ReplacedSite(platform::MemoryDisk& disk)
      : logic(view, store, WithStateFolder(disk), testing_support::RunDayOptions(),
              std::filesystem::path("/home/ann/.local/state/lapse")) {
    view.logic = &logic;
    logic.Load();
    logic.OpenStartFolder({{{"/", {}}}, "/site", {}, PathCase::Sensitive, "/"});
    logic.Go();
    logic.ReplaceOldFiles();
  }
  RecordingView view;
  testing_support::MemorySettingsStore store;
  MainLogic logic;
};

// Pages saved while the undo works are left as saved, and the warning names
// each of them.
TEST_F(MainLogicTest, UndoNamesEveryPageSavedWhileItRan) {
  const std::string lapsed = "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n";
  for (const char* page : {"/a.htm", "/b.htm", "/c.htm"}) {
    disk_.AddFile(kSite + page, lapsed);
  }
  ReplacedSite replaced(disk_);
  RecordingView& view = replaced.view;
  MainLogic& logic = replaced.logic;
  view.answer = true;
  view.trace.clear();
  // Saved by an editor while the undo keeps what it replaces.
  disk_.before = [this](const std::string& operation, const std::filesystem::path& name) {
    if (operation == "Link" && name != "a.htm") {
      disk_.AddFile(kSite + "/" + name.string(), "saved\n");
    }
  };
  logic.UndoReplace();
  disk_.before = nullptr;
  EXPECT_EQ(disk_.Content("/site/a.htm"), lapsed);
  EXPECT_EQ(disk_.Content("/site/b.htm"), "saved\n");
  EXPECT_EQ(disk_.Content("/site/c.htm"), "saved\n");
  ASSERT_FALSE(view.trace.empty());
  EXPECT_TRUE(view.trace.back().starts_with("warn: Put back 1 page as it was before the replace "))
      << view.trace.back();
  EXPECT_TRUE(
      view.trace.back().ends_with("\nb.htm: changed after the replace; left as it is.\n"
                                  "c.htm: changed after the replace; left as it is."));
}

// The log of a replace that is taken back whole tells of lines the pages
// hold again: View Log no longer offers it, as after a start with no run.
// Where pages were held back it still tells what they lost, and the log of
// a later run, here or elsewhere, is not the undone replace's at all.
TEST_F(MainLogicTest, AWholeUndoForgetsTheLogOfTheReplaceItTookBack) {
  enum class Meanwhile { Nothing, PageSavedWhileUndoing, RunElsewhereAfterTheReplace, RunHere };
  const struct {
    const char* name;
    Meanwhile meanwhile;
    bool logOffered;      // after the undo
    const char* editing;  // what View Log opens when offered
    const char* said;     // how the undo's message begins
  } cases[] = {
      {"every page back", Meanwhile::Nothing, false, "", "tell: Put back 2 pages "},
      {"a page held back", Meanwhile::PageSavedWhileUndoing, true, "/site/Log.txt",
       "warn: Put back 1 page "},
      {"another folder's run", Meanwhile::RunElsewhereAfterTheReplace, true, "/other/New/Log.txt",
       "tell: Put back 2 pages "},
      {"a run of the folder waits", Meanwhile::RunHere, true, "/site/New/Log.txt",
       "tell: Put back 2 pages "},
  };
  const std::string lapsed = "<!--LAPSE 1/1/20\nold\n<!--ENDL\nkept\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::MemoryDisk disk;
    for (const char* page : {"/site/a.htm", "/site/b.htm", "/other/c.htm"}) {
      disk.AddFile(page, lapsed);
    }
    ReplacedSite replaced(disk);
    RecordingView& view = replaced.view;
    MainLogic& logic = replaced.logic;
    ASSERT_TRUE(disk.Content("/site/Log.txt"));
    if (c.meanwhile == Meanwhile::RunElsewhereAfterTheReplace) {
      view.OpenFolder("/other");
      logic.Go();
      view.OpenFolder(kSite);
    }
    if (c.meanwhile == Meanwhile::RunHere) {
      logic.Go();
    }
    if (c.meanwhile == Meanwhile::PageSavedWhileUndoing) {
      disk.before = [&disk](const std::string& operation, const std::filesystem::path& name) {
        if (operation == "Link" && name == "b.htm") {
          disk.AddFile("/site/b.htm", "saved\n");
        }
      };
    }
    view.trace.clear();
    logic.UndoReplace();
    disk.before = nullptr;
    EXPECT_EQ(disk.Content("/site/a.htm"), lapsed);
    const bool logOff =
        std::find(view.trace.begin(), view.trace.end(), "Log off") != view.trace.end();
    EXPECT_EQ(logOff, !c.logOffered);
    // The undo says what it did all the same, last.
    ASSERT_FALSE(view.trace.empty());
    EXPECT_TRUE(view.trace.back().starts_with(c.said)) << view.trace.back();
    view.trace.clear();
    logic.ViewLog();
    ASSERT_EQ(view.trace.size(), 1u);
    // As after a start with no run.
    EXPECT_EQ(view.trace[0], c.logOffered ? "editor " + std::string(c.editing)
                                          : "warn: " + messages::NoRunLog({}));
  }
}

}  // namespace
}  // namespace lapse::front
