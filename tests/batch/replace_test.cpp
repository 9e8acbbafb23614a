#include <gtest/gtest.h>

#include "batch/batch.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

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
  const ReplaceResult result = Replace(state_);
  EXPECT_TRUE(result.Complete());
  EXPECT_EQ(result.Problems(), NameList{});
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
  Replace(state_);
  EXPECT_EQ(Read(dir_ / "Log.txt"), "\r\na.htm\r\n<!--LNEW 10/01/26\r\nx\r\n");

  // The moved log is an ordinary file now: counted, not rewritten.
  EXPECT_EQ(Run().fileCount, 2u);
  EXPECT_EQ(Names(New()), (NameList{"Log.txt", "a.htm"}));
  EXPECT_EQ(Read(New() / "Log.txt"), "");

  // A run without a log, then a replace: the directory holds no log after it.
  state_.Log = 0;
  Run();
  EXPECT_TRUE(Replace(state_).Complete());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
}

TEST_F(ReplaceTest, SourceWithoutACopySurvives) {
  Write(dir_ / "a.htm", "a\n");
  Run();
  Write(dir_ / "added.htm", "added after the run\n");
  Write(dir_ / "bad.htm", "<!--LAPSE never\n");  // would fail; never run, no copy either
  EXPECT_TRUE(Replace(state_).Complete());
  EXPECT_EQ(Read(dir_ / "added.htm"), "added after the run\n");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "<!--LAPSE never\n");
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\r\n");
}

TEST_F(ReplaceTest, DateFormatErrorLeavesItsSourceAlone) {
  Write(dir_ / "bad.htm", "keep\n<!--LNEW soon\nall of this\n");
  Run();
  EXPECT_TRUE(Replace(state_).Complete());
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
  const ReplaceResult result = Replace(state_);
  EXPECT_TRUE(result.newDirMissing);
  EXPECT_EQ(result.Problems(),
            NameList{"There is no folder New with copies to replace the files with."});
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
  const ReplaceResult result = Replace(state_);
  EXPECT_FALSE(result.Complete());
  EXPECT_EQ(Read(dir_ / "gone.htm"), "copy of a file that has left\r\n");
  EXPECT_EQ(Read(dir_ / "notes.txt"), "mine\n");
  // The log waits in New for the file held back, and the log viewer with it.
  EXPECT_EQ(Names(New()), (NameList{".a.htm.part", "Log.txt", "notes.txt", "sub"}));
  EXPECT_EQ(state_.LogPath, New().string() + "/Log.txt");
  NameList problems = result.Problems();
  std::sort(problems.begin(), problems.end());
  EXPECT_EQ(problems,
            (NameList{".a.htm.part stays in the folder New: it is a hidden file.",
                      "Log.txt stays in the folder New: it moves up with the last file.",
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
  const ReplaceResult result = Replace(state_);
  EXPECT_FALSE(result.Complete());
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "a.htm"));
  EXPECT_EQ(Read(dir_ / "real.txt"), "target\n");
  EXPECT_EQ(Names(New()), (NameList{"Log.txt", "a.htm"}));
}

}  // namespace
}  // namespace lapse::batch
