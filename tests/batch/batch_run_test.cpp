#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "batch/batch.h"
#include "batch/check.h"
#include "batch/site_names.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using platform::MemoryDisk;
using testing_support::kSeparator;
using testing_support::MakeSymlink;
using testing_support::RecordingFrontEnd;
using testing_support::RunDayOptions;
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
  EXPECT_EQ(Read(New() / "a.htm"), "a\n");
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
  EXPECT_EQ(Read(New() / "a.htm"), "a\n");
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
  EXPECT_EQ(Read(New() / "a.htm"), "a\n");
  EXPECT_TRUE(Replace(disk_, dir_ / "", {}).Complete());
  EXPECT_EQ(Names(dir_), (NameList{"Log.txt", "a.htm"}));
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\n");
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

// A broken show block leaves its page without a copy, named with its line;
// a lapsed block that no end tag closes still takes the rest of its page,
// and the run says so once the page is rewritten; one that has not lapsed
// yet is not said.
TEST_F(BatchRunTest, BrokenBlocksAreNamedWithTheirLines) {
  Write(dir_ / "a.htm", "a\n<!--LSHOW 12/01/26\nsale over\n");
  Write(dir_ / "b.htm", "b\n<!--LAPSE 12/01/26\nold\n");
  Write(dir_ / "c.htm", "c\n\n<!--LAPSE 12/31/26\nlater\n");
  Write(dir_ / "d.htm", "<!--LSHOW 12/01/26\nsale over\n-->\n");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.filesLeftOut, 1u);
  EXPECT_EQ(
      frontEnd_.reports,
      NameList{"a.htm:2: show block has no closing line \"-->\". The page is left as it is."});
  EXPECT_EQ(messages::RunNotes(result),
            NameList{"b.htm:2: expiry block has no <!--ENDL; it runs to the end of the page."});
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "b.htm", "c.htm", "d.htm"}));
  EXPECT_EQ(Read(New() / "b.htm"), "b\n");
  EXPECT_EQ(Read(New() / "d.htm"), "sale over\n");
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

// One step per page, each against the true total from the first: the run
// once counted the pages it had listed so far, which grew as it went, and
// the replace counted each page twice.
TEST_F(FakeRunTest, RunAndReplaceStepOncePerPageAgainstTheTrueTotal) {
  const auto expectOneStepPerPage = [](const auto& steps, std::uint64_t pages, const char* what) {
    ASSERT_EQ(steps.size(), pages) << what;
    for (std::uint64_t step = 0; step < pages; ++step) {
      EXPECT_EQ(steps[step], std::make_pair(step, pages)) << what << " step " << step;
    }
  };
  // More pages than the run keeps in flight, in folders, beside other files.
  constexpr std::uint64_t kPages = 150;
  for (std::uint64_t page = 0; page < kPages; ++page) {
    AddPage("f" + std::to_string(page % 3) + "/p" + std::to_string(page) + ".htm",
            "a\n<!--LAPSE 01/01/20\nold\n<!--ENDL\n");
  }
  AddPage("notes.txt", "n\n");
  options_.recursion = Recursion::Subfolders;
  options_.threads = 2;
  ASSERT_EQ(Run().status, RunStatus::Completed);
  expectOneStepPerPage(frontEnd_.steps, kPages, "run");

  RecordingFrontEnd placed;
  ReplaceOptions replace;
  replace.progress = &placed;
  ASSERT_TRUE(Replace(disk_, kSite, replace).Complete());
  expectOneStepPerPage(placed.steps, kPages, "replace");
}

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
  EXPECT_EQ(Page("New/a/b/deep.htm"), "kept\n");
  EXPECT_EQ(Page("New/a/New/inner.htm"), "kept\n");
  EXPECT_EQ(disk_.Names("/site/New"), (NameList{".lapse-sources", "Log.txt", "a", "top.htm"}));
  const fs::path deep = fs::path("a") / "b" / "deep.htm";
  const std::string log = Page("New/Log.txt");
  EXPECT_LT(log.find("\r\ntop.htm\r\n"), log.find("\r\n" + (fs::path("a") / "a.htm").string()));
  EXPECT_LT(log.find((fs::path("a") / "a.htm").string()), log.find(deep.string()));

  const ReplaceResult replaced = ReplaceOldFiles();
  EXPECT_TRUE(replaced.Complete()) << messages::ReplaceProblems(replaced).front();
  EXPECT_EQ(Page("a/b/deep.htm"), "kept\n");
  EXPECT_EQ(Page(".hidden/h.htm"), lapsed);
  EXPECT_EQ(Page("a/notes.txt"), "n\n");
  EXPECT_EQ(disk_.Names("/site"), (NameList{".hidden", "Log.txt", "a", "link", "top.htm"}));
}

TEST_F(FakeRunTest, WithoutTheOptionSubfoldersStayAsTheyAre) {
  AddPage("a/a.htm", "<!--LAPSE 12/01/26\n");
  EXPECT_EQ(Run().fileCount, 0u);
  EXPECT_EQ(disk_.Names("/site/New"), NameList{".lapse-sources"});
}

// No copy is ever named before the lines it removed are in the log. A log
// that stops taking lines after a few pages: every page is either named with
// its lines in the log or reported, on one thread and on several.
TEST_F(FakeRunTest, ACopyIsNamedOnlyOnceItsLinesAreInTheLog) {
  for (const unsigned threads : {1u, 4u}) {
    for (const std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{900}, std::uint64_t{20000}}) {
      SCOPED_TRACE("threads " + std::to_string(threads) + ", log limit " + std::to_string(limit));
      MemoryDisk disk;
      RecordingFrontEnd frontEnd;
      for (int page = 0; page < 200; ++page) {
        std::string text = "<!--LAPSE 12/01/26\n";
        for (int line = 0; line < 20; ++line) {
          text += "removed " + std::to_string(page) + "." + std::to_string(line) + "\n";
        }
        text += "<!--ENDL\nkept\n";
        // Every third page has nothing lapsed, and needs nothing of the log.
        disk.AddFile("/site/p" + std::to_string(page) + ".htm", page % 3 == 0 ? "kept\n" : text);
      }
      disk.sizeLimit["Log.txt"] = limit;
      RunOptions options = RunDayOptions();
      options.threads = threads;
      const RunResult result = BatchRun(disk, kSite, frontEnd, options);
      const std::string log = disk.Content("/site/New/Log.txt").value_or("");
      std::size_t named = 0;
      for (int page = 0; page < 200; ++page) {
        const std::string name = "p" + std::to_string(page) + ".htm";
        const bool copied = disk.Content("/site/New/" + name).has_value();
        const bool logged = log.find("\r\n" + name + "\r\n") != std::string::npos;
        named += copied ? 1 : 0;
        if (page % 3 == 0) {
          EXPECT_TRUE(copied) << name;
        } else {
          EXPECT_EQ(copied, logged) << name;
        }
        if (!copied) {
          EXPECT_NE(std::find(frontEnd.reports.begin(), frontEnd.reports.end(),
                              name + ": its removed lines could not be written to Log.txt: File "
                                     "too large. It is left as it is."),
                    frontEnd.reports.end())
              << name;
        }
      }
      EXPECT_EQ(result.pagesRewritten, named);
      EXPECT_EQ(result.filesLeftOut, 200 - named);
      EXPECT_EQ(result.AllRewritten(), limit == 20000 && named == 200);
      // What the log holds is whole entries only: cut back after each failure.
      EXPECT_TRUE(log.empty() || log.ends_with("<!--ENDL\r\n"));
    }
  }
}

// The reports and the log come in the listing's order, whatever thread
// rewrote which page.
TEST_F(FakeRunTest, ThreadsChangeNothingTheUserSees) {
  const auto runWith = [](unsigned threads) {
    MemoryDisk disk;
    for (int page = 0; page < 60; ++page) {
      const std::string name = "/site/p" + std::to_string(100 + page) + ".htm";
      switch (page % 4) {
        case 0:
          disk.AddFile(name, "<!--LAPSE 12/01/26\nold " + std::to_string(page) + "\n<!--ENDL\n");
          break;
        case 1:
          disk.AddFile(name, "<!--LNEW someday\n");
          break;
        case 2:
          disk.AddFile(name, "%PDF-1.7\n");
          break;
        default:
          disk.AddFile(name, "plain\n");
      }
    }
    RecordingFrontEnd frontEnd;
    RunOptions options = RunDayOptions();
    options.threads = threads;
    BatchRun(disk, kSite, frontEnd, options);
    return std::pair{frontEnd.reports, disk.Content("/site/New/Log.txt").value_or("")};
  };
  const auto one = runWith(1);
  EXPECT_EQ(one.first.size(), 30u);
  for (const unsigned threads : {2u, 3u, 8u}) {
    EXPECT_EQ(runWith(threads), one) << threads << " threads";
  }
}

// A site's own folder named New is never taken: the run writes nothing, and
// the replace touches nothing.
TEST_F(FakeRunTest, ASitesOwnFolderNewIsLeftAlone) {
  AddPage("index.htm", "home\n");
  AddPage("New/index.htm", "mine\n");
  AddPage("New/about.htm", "other\n");
  const RunResult run = Run();
  EXPECT_EQ(run.status, RunStatus::Stopped);
  EXPECT_EQ(run.problem.kind, RunProblem::Kind::NewIsTheSites);
  const ReplaceResult replaced = ReplaceOldFiles();
  EXPECT_EQ(replaced.refusal, ReplaceRefusal::NewIsTheSites);
  EXPECT_EQ(disk_.Tree("/site"), (NameList{"New", "New/about.htm", "New/index.htm", "index.htm"}));
  EXPECT_EQ(Page("New/index.htm"), "mine\n");
  EXPECT_EQ(Page("index.htm"), "home\n");
}

// A page its author deleted never comes back, whether the copy is of the
// last run or of one before.
TEST_F(FakeRunTest, ADeletedPageStaysDeleted) {
  const std::string lapsed = "<!--LAPSE 12/01/26\nold\n<!--ENDL\n";
  AddPage("a.htm", "a\n" + lapsed);
  AddPage("b.htm", "b\n" + lapsed);
  Run();
  auto site = disk_.OpenFolder("/site/");
  ASSERT_FALSE(disk_.RemoveFile(**site, "b.htm"));
  Run();
  EXPECT_FALSE(disk_.Content("/site/New/b.htm"));
  EXPECT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_FALSE(disk_.Content("/site/b.htm"));

  AddPage("c.htm", "c\n" + lapsed);
  Run();
  ASSERT_FALSE(disk_.RemoveFile(**site, "c.htm"));
  const ReplaceResult replaced = ReplaceOldFiles();
  EXPECT_FALSE(disk_.Content("/site/c.htm"));
  EXPECT_EQ(messages::ReplaceProblems(replaced),
            (NameList{"Log.txt stays in the folder New: it moves up with the last page of its "
                      "run; see to the pages held back, then replace again.",
                      "c.htm stays in the folder New: its page was deleted after the run, and "
                      "stays deleted."}));
}

// Nothing Lapse writes is more open than what it comes from: the folders of
// New take their folders' permissions, the log and the record are the
// owner's alone, before the replace and after.
TEST_F(FakeRunTest, PrivateFoldersAndTheLogStayPrivate) {
  disk_.AddFolder("/site/private", {0700, MemoryDisk::kUser, MemoryDisk::kGroup});
  disk_.AddFile("/site/private/p.htm", "<!--LAPSE 12/01/26\nsecret\n<!--ENDL\n",
                {0600, MemoryDisk::kUser, MemoryDisk::kGroup});
  options_.recursion = Recursion::Subfolders;
  Run();
  EXPECT_EQ(disk_.AccessOf("/site/New/private")->mode, 0700u);
  EXPECT_EQ(disk_.AccessOf("/site/New/private/p.htm")->mode, 0600u);
  EXPECT_EQ(disk_.AccessOf("/site/New/Log.txt")->mode, 0600u);
  EXPECT_EQ(disk_.AccessOf("/site/New/.lapse-sources")->mode & 0077, 0u);
  ASSERT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(disk_.AccessOf("/site/Log.txt")->mode, 0600u);
}

// A page that is a link is named once and not followed; a page of other
// names has them told after the replace, since they keep the old text.
TEST_F(FakeRunTest, LinksAndOtherNamesAreSaid) {
  AddPage("real.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  disk_.AddLink("/site/alias.htm", "/site/real.htm");
  disk_.AddHardLink("/site/also.htm", "/site/real.htm");
  Run();
  EXPECT_EQ(frontEnd_.reports, NameList{"alias.htm: a link, left as it is"});
  const ReplaceResult replaced = ReplaceOldFiles();
  EXPECT_TRUE(replaced.Complete());
  EXPECT_EQ(messages::ReplaceNotes(replaced),
            (NameList{"also.htm: its other names keep the old text.",
                      "real.htm: its other names keep the old text."}));
  EXPECT_EQ(Page("real.htm"), "");
}

// A file with NUL bytes named as a page is no text: a line break put into
// it would break it. Run, replace and check leave it byte for byte and name
// it as they name an image, and it counts as no failure.
TEST_F(FakeRunTest, AFileWithNulBytesIsLeftAsItIsAndSaid) {
  const std::string font =
      std::string("wOFF\0\x01\0\0", 8) + "\n<!--LAPSE 12/01/26\nold\r<!--ENDL\n";
  AddPage("font.woff.htm", font);
  AddPage("a.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nb\n");
  const RunResult result = Run();
  EXPECT_TRUE(result.AllRewritten());
  EXPECT_EQ(frontEnd_.reports, NameList{"font.woff.htm: a binary file, left as it is"});
  EXPECT_EQ(Page("New/font.woff.htm"), "(none)");
  ASSERT_TRUE(ReplaceOldFiles().Complete());
  EXPECT_EQ(Page("font.woff.htm"), font);
  EXPECT_EQ(Page("a.htm"), "b\n");
  const CheckResult check = CheckSite(disk_, kSite, Recursion::ThisFolder,
                                      {30, 1, text::EnglishDateLocale(), [] { return kToday; }});
  ASSERT_EQ(check.leftOut.size(), 1u);
  EXPECT_EQ(messages::LeftOut(check.leftOut[0].name, check.leftOut[0].report),
            "font.woff.htm: a binary file, left as it is");
  EXPECT_TRUE(check.tags.empty());
  EXPECT_FALSE(check.Faulty());
}

// Where a page's time stamp cannot tell a save from the state the run read,
// its bytes do: a save of the same size in the same tick is not lost.
TEST_F(FakeRunTest, ASaveThatLeavesTheTimeAsItWasIsStillSeen) {
  disk_.coarseTimes = true;
  // A lone CR, which the copy ends in CR LF: the copy differs from its page.
  AddPage("a.htm", "before\r");
  AddPage("b.htm", "<!--LNEW 10/01/26\nnew\nbefore\n");
  Run();
  auto site = disk_.OpenFolder("/site/");
  const platform::FileStatus was = *disk_.Status(**site, "a.htm");
  AddPage("a.htm", "edited\n");
  ASSERT_EQ(disk_.Status(**site, "a.htm")->stamp.size, was.stamp.size);
  const ReplaceResult replaced = ReplaceOldFiles();
  EXPECT_EQ(Page("a.htm"), "edited\n");
  EXPECT_EQ(Page("b.htm"), "before\n");
  ASSERT_EQ(replaced.left.size(), 2u);
  EXPECT_EQ(replaced.left[1].reason, HeldBack::SourceChanged);
}

// Another Lapse at work on the folder: the run waits for it, then says who
// it is, and writes nothing.
TEST_F(FakeRunTest, AFolderAnotherLapseHoldsIsLeftAlone) {
  AddPage("a.htm", "a\n");
  const std::string site = text::PathText(PathsFor(kSite).sourceDir);
  disk_.lockedByOthers.insert(site);
  disk_.otherHolder.process = 4242;
  const RunResult run = Run();
  EXPECT_EQ(run.status, RunStatus::Stopped);
  EXPECT_EQ(messages::Stopped(run.problem),
            site + " is being updated by another Lapse (process 4242); try again later.");
  EXPECT_EQ(disk_.Names("/site"), NameList{"a.htm"});
  EXPECT_EQ(ReplaceOldFiles().refusal, ReplaceRefusal::Busy);
}

// A local time of the machine as a moment.
std::chrono::system_clock::time_point LocalMoment(int year, int month, int day, int hour,
                                                  int minute) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

// Every moment a message names is its local date and time, today's too: a
// message read the next morning, or in a log, cannot be read as another day.
TEST_F(FakeRunTest, TheHolderOfTheLockIsNamedWithTheDateItTookItOn) {
  const std::time_t now = std::time(nullptr);
  std::tm today{};
#if defined(_WIN32)
  localtime_s(&today, &now);
#else
  localtime_r(&now, &today);
#endif
  char todayText[48];
  std::snprintf(todayText, sizeof todayText, "%04d-%02d-%02d", today.tm_year + 1900,
                today.tm_mon + 1, today.tm_mday);
  const struct {
    std::chrono::system_clock::time_point since;
    std::string when;
  } cases[] = {
      {LocalMoment(2026, 12, 9, 14, 22), "2026-12-09 14:22"},
      {LocalMoment(2027, 1, 5, 9, 7), "2027-01-05 09:07"},
      {LocalMoment(today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, 0, 1),
       std::string(todayText) + " 00:01"},
  };
  AddPage("a.htm", "a\n");
  const std::string site = text::PathText(PathsFor(kSite).sourceDir);
  disk_.lockedByOthers.insert(site);
  disk_.otherHolder.process = 4242;
  for (const auto& c : cases) {
    disk_.otherHolder.since = c.since;
    EXPECT_EQ(messages::When(c.since), c.when);
    EXPECT_EQ(messages::Stopped(Run().problem),
              site + " is being updated by another Lapse (process 4242, since " + c.when +
                  "); try again later.");
  }
}

// A folder of New that cannot be made, because a file stands in its place:
// that folder's pages are reported, the rest of the run goes on.
TEST_F(FakeRunTest, AMirrorFolderThatCannotBeMadeLeavesItsPagesOut) {
  AddPage("top.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  AddPage("sub/a.htm", "x\n");
  AddPage("sub/deeper/b.htm", "y\n");
  Run();
  disk_.AddFile("/site/New/sub", "a file in the way");
  options_.recursion = Recursion::Subfolders;
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.filesLeftOut, 2u);
  ASSERT_EQ(frontEnd_.reports.size(), 2u);
  EXPECT_EQ(frontEnd_.reports[0], "Cannot write " + text::PathText(PathsFor(kSite).newDir / "sub") +
                                      ": Not a directory.");
  EXPECT_EQ(Page("New/top.htm"), "");
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
