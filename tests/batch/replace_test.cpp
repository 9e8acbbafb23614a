#include <gtest/gtest.h>

#include <map>
#include <string>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "batch/batch.h"
#include "batch/kept_store.h"
#include "batch/run_record.h"
#include "batch/undo.h"
#include "pages/gzip.h"
#include "support/batch_fixture.h"
#include "support/memory_streams.h"

namespace lapse::batch {
namespace {

using platform::MemoryDisk;
using testing_support::kSeparator;
using testing_support::MakeSymlink;
using NameList = std::vector<std::string>;

using ReplaceTest = testing_support::BatchFixture;

std::string Gzip(std::string_view text) {
  testing_support::MemorySink out;
  pages::GzipSink gzip(out);
  EXPECT_TRUE(gzip.Write(text) && gzip.Finish());
  return out.text;
}

TEST_F(ReplaceTest, CopiesAndLogTakeThePlaceOfTheSources) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "b.html", "b\n<!--LNEW 10/01/26\nnew\n");
  Write(dir_ / "c.HTM", "c\n");
  Write(dir_ / "notes.txt", "n\n");
  Run();
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_TRUE(result.Complete());
  EXPECT_EQ(Problems(result), NameList{});
  EXPECT_EQ(Names(dir_), (NameList{"Log.txt", "a.htm", "b.html", "c.HTM", "notes.txt"}));
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\n");
  EXPECT_EQ(Read(dir_ / "b.html"), "b\n");
  EXPECT_EQ(Read(dir_ / "c.HTM"), "c\n");
  EXPECT_EQ(Read(dir_ / "notes.txt"), "n\n");
  EXPECT_EQ(result.replaced.size(), 2u);
  EXPECT_EQ(result.moved, std::vector<std::filesystem::path>{"Log.txt"});
  EXPECT_EQ(result.logPath, dir_.string() + kSeparator + "Log.txt");
}

TEST_F(ReplaceTest, LogLifecycleOverRunReplaceRun) {
  Write(dir_ / "a.htm", "<!--LNEW 10/01/26\nx\ny\n");
  Run();
  ReplaceOldFiles();
  EXPECT_EQ(Read(dir_ / "Log.txt"), "\r\na.htm\r\n<!--LNEW 10/01/26\r\nx\r\n");

  // The moved log is an ordinary file now: counted, not rewritten.
  EXPECT_EQ(Run().fileCount, 2u);
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "a.htm"}));
  EXPECT_EQ(Read(New() / "Log.txt"), "");

  // A run without a log, then a replace: the directory holds no log after it.
  options_.log = false;
  Run();
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
}

TEST_F(ReplaceTest, SourceWithoutACopySurvives) {
  Write(dir_ / "a.htm", "a\n<!--LNEW 10/01/26\nx\n");
  Run();
  Write(dir_ / "added.htm", "added after the run\n");
  Write(dir_ / "bad.htm", "<!--LAPSE never\n");  // would fail; never run, no copy either
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Read(dir_ / "added.htm"), "added after the run\n");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "<!--LAPSE never\n");
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\n");
}

TEST_F(ReplaceTest, DateFormatErrorLeavesItsSourceAlone) {
  Write(dir_ / "bad.htm", "keep\n<!--LNEW soon\nall of this\n");
  Run();
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Read(dir_ / "bad.htm"), "keep\n<!--LNEW soon\nall of this\n");
}

TEST_F(ReplaceTest, DeclinedRunLeavesNothingToReplace) {
  Write(dir_ / "a.htm", "a\n");
  const std::filesystem::path other = dir_ / "other";
  std::filesystem::create_directory(other);
  Write(other / "b.htm", "b\n");
  Run();
  frontEnd_.answer = false;
  RunOver(other);
  const ReplaceResult result = Replace(disk_, other, {});
  EXPECT_EQ(result.refusal, ReplaceRefusal::NoNewDir);
  EXPECT_EQ(messages::ReplaceProblems(result),
            NameList{"There is no folder " + (other / "New").string() +
                     " with copies to replace the files with."});
  EXPECT_EQ(Read(other / "b.htm"), "b\n");
}

// Only the copies the run made reach the site: a copy of a page that has
// gone, or anything else put into New, stays there, and what a killed run
// was writing goes.
TEST_F(ReplaceTest, OnlyTheRunsCopiesReachTheSite) {
  Write(dir_ / "a.htm", "a\n<!--LNEW 10/01/26\nx\n");
  Write(dir_ / "notes.txt", "mine\n");
  Run();
  Write(New() / "gone.htm", "copy of a file that has left\r\n");
  Write(New() / "notes.txt", "someone else's\n");
  Write(New() / ".lapse-0123456789ab.tmp", "left by an interrupted run");
  std::filesystem::create_directory(New() / "sub");
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_FALSE(result.Complete());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "gone.htm"));
  EXPECT_EQ(Read(dir_ / "notes.txt"), "mine\n");
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\n");
  // The run is in place, its log with it; New stays, Lapse's still.
  EXPECT_EQ(Names(dir_), (NameList{"Log.txt", "New", "a.htm", "notes.txt"}));
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "gone.htm", "notes.txt", "sub"}));
  EXPECT_EQ(result.logPath, dir_.string() + kSeparator + "Log.txt");
  NameList problems = Problems(result);
  std::sort(problems.begin(), problems.end());
  EXPECT_EQ(problems, (NameList{"gone.htm stays in the folder New: the run did not make it.",
                                "notes.txt stays in the folder New: the run did not make it."}));
  // The next run clears what is Lapse's there and leaves the rest.
  Run();
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "a.htm", "notes.txt"}));
}

TEST_F(ReplaceTest, LinkedSourceIsNeverReplaced) {
  Write(dir_ / "real.txt", "target\n");
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Run();
  std::filesystem::remove(dir_ / "a.htm");
  if (!MakeSymlink(dir_ / "real.txt", dir_ / "a.htm")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_FALSE(result.Complete());
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "a.htm"));
  EXPECT_EQ(Read(dir_ / "real.txt"), "target\n");
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "a.htm"}));
}

#if defined(_WIN32)
// Windows refuses to replace a read-only file: the page stays as it is, and
// its copy, read-only too, waits in New.
TEST_F(ReplaceTest, AReadOnlyPageIsReportedAndStays) {
  Write(dir_ / "a.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  SetFileAttributesW((dir_ / "a.htm").c_str(), FILE_ATTRIBUTE_READONLY);
  Run();
  const DWORD copyAttributes = GetFileAttributesW((New() / "a.htm").c_str());
  const ReplaceResult result = ReplaceOldFiles();
  // Writable again, so that the test's folder can go.
  for (const auto& path : {dir_ / "a.htm", New() / "a.htm"}) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  EXPECT_NE(copyAttributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(Read(dir_ / "a.htm"), "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  EXPECT_EQ(Read(New() / "a.htm"), "");
  EXPECT_EQ(result.left.size(), 2u);
}
#endif

class FakeReplaceTest : public testing_support::FakeSiteFixture {
 protected:
  static constexpr const char* kOld = "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n";
  static constexpr const char* kNew = "kept\n";
};

// The edit made after the run would be lost: the copy waits instead.
TEST_F(FakeReplaceTest, ASourceThatChangedAfterTheRunIsHeldBack) {
  AddPage("a.htm", kOld);
  AddPage("b.htm", kOld);
  Run();
  AddPage("a.htm", std::string(kOld) + "an edit\n");
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(Page("a.htm"), std::string(kOld) + "an edit\n");
  EXPECT_EQ(Page("b.htm"), kNew);
  EXPECT_EQ(
      messages::ReplaceProblems(result),
      (NameList{"Log.txt stays in the folder New: it moves up with the last page of its "
                "run; see to the pages held back, then replace again.",
                "a.htm stays in the folder New: its page changed after the run; run again."}));
  // A run over the edited page, and the replace takes it.
  Run();
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Page("a.htm"), "kept\nan edit\n");
}

TEST_F(FakeReplaceTest, CopiesWithoutARecordOrCutShortAreHeldBack) {
  AddPage("a.htm", kOld);
  AddPage("b.htm", kOld);
  Run();
  disk_.AddFile("/site/New/b.htm", "kep");  // as a crash may leave it
  disk_.AddFile("/site/New/c.htm", "from an earlier version\r\n");
  AddPage("c.htm", "c\n");
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_EQ(Page("a.htm"), kNew);
  EXPECT_EQ(Page("b.htm"), kOld);
  EXPECT_EQ(Page("c.htm"), "c\n");
  const std::vector<HeldBack> reasons{result.left[1].reason, result.left[2].reason};
  EXPECT_EQ(reasons, (std::vector<HeldBack>{HeldBack::CopyIncomplete, HeldBack::NotACopy}));
}

// What the site's owner may write into New is never taken for the run's
// record, and a record that names a place outside the site is refused as
// damaged: nothing is renamed, and nothing crashes.
TEST_F(FakeReplaceTest, ARecordThatIsNotTheUsersOwnOrLeadsOutsideIsRefused) {
  const auto forged = [](const std::string& path) {
    const CopyRecord copy{{4, 1, 1, 2}, 1, std::nullopt, 4, WrittenCopy{{1, 9}, 0}};
    return RunRecordHeader(RecordState::Complete, {}) +
           FormatRecordEntry(text::PathFromText(path), copy);
  };
  struct Case {
    const char* name;
    std::string record;
    platform::FileAccess access;
    ReplaceRefusal refusal;
  };
  const platform::FileAccess own{0600, platform::MemoryDisk::kUser, 0};
  for (const Case& test :
       {Case{"another user's", forged("a.htm"), {0600, 65534, 0}, ReplaceRefusal::NewIsTheSites},
        Case{"writable by others",
             forged("a.htm"),
             {0666, own.owner, 0},
             ReplaceRefusal::NewIsTheSites},
        Case{"of another New", forged("a.htm"), own, ReplaceRefusal::NewIsTheSites},
        Case{"leading up", forged("../outside/secret"), own, ReplaceRefusal::RecordDamaged},
        Case{"absolute", forged("/outside/secret"), own, ReplaceRefusal::RecordDamaged}}) {
    platform::MemoryDisk disk;
    disk.AddFile("/outside/secret", "root's");
    disk.AddFile("/site/a.htm", kOld);
    disk.AddFile("/site/New/a.htm", "evil");
    disk.AddFile("/site/New/.lapse-sources", test.record, test.access);
    const ReplaceResult result = Replace(disk, kSite, {});
    EXPECT_EQ(result.refusal, test.refusal) << test.name;
    EXPECT_EQ(disk.Content("/outside/secret"), "root's") << test.name;
    EXPECT_EQ(disk.Content("/site/a.htm"), kOld) << test.name;
  }
}

// A record of the user's own that a power cut left empty or cut short is no
// record to replace by, but New is still Lapse's: the next run takes it back.
TEST_F(FakeReplaceTest, ARunTakesBackANewWhoseOwnRecordIsDamaged) {
  AddPage("a.htm", kOld);
  Run();
  disk_.AddFile("/site/New/.lapse-sources", "lapse sources 3 comp",
                {0600, platform::MemoryDisk::kUser, 0});
  EXPECT_EQ(ReplaceOldFiles().refusal, ReplaceRefusal::RecordDamaged);
  EXPECT_EQ(Run().status, RunStatus::Completed);
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Page("a.htm"), kNew);
}

// A record that stands there but cannot be read is said to be so, by the
// replace and by the next run, and nothing is written: it is neither a
// folder of the site's nor a run cut short.
TEST_F(FakeReplaceTest, ARecordThatCannotBeReadIsNamedAsSuch) {
  AddPage("a.htm", kOld);
  Run();
  disk_.before = [this](const std::string& operation, const std::filesystem::path& name) {
    if (operation == "OpenSource" && name == ".lapse-sources") {
      disk_.cutAfter = disk_.operations - 1;
    }
  };
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_EQ(result.refusal, ReplaceRefusal::CannotReadRecord);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(result.problems.front().path.filename(), ".lapse-sources");
  EXPECT_EQ(messages::ReplaceProblems(result),
            NameList{"Cannot read the record of the run " +
                     text::DisplayName(result.problems.front().path) + ": " +
                     messages::Reason(std::make_error_code(std::errc::io_error)) +
                     ". Nothing was replaced."});
  disk_.cutAfter.reset();
  const RunResult run = Run();
  EXPECT_EQ(run.status, RunStatus::Stopped);
  EXPECT_EQ(run.problem.kind, RunProblem::Kind::CannotReadRecord);
  disk_.before = nullptr;
  disk_.cutAfter.reset();
  EXPECT_EQ(Page("a.htm"), kOld);
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Page("a.htm"), kNew);
}

// A replace moves its log over the Log.txt that a replace put in the site,
// and only over that one: a file the site's owner put under that name, even
// one that reads like a log, stays, and the log waits in New.
TEST(ReplaceLogTest, OnlyALogThatLapsePlacedIsReplaced) {
  const std::filesystem::path site = "/site";
  const std::filesystem::path state = "/home/ann/state";
  ReplaceOptions keeping;
  keeping.keepIn = state;
  const auto runAndReplace = [&](platform::MemoryDisk& disk) {
    disk.AddFile(site / "a.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
    testing_support::RecordingFrontEnd frontEnd;
    BatchRun(disk, site, frontEnd, testing_support::RunDayOptions());
    return Replace(disk, site, keeping);
  };
  // Where no replace has noted its log yet, the file tells: a log of
  // Lapse's holds nothing or begins with a line end.
  for (const auto& [found, placed] : std::vector<std::pair<std::string, bool>>{
           {"\r\nold.htm\r\nan earlier log\r\n", true}, {"", true}, {"my notes\n", false}}) {
    platform::MemoryDisk disk;
    disk.AddFolder(state);
    disk.AddFile(site / "Log.txt", found);
    const ReplaceResult result = runAndReplace(disk);
    EXPECT_EQ(result.Complete(), placed) << found;
    EXPECT_EQ(disk.Content(site / "Log.txt") == found, !placed) << found;
    if (!placed) {
      ASSERT_FALSE(result.left.empty());
      EXPECT_EQ(result.left.back().reason, HeldBack::SiteHasItsOwnLog);
      // The log held back is no run's to remove: the next run adds to it.
      const std::string waiting = disk.Content(site / "New" / "Log.txt").value_or("");
      EXPECT_FALSE(waiting.empty());
      runAndReplace(disk);
      EXPECT_TRUE(disk.Content(site / "New" / "Log.txt").value_or("").starts_with(waiting));
    }
  }
  // Once noted, the log placed is replaced, and a file put in its place
  // since is not, whatever it holds.
  platform::MemoryDisk disk;
  disk.AddFolder(state);
  EXPECT_TRUE(runAndReplace(disk).Complete());
  EXPECT_TRUE(runAndReplace(disk).Complete());
  disk.AddFile(site / "Log.txt", "\r\nthe owner's\r\n");
  EXPECT_FALSE(runAndReplace(disk).Complete());
  EXPECT_EQ(disk.Content(site / "Log.txt"), "\r\nthe owner's\r\n");
}

// An edit saved while the copies are synced is kept: each page is looked at
// again right before its copy takes its place.
TEST_F(FakeReplaceTest, AnEditSavedDuringTheReplaceIsKept) {
  AddPage("a.htm", kOld);
  AddPage("b.htm", kOld);
  Run();
  disk_.before = [this](const std::string& operation, const std::filesystem::path&) {
    if (operation == "SyncFiles" && Page("a.htm") == kOld) {
      AddPage("a.htm", "saved by an editor just now\n");
    }
  };
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_EQ(Page("a.htm"), "saved by an editor just now\n");
  EXPECT_EQ(Page("b.htm"), kNew);
  ASSERT_EQ(result.left.size(), 2u);
  EXPECT_EQ(result.left[1].name, "a.htm");
  EXPECT_EQ(result.left[1].reason, HeldBack::SourceChanged);
}

// Something saved under the log's name during the replace is never
// overwritten.
TEST_F(FakeReplaceTest, AFileThatAppearsDuringTheReplaceIsNeverOverwritten) {
  AddPage("a.htm", kOld);
  Run();
  disk_.before = [this](const std::string& operation, const std::filesystem::path& name) {
    if (operation == "Move" && name == "Log.txt") {
      AddPage("Log.txt", "uploaded just now\n");
    }
  };
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_EQ(Page("Log.txt"), "uploaded just now\n");
  ASSERT_EQ(result.left.size(), 1u);
  EXPECT_EQ(result.left[0].name, "Log.txt");
  EXPECT_EQ(result.left[0].reason, HeldBack::NameTaken);
  EXPECT_EQ(Page("a.htm"), kNew);
}

TEST_F(FakeReplaceTest, EveryCopyIsOnTheDiskBeforeItReplacesItsSource) {
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
    AddPage(name, kOld);
  }
  Run();
  ASSERT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(disk_.unsyncedReplacements, NameList{});
}

// A replace cut short after any of its operations, its unsynced writes lost,
// and then run again: no page is ever missing or empty, each holds its old
// content or its new, and the second replace finishes the job.
TEST_F(FakeReplaceTest, ACutAtAnyOperationLosesNoPage) {
  for (std::size_t cut = 1;; ++cut) {
    MemoryDisk disk;
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      disk.AddFile(kSite / name, kOld);
    }
    disk.AddFile("/site/notes.txt", "n\n");
    disk.AddFile("/site/same.htm", "its copy is this page\r\n");
    disk.AddFile("/site/Log.txt", "\r\nold.htm\r\nan earlier run's log\r\n");
    BatchRun(disk, kSite, frontEnd_, options_);
    auto site = disk.OpenFolder("/site/");
    const platform::FileStamp same = disk.Status(**site, "same.htm")->stamp;
    disk.Settle();
    disk.operations = 0;
    disk.cutAfter = cut;
    const bool finished = Replace(disk, kSite, {}).Complete();
    disk.Crash();
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      const std::optional<std::string> page = disk.Content(kSite / name);
      ASSERT_TRUE(page == kOld || page == kNew) << "cut after " << cut << ": " << name;
    }
    if (!finished) {
      const ReplaceResult again = Replace(disk, kSite, {});
      ASSERT_TRUE(again.Complete())
          << "cut after " << cut << ": " << messages::ReplaceProblems(again).front();
    }
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      ASSERT_EQ(disk.Content(kSite / name), kNew) << "cut after " << cut;
    }
    ASSERT_EQ(disk.Content("/site/notes.txt"), "n\n");
    ASSERT_EQ(disk.Status(**site, "same.htm")->stamp, same) << "cut after " << cut;
    ASSERT_EQ(disk.Content("/site/same.htm"), "its copy is this page\r\n");
    ASSERT_NE(disk.Content("/site/Log.txt"), "\r\nold.htm\r\nan earlier run's log\r\n")
        << "cut after " << cut;
    if (finished) {
      break;
    }
  }
}

// A page whose copy is the page byte for byte is left alone: it keeps its
// file, its time and its bytes, and is not kept for an undo; its copy goes
// from New with the others. A copy that differs by a byte takes its page's
// place.
TEST_F(FakeReplaceTest, APageWhoseCopyIsThePageIsLeftAloneAndOutOfTheUndo) {
  struct Case {
    const char* name;
    std::string page;
    bool same;
    std::int16_t lines = 1;
  };
  const Case cases[] = {
      {"no tag", "a\nb\n", true},
      {"a current tag and CR LF lines", "<!--LAPSE 12/31/26\r\nsoon\r\n<!--ENDL\r\n", true},
      {"a UTF-8 mark",
       "\xEF\xBB\xBF"
       "a\r\n",
       true},
      {"UTF-16",
       std::string("\xFF\xFE"
                   "a\0\r\0\n\0",
                   8),
       true},
      {"gzip", Gzip("a\n"), true},
      // The tag has lapsed, but no line goes with it.
      {"a lapsed new-content tag, lines -1", "<!--LNEW 10/01/26\nnew\n", true, -1},
      {"a lapsed new-content tag, lines 0", "<!--LNEW 10/01/26\nnew\n", false, 0},
      {"a lone CR", "a\rb\n", false},
      {"a last line without its end", "a\nb", false},
      {"a lapsed block", kOld, false},
  };
  const std::filesystem::path state = "/state";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryDisk disk;
    disk.AddFile("/site/a.htm", c.page);
    disk.AddFile("/site/b.htm", kOld);
    disk.AddFolder(state);
    RunOptions options = testing_support::RunDayOptions();
    options.lines = c.lines;
    ASSERT_EQ(BatchRun(disk, kSite, frontEnd_, options).pagesRewritten, 2u);
    auto site = disk.OpenFolder("/site/");
    const platform::FileStamp before = disk.Status(**site, "a.htm")->stamp;

    ReplaceOptions keeping;
    keeping.keepIn = state;
    const ReplaceResult result = Replace(disk, kSite, keeping);
    EXPECT_TRUE(result.Complete()) << testing::PrintToString(messages::ReplaceProblems(result));
    using Paths = std::vector<std::filesystem::path>;
    EXPECT_EQ(result.replaced, c.same ? Paths{"b.htm"} : (Paths{"a.htm", "b.htm"}));
    EXPECT_EQ(result.unchanged, c.same ? Paths{"a.htm"} : Paths{});
    EXPECT_EQ(result.moved, Paths{"Log.txt"});
    EXPECT_EQ(disk.Names("/site"), (NameList{"Log.txt", "a.htm", "b.htm"}));
    EXPECT_EQ(disk.Content("/site/b.htm"), kNew);
    EXPECT_EQ(disk.Status(**site, "a.htm")->stamp == before, c.same);
    const std::vector<KeptReplace> kept = KeptReplaces(disk, state, kSite);
    ASSERT_EQ(kept.size(), 1u);
    NameList keptPages;
    for (const KeptPage& page : kept.front().pages) {
      keptPages.push_back(text::PathText(page.page));
    }
    EXPECT_EQ(keptPages, c.same ? NameList{"b.htm"} : (NameList{"a.htm", "b.htm"}));

    const UndoResult undone = Undo(disk, kSite, {state, std::chrono::milliseconds(0), nullptr});
    EXPECT_TRUE(undone.Complete());
    EXPECT_EQ(undone.restored, c.same ? Paths{"b.htm"} : (Paths{"a.htm", "b.htm"}));
    EXPECT_EQ(disk.Content("/site/a.htm"), c.page);
    EXPECT_EQ(disk.Content("/site/b.htm"), kOld);
    if (c.same) {
      EXPECT_EQ(disk.Status(**site, "a.htm")->stamp, before);
    }
  }
}

// A replace that changes no page keeps nothing, and prunes no kept replace:
// the replace before it stays the one an undo takes back. So when every
// copy is its page, and when the one page to be replaced is saved while the
// replace runs.
TEST_F(FakeReplaceTest, AReplaceThatChangesNoPageKeepsNothing) {
  for (const bool savedMeanwhile : {false, true}) {
    SCOPED_TRACE(savedMeanwhile ? "the other page saved meanwhile" : "every copy its page");
    MemoryDisk disk;
    const std::filesystem::path state = "/state";
    disk.AddFolder(state);
    ReplaceOptions keeping;
    keeping.keepIn = state;
    // As many replaces as are kept: one more that kept something would
    // prune the oldest.
    std::vector<std::string> names;
    for (std::size_t replace = 0; replace < kKeptReplaces; ++replace) {
      disk.AddFile("/site/a.htm", kOld);
      BatchRun(disk, kSite, frontEnd_, options_);
      ASSERT_TRUE(Replace(disk, kSite, keeping).Complete());
    }
    for (const KeptReplace& replace : KeptReplaces(disk, state, kSite)) {
      names.push_back(replace.name);
    }
    if (savedMeanwhile) {
      disk.AddFile("/site/b.htm", kOld);
      disk.before = [&disk](const std::string& operation, const std::filesystem::path&) {
        if (operation == "SyncFiles" && disk.Content("/site/b.htm") == kOld) {
          disk.SaveInPlace("/site/b.htm", "saved\n");
        }
      };
    }
    BatchRun(disk, kSite, frontEnd_, options_);
    const ReplaceResult result = Replace(disk, kSite, keeping);
    disk.before = nullptr;
    EXPECT_EQ(result.replaced, std::vector<std::filesystem::path>{});
    EXPECT_EQ(result.unchanged, std::vector<std::filesystem::path>{"a.htm"});
    EXPECT_EQ(result.Complete(), !savedMeanwhile);
    const std::vector<KeptReplace> kept = KeptReplaces(disk, state, kSite);
    std::vector<std::string> after;
    for (const KeptReplace& replace : kept) {
      after.push_back(replace.name);
    }
    EXPECT_EQ(after, names);
    ASSERT_EQ(kept.front().pages.size(), 1u);
    EXPECT_EQ(kept.front().pages.front().page, "a.htm");
    for (const std::string& path : disk.Tree(state)) {
      EXPECT_EQ(path.find(kPartialSuffix), std::string::npos) << path;
    }
    const UndoResult undone = Undo(disk, kSite, {state, std::chrono::milliseconds(0), nullptr});
    EXPECT_EQ(undone.restored, std::vector<std::filesystem::path>{"a.htm"});
    EXPECT_EQ(disk.Content("/site/a.htm"), kOld);
    if (savedMeanwhile) {
      EXPECT_EQ(disk.Content("/site/b.htm"), "saved\n");
    }
  }
}

// A page whose copy is the page, saved after the run, keeps the save; its
// copy waits in New as any other would. So on a disk of whole-second times
// for a save of the same size, and for a save while the copies are synced.
TEST_F(FakeReplaceTest, APageWhoseCopyIsThePageSavedSinceTheRunKeepsTheSave) {
  for (const bool coarse : {true, false}) {
    SCOPED_TRACE(coarse ? "saved in the same tick" : "saved while the copies are synced");
    MemoryDisk disk;
    disk.coarseTimes = coarse;
    disk.AddFile("/site/a.htm", "a\n");
    disk.AddFile("/site/b.htm", kOld);
    BatchRun(disk, kSite, frontEnd_, options_);
    if (coarse) {
      disk.SaveInPlace("/site/a.htm", "x\n");
    } else {
      disk.before = [&disk](const std::string& operation, const std::filesystem::path&) {
        if (operation == "SyncFiles") {
          disk.SaveInPlace("/site/a.htm", "x\n");
        }
      };
    }
    const ReplaceResult result = Replace(disk, kSite, {});
    disk.before = nullptr;
    EXPECT_EQ(disk.Content("/site/a.htm"), "x\n");
    EXPECT_EQ(disk.Content("/site/b.htm"), kNew);
    EXPECT_EQ(disk.Content("/site/New/a.htm"), "a\n");
    EXPECT_EQ(result.unchanged, std::vector<std::filesystem::path>{});
    EXPECT_EQ(messages::ReplaceProblems(result),
              (NameList{"Log.txt stays in the folder New: it moves up with the last page of its "
                        "run; see to the pages held back, then replace again.",
                        "a.htm stays in the folder New: its page changed after the run; run "
                        "again."}));
    // The next run's copy of the saved page is that page, and New goes.
    BatchRun(disk, kSite, frontEnd_, options_);
    const ReplaceResult again = Replace(disk, kSite, {});
    EXPECT_TRUE(again.Complete()) << testing::PrintToString(messages::ReplaceProblems(again));
    EXPECT_EQ(again.unchanged, (std::vector<std::filesystem::path>{"a.htm", "b.htm"}));
    EXPECT_EQ(disk.Content("/site/a.htm"), "x\n");
  }
}

// The same for a replace whose every copy is its page: whatever the cut
// left of New, the next replace clears it without a word, and no page was
// ever touched.
TEST_F(FakeReplaceTest, ACutAtAnyOperationOfAReplaceOfUnchangedPagesTouchesNone) {
  const char* const pages[] = {"a.htm", "b.htm", "c.htm"};
  for (std::size_t cut = 1;; ++cut) {
    MemoryDisk disk;
    for (const char* name : pages) {
      disk.AddFile(kSite / name, std::string(name) + "\r\n");
    }
    BatchRun(disk, kSite, frontEnd_, options_);
    auto site = disk.OpenFolder("/site/");
    std::map<std::string, platform::FileStamp> before;
    for (const char* name : pages) {
      before[name] = disk.Status(**site, name)->stamp;
    }
    disk.Settle();
    disk.operations = 0;
    disk.cutAfter = cut;
    const bool finished = Replace(disk, kSite, {}).Complete();
    disk.Crash();
    if (!finished) {
      const ReplaceResult again = Replace(disk, kSite, {});
      ASSERT_TRUE(again.Complete())
          << "cut after " << cut << ": " << messages::ReplaceProblems(again).front();
      ASSERT_EQ(again.replaced, std::vector<std::filesystem::path>{}) << "cut after " << cut;
    }
    ASSERT_EQ(disk.Names("/site"), (NameList{"Log.txt", "a.htm", "b.htm", "c.htm"}))
        << "cut after " << cut;
    for (const char* name : pages) {
      ASSERT_EQ(disk.Status(**site, name)->stamp, before[name]) << "cut after " << cut;
      ASSERT_EQ(disk.Content(kSite / name), std::string(name) + "\r\n");
    }
    if (finished) {
      break;
    }
  }
}

#if !defined(_WIN32)
// Lowers the number of files the process may hold open, for a test's length.
class OpenFileLimit {
 public:
  explicit OpenFileLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &before_);
    rlimit lowered = before_;
    lowered.rlim_cur = std::min(limit, before_.rlim_max);
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~OpenFileLimit() { setrlimit(RLIMIT_NOFILE, &before_); }
  OpenFileLimit(const OpenFileLimit&) = delete;
  OpenFileLimit& operator=(const OpenFileLimit&) = delete;

 private:
  rlimit before_{};
};

// Many systems let a process open 1,024 files: a site of more folders than
// it may open goes through a run, a replace that keeps its pages, and an
// undo, with only the folders on the way open at any time.
TEST_F(ReplaceTest, ASiteOfMoreFoldersThanTheProcessMayOpenGoesThrough) {
  const std::filesystem::path site = dir_ / "site";
  const std::filesystem::path state = dir_ / "state";
  constexpr std::size_t kFolders = 600;
  for (std::size_t folder = 0; folder < kFolders; ++folder) {
    const std::filesystem::path subfolder = site / ("d" + std::to_string(folder));
    std::filesystem::create_directories(subfolder);
    Write(subfolder / "a.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
  }
  std::filesystem::create_directories(state);
  const OpenFileLimit limit(400);
  options_.recursion = Recursion::Subfolders;
  options_.threads = 2;
  const RunResult run = RunOver(site);
  EXPECT_EQ(run.pagesRewritten, kFolders);
  EXPECT_TRUE(run.leftOut.empty());

  ReplaceOptions keeping;
  keeping.keepIn = state;
  const ReplaceResult replaced = Replace(disk_, site, keeping);
  EXPECT_TRUE(replaced.Complete()) << testing::PrintToString(Problems(replaced));
  EXPECT_EQ(replaced.replaced.size(), kFolders);
  EXPECT_FALSE(std::filesystem::exists(site / "New"));
  EXPECT_EQ(Read(site / "d599" / "a.htm"), "kept\n");

  const UndoResult undone = Undo(disk_, site, {state, std::chrono::milliseconds(0), nullptr});
  EXPECT_TRUE(undone.Complete());
  EXPECT_EQ(undone.restored.size(), kFolders);
  EXPECT_EQ(Read(site / "d599" / "a.htm"), "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
}
#endif

}  // namespace
}  // namespace lapse::batch
