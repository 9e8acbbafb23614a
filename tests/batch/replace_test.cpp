#include <gtest/gtest.h>

#include "batch/batch.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

using testing_support::FakeDisk;
using testing_support::kSeparator;
using testing_support::MakeSymlink;
using NameList = std::vector<std::string>;

using ReplaceTest = testing_support::BatchFixture;

TEST_F(ReplaceTest, CopiesAndLogTakeThePlaceOfTheSources) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "b.html", "b\n");
  Write(dir_ / "c.HTM", "c\n");
  Write(dir_ / "notes.txt", "n\n");
  Run();
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_TRUE(result.Complete());
  EXPECT_EQ(Problems(result), NameList{});
  EXPECT_EQ(Names(dir_), (NameList{"Log.txt", "a.htm", "b.html", "c.HTM", "notes.txt"}));
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\r\n");
  EXPECT_EQ(Read(dir_ / "b.html"), "b\r\n");
  EXPECT_EQ(Read(dir_ / "c.HTM"), "c\n");
  EXPECT_EQ(Read(dir_ / "notes.txt"), "n\n");
  EXPECT_EQ(result.replaced.size(), 2u);
  EXPECT_EQ(result.moved, std::vector<std::filesystem::path>{"Log.txt"});
  EXPECT_EQ(state_.LogPath, dir_.string() + "/Log.txt");
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
  state_.Log = 0;
  Run();
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
}

TEST_F(ReplaceTest, SourceWithoutACopySurvives) {
  Write(dir_ / "a.htm", "a\n");
  Run();
  Write(dir_ / "added.htm", "added after the run\n");
  Write(dir_ / "bad.htm", "<!--LAPSE never\n");  // would fail; never run, no copy either
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Read(dir_ / "added.htm"), "added after the run\n");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "<!--LAPSE never\n");
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\r\n");
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
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_TRUE(result.newDirMissing);
  EXPECT_EQ(messages::ReplaceProblems(result),
            NameList{"There is no folder " + (other / "New").string() +
                     " with copies to replace the files with."});
  EXPECT_EQ(Read(other / "b.htm"), "b\n");
}

TEST_F(ReplaceTest, StrayCopyComesBackAndOtherFilesAreNeverOverwritten) {
  Write(dir_ / "a.htm", "a\n");
  Write(dir_ / "notes.txt", "mine\n");
  Run();
  Write(New() / "gone.htm", "copy of a file that has left\r\n");
  Write(New() / "notes.txt", "someone else's\n");
  Write(New() / ".a.htm.part", "left by an interrupted run");
  std::filesystem::create_directory(New() / "sub");
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(Read(dir_ / "gone.htm"), "copy of a file that has left\r\n");
  EXPECT_EQ(Read(dir_ / "notes.txt"), "mine\n");
  // The log waits in New for the file held back, and the log viewer with it.
  EXPECT_EQ(Names(New()), (NameList{".a.htm.part", ".lapse-sources", "Log.txt", "notes.txt", "sub"}));
  EXPECT_EQ(state_.LogPath, New().string() + "/Log.txt");
  NameList problems = Problems(result);
  std::sort(problems.begin(), problems.end());
  EXPECT_EQ(problems,
            (NameList{"Log.txt stays in the folder New: it moves up once every other file there has; see to those, then replace again.",
                      "notes.txt stays in the folder New: a file of that name is already in " +
                          dir_.string() + kSeparator + ".",
                      "sub stays in the folder New: it is a folder."}));
}

TEST_F(ReplaceTest, LinkedSourceIsNeverReplaced) {
  Write(dir_ / "real.txt", "target\n");
  Write(dir_ / "a.htm", "a\n");
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
  static constexpr const char* kNew = "kept\r\n";
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
  EXPECT_EQ(messages::ReplaceProblems(result),
            (NameList{"Log.txt stays in the folder New: it moves up once every other file there has; see to those, then replace again.",
                      "a.htm stays in the folder New: its page changed after the run; run again."}));
  // A run over the edited page, and the replace takes it.
  Run();
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Page("a.htm"), "kept\r\nan edit\r\n");
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
  EXPECT_EQ(reasons, (std::vector<HeldBack>{HeldBack::CopyIncomplete, HeldBack::NoRecord}));
}

// Something saved under a name between the look and the move is never
// overwritten.
TEST_F(FakeReplaceTest, AFileThatAppearsDuringTheReplaceIsNeverOverwritten) {
  AddPage("a.htm", kOld);
  Run();
  disk_.AddFile("/site/New/notes.txt", "from New\n");
  disk_.before = [this](const std::string& operation, const std::filesystem::path& name) {
    if (operation == "Move" && name == "notes.txt") {
      AddPage("notes.txt", "uploaded just now\n");
    }
  };
  const ReplaceResult result = ReplaceOldFiles();
  EXPECT_EQ(Page("notes.txt"), "uploaded just now\n");
  EXPECT_EQ(Page("New/notes.txt"), "from New\n");
  ASSERT_EQ(result.left.size(), 2u);
  EXPECT_EQ(result.left[1].name, "notes.txt");
  EXPECT_EQ(result.left[1].reason, HeldBack::NameTaken);
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
    FakeDisk disk;
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      disk.AddFile(kSite / name, kOld);
    }
    disk.AddFile("/site/notes.txt", "n\n");
    disk.AddFile("/site/Log.txt", "an earlier run's log\r\n");
    state::ProgramState state;
    BatchRun(disk, state, kSite, frontEnd_, {engine::EnglishDateLocale(), [] { return kToday; }});
    disk.Settle();
    disk.operations = 0;
    disk.cutAfter = cut;
    const bool finished = Replace(disk, state).Complete();
    disk.Crash();
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      const std::optional<std::string> page = disk.Content(kSite / name);
      ASSERT_TRUE(page == kOld || page == kNew) << "cut after " << cut << ": " << name;
    }
    if (!finished) {
      const ReplaceResult again = Replace(disk, state);
      ASSERT_TRUE(again.Complete())
          << "cut after " << cut << ": " << messages::ReplaceProblems(again).front();
    }
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      ASSERT_EQ(disk.Content(kSite / name), kNew) << "cut after " << cut;
    }
    ASSERT_EQ(disk.Content("/site/notes.txt"), "n\n");
    ASSERT_NE(disk.Content("/site/Log.txt"), "an earlier run's log\r\n") << "cut after " << cut;
    if (finished) {
      break;
    }
  }
}

}  // namespace
}  // namespace lapse::batch
