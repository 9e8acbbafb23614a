#include <gtest/gtest.h>

#include "batch/batch.h"
#include "batch/site_names.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using platform::MemoryDisk;
using testing_support::kSeparator;
using testing_support::MakeSymlink;
using testing_support::SetWindowsAttribute;
using testing_support::WindowsAttribute;
using NameList = std::vector<std::string>;

using BatchRunTest = testing_support::BatchFixture;

TEST_F(BatchRunTest, RewritesHtmlFilesAndCountsEveryOrdinaryFile) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "b.html", "b\n");
  Write(dir_ / "c.HTM", "c\n");
  Write(dir_ / "old.htm.bak", "d\n");
  Write(dir_ / "notes.txt", "n\n");
  Write(dir_ / ".hidden.htm", "h\n");
  SetWindowsAttribute(dir_ / ".hidden.htm", WindowsAttribute::Hidden);
  std::filesystem::create_directory(dir_ / "sub.htm");
  // Where no link can be made the count is the same.
  MakeSymlink(dir_ / "b.html", dir_ / "link.htm");

  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.fileCount, 5u);
  EXPECT_EQ(messages::Processed(result.fileCount), "Processed 5 files.");
  EXPECT_EQ(frontEnd_.questions,
            NameList{"Update all HTML files in " + dir_.string() + kSeparator + "?"});
  EXPECT_EQ(frontEnd_.refreshes, 1);
  EXPECT_EQ(Names(New()),
            (NameList{".lapse-sources", "Log.txt", "a.htm", "b.html", "old.htm.bak"}));
  EXPECT_EQ(Read(New() / "a.htm"), "a\r\n");
  EXPECT_EQ(Read(New() / "Log.txt"), "\r\na.htm\r\n<!--LAPSE 12/01/26\r\nold\r\n<!--ENDL\r\n");
  EXPECT_EQ(result.run.paths.sourceDir, dir_.string() + kSeparator);
  EXPECT_EQ(result.run.paths.newDir, dir_.string() + kSeparator + "New" + kSeparator);
  EXPECT_EQ(result.run.paths.logPath, dir_.string() + kSeparator + "New" + kSeparator + "Log.txt");
  EXPECT_TRUE(result.run.logWritten);
}

TEST_F(BatchRunTest, DeclinedRunDoesNothing) {
  Write(dir_ / "a.htm", "a\n");
  frontEnd_.answer = false;
  EXPECT_EQ(Run().status, RunStatus::Declined);
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
}

TEST_F(BatchRunTest, EmptyDirectoryCountsNothingAndWritesNoLog) {
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(messages::Processed(result.fileCount), "Processed 0 files.");
  EXPECT_EQ(Names(New()), NameList{".lapse-sources"});
}

TEST_F(BatchRunTest, SecondRunDeletesTheOldLogFirst) {
  Write(dir_ / "a.htm", "a\n<!--LNEW 10/01/26\nx\n");
  Run();
  Write(dir_ / "a.htm", "a\n");
  options_.log = false;
  EXPECT_EQ(Run().status, RunStatus::Completed);
  EXPECT_EQ(frontEnd_.refreshes, 1);  // "New" existed already
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "a.htm"}));
  EXPECT_EQ(Read(New() / "a.htm"), "a\r\n");
}

TEST_F(BatchRunTest, LogIsEmptyWhenNothingLapsed) {
  Write(dir_ / "a.htm", "a\n");
  Run();
  EXPECT_EQ(Read(New() / "Log.txt"), "");
}

TEST_F(BatchRunTest, RootDirectoryGetsADoubledSeparator) {
  // "/" here, C:\ on Windows.
  const std::string root = dir_.root_path().string();
  frontEnd_.answer = false;
  RunOver(root);
  EXPECT_EQ(frontEnd_.questions, NameList{"Update all HTML files in " + root + kSeparator + "?"});
  const RunPaths paths = PathsFor(root);
  EXPECT_EQ(paths.sourceDir.native().size(), dir_.root_path().native().size() + 1);
  EXPECT_EQ(text::PathText(paths.newDir), root + kSeparator + "New" + kSeparator);
}

TEST_F(BatchRunTest, DoubledSeparatorServesTheRunAndTheReplace) {
  // A drive root's path ends in a separator already, as this one does.
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  const RunResult result = RunOver(dir_ / "");
  EXPECT_EQ(messages::Processed(result.fileCount), "Processed 1 files.");
  EXPECT_EQ(frontEnd_.questions,
            NameList{"Update all HTML files in " + dir_.string() + kSeparator + kSeparator + "?"});
  EXPECT_EQ(Read(New() / "a.htm"), "a\r\n");
  EXPECT_TRUE(Replace(disk_, dir_ / "", {}).Complete());
  EXPECT_EQ(Names(dir_), (NameList{"Log.txt", "a.htm"}));
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\r\n");
}

TEST_F(BatchRunTest, DateFormatErrorIsReportedAndTheRunGoesOn) {
  Write(dir_ / "bad.htm", "a\n<!--LAPSE someday\nb\n");
  Write(dir_ / "good.htm", "g\n");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.fileCount, 2u);
  EXPECT_EQ(result.filesLeftOut, 1u);
  EXPECT_EQ(frontEnd_.reports, NameList{"Date Format error in bad.htm"});
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "good.htm"}));
}

TEST_F(BatchRunTest, NewThatIsAFileStopsTheRun) {
  Write(dir_ / "a.htm", "a\n");
  Write(dir_ / "New", "in the way");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Stopped);
  EXPECT_EQ(messages::Stopped(result.problem), "Cannot create the folder " + dir_.string() +
                                                   kSeparator +
                                                   "New: a file of that name is in the way.");
  EXPECT_EQ(Read(dir_ / "New"), "in the way");
}

TEST_F(BatchRunTest, LogThatIsAFolderStopsTheRun) {
  Write(dir_ / "a.htm", "a\n");
  Run();
  std::filesystem::remove(New() / "Log.txt");
  std::filesystem::create_directories(New() / "Log.txt");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Stopped);
  EXPECT_EQ(result.problem.kind, RunProblem::Kind::OldLogIsFolder);
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "a.htm"}));
}

// A folder standing under a page's name in New, with something in it, is
// the user's: the copy fails, and the folder stays with what it holds.
TEST_F(BatchRunTest, AFolderInNewUnderAPagesNameStays) {
  Write(dir_ / "a.htm", "a\n");
  Run();
  std::filesystem::remove(New() / "a.htm");
  std::filesystem::create_directories(New() / "a.htm");
  Write(New() / "a.htm" / "notes.txt", "mine");
  const RunResult result = Run();
  EXPECT_EQ(result.filesLeftOut, 1u);
  EXPECT_EQ(Read(New() / "a.htm" / "notes.txt"), "mine");
}

#if !defined(_WIN32)
TEST_F(BatchRunTest, RunAndReplaceKeepEveryPagesPermissions) {
  for (const auto& [name, mode] : {std::pair{"private.htm", 0600},
                                   {"group.htm", 0640},
                                   {"script.htm", 0755},
                                   {"readonly.htm", 0444}}) {
    Write(dir_ / name, "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
    std::filesystem::permissions(dir_ / name, static_cast<std::filesystem::perms>(mode));
  }
  EXPECT_EQ(Run().copiesWithoutOwner, 0u);
  ASSERT_TRUE(ReplaceOldFiles().Complete());
  for (const auto& [name, mode] : {std::pair{"private.htm", 0600},
                                   {"group.htm", 0640},
                                   {"script.htm", 0755},
                                   {"readonly.htm", 0444}}) {
    EXPECT_EQ(static_cast<int>(std::filesystem::status(dir_ / name).permissions()), mode) << name;
    EXPECT_EQ(Read(dir_ / name), "") << name;
  }
}
#endif

using FakeRunTest = testing_support::FakeSiteFixture;

// A link named New would send the copies elsewhere, or over the sources.
TEST_F(FakeRunTest, ALinkNamedNewIsRefusedAndNothingIsWritten) {
  for (const char* target : {"/elsewhere", "/site"}) {
    MemoryDisk disk;
    disk.AddFile("/site/a.htm", "a\n");
    disk.AddFolder("/elsewhere");
    disk.AddLink("/site/New", target);
    const RunResult result = BatchRun(disk, kSite, frontEnd_, options_);
    EXPECT_EQ(result.status, RunStatus::Stopped);
    EXPECT_EQ(result.problem.kind, RunProblem::Kind::NewIsLink);
    EXPECT_EQ(disk.Names("/elsewhere"), NameList{}) << target;
    EXPECT_EQ(disk.Names("/site"), (NameList{"New", "a.htm"})) << target;
    EXPECT_EQ(disk.Content("/site/a.htm"), "a\n");
  }
}

TEST_F(FakeRunTest, CopiesOfOtherUsersPagesAreToldOnce) {
  AddPage("mine.htm", "m\n");
  disk_.AddFile("/site/theirs.htm", "t\n", {0640, 33, 33});
  disk_.AddFile("/site/also.htm", "a\n", {0600, 33, 33});
  EXPECT_EQ(Run().copiesWithoutOwner, 2u);
  EXPECT_EQ(disk_.AccessOf("/site/New/theirs.htm")->mode, 0640u);
  disk_.privileged = true;
  const RunResult asRoot = Run();
  EXPECT_EQ(asRoot.copiesWithoutOwner, 0u);
  EXPECT_EQ(disk_.AccessOf("/site/New/also.htm")->owner, 33u);
  EXPECT_EQ(messages::RunNotes(Run()).size(), 0u);
}

TEST_F(FakeRunTest, ALineBreakInANameIsShownEscapedButTheFileKeepsIt) {
  AddPage("new\nline.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\n<!--LNEW when\n");
  Run();
  EXPECT_EQ(frontEnd_.reports, NameList{"Date Format error in new\\nline.htm"});
  AddPage("new\nline.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Run();
  EXPECT_EQ(Page("New/Log.txt"), "\r\nnew\\nline.htm\r\n<!--LAPSE 12/01/26\r\nold\r\n<!--ENDL\r\n");
  ReplaceOldFiles();
  EXPECT_EQ(Page("new\nline.htm"), "");
}

// A site is a tree: one run rewrites it into one mirror tree in New, each
// folder's files before its subfolders, and one replace puts it all back.
TEST_F(FakeRunTest, ARunOverSubfoldersMirrorsTheTreeAndTheReplaceEmptiesIt) {
  const std::string lapsed = "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n";
  AddPage("top.htm", lapsed);
  AddPage("a/a.htm", lapsed);
  AddPage("a/b/deep.htm", lapsed);
  AddPage("a/notes.txt", "n\n");
  AddPage(".hidden/h.htm", lapsed);
  AddPage("a/New/inner.htm", lapsed);  // only the top folder's New is the run's
  disk_.AddLink("/site/link", "/site/a");
  options_.recursion = Recursion::Subfolders;
  const RunResult result = Run();
  EXPECT_EQ(result.fileCount, 5u);
  EXPECT_EQ(Page("New/a/b/deep.htm"), "kept\r\n");
  EXPECT_EQ(Page("New/a/New/inner.htm"), "kept\r\n");
  EXPECT_EQ(disk_.Names("/site/New"), (NameList{".lapse-sources", "Log.txt", "a", "top.htm"}));
  const fs::path deep = fs::path("a") / "b" / "deep.htm";
  const std::string log = Page("New/Log.txt");
  EXPECT_LT(log.find("\r\ntop.htm\r\n"), log.find("\r\n" + (fs::path("a") / "a.htm").string()));
  EXPECT_LT(log.find((fs::path("a") / "a.htm").string()), log.find(deep.string()));

  const ReplaceResult replaced = ReplaceOldFiles();
  EXPECT_TRUE(replaced.Complete()) << messages::ReplaceProblems(replaced).front();
  EXPECT_EQ(Page("a/b/deep.htm"), "kept\r\n");
  EXPECT_EQ(Page(".hidden/h.htm"), lapsed);
  EXPECT_EQ(Page("a/notes.txt"), "n\n");
  EXPECT_EQ(disk_.Names("/site"), (NameList{".hidden", "Log.txt", "a", "link", "top.htm"}));
}

TEST_F(FakeRunTest, WithoutTheOptionSubfoldersStayAsTheyAre) {
  AddPage("a/a.htm", "<!--LAPSE 12/01/26\n");
  EXPECT_EQ(Run().fileCount, 0u);
  EXPECT_EQ(disk_.Names("/site/New"), NameList{".lapse-sources"});
}

TEST(HtmlFileRule, ContainsDotHtmInLowerCase) {
  for (const char* name : {"index.htm", "page.html", "old.htm.bak", ".htm", "x.htmx"}) {
    EXPECT_TRUE(IsHtmlFileName(name)) << name;
  }
  for (const char* name : {"INDEX.HTM", "Page.Htm", "readme.txt", "htm", "a.ht"}) {
    EXPECT_FALSE(IsHtmlFileName(name)) << name;
  }
}

}  // namespace
}  // namespace lapse::batch
