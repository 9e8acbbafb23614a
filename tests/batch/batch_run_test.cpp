#include <gtest/gtest.h>

#include "batch/batch.h"
#include "support/temp_dir.h"

namespace lapse::batch {
namespace {

using namespace std::chrono;
using testing_support::TempDirTest;
using NameList = std::vector<std::string>;

const engine::Today kToday = local_days{year{2026} / 12 / 8};

class RecordingFrontEnd final : public RunFrontEnd {
 public:
  bool Confirm(std::string_view question) override {
    questions.emplace_back(question);
    return answer;
  }
  void NewDirectoryCreated() override { ++refreshes; }
  void FileLeftOut(const engine::FileReport& report) override { reports.push_back(report.message); }

  bool answer = true;
  std::vector<std::string> questions;
  std::vector<std::string> reports;
  int refreshes = 0;
};

class BatchRunTest : public TempDirTest {
 protected:
  RunResult Run() {
    return BatchRun(state_, dir_, frontEnd_, {engine::EnglishDateLocale(), [] { return kToday; }});
  }
  std::filesystem::path New() const { return dir_ / "New"; }

  state::ProgramState state_;
  RecordingFrontEnd frontEnd_;
};

TEST_F(BatchRunTest, RewritesHtmlFilesAndCountsEveryOrdinaryFile) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "b.html", "b\n");
  Write(dir_ / "c.HTM", "c\n");
  Write(dir_ / "old.htm.bak", "d\n");
  Write(dir_ / "notes.txt", "n\n");
  Write(dir_ / ".hidden.htm", "h\n");
  std::filesystem::create_directory(dir_ / "sub.htm");
  std::filesystem::create_symlink(dir_ / "b.html", dir_ / "link.htm");

  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.fileCount, 5u);
  EXPECT_EQ(result.message, "Processed 5 files.");
  EXPECT_EQ(frontEnd_.questions, NameList{"Update all HTML files in " + dir_.string() + "/?"});
  EXPECT_EQ(frontEnd_.refreshes, 1);
  EXPECT_EQ(Names(New()), (NameList{"Log.txt", "a.htm", "b.html", "old.htm.bak"}));
  EXPECT_EQ(Read(New() / "a.htm"), "a\r\n");
  EXPECT_EQ(Read(New() / "Log.txt"), "\r\na.htm\r\n<!--LAPSE 12/01/26\r\nold\r\n<!--ENDL\r\n");
  EXPECT_EQ(state_.SourceDir, dir_.string() + "/");
  EXPECT_EQ(state_.NewDir, dir_.string() + "/New/");
  EXPECT_EQ(state_.LogPath, dir_.string() + "/New/Log.txt");
}

TEST_F(BatchRunTest, DeclinedRunMovesOnlyThePaths) {
  Write(dir_ / "a.htm", "a\n");
  state_.LogPath = "/elsewhere/New/Log.txt";
  frontEnd_.answer = false;
  EXPECT_EQ(Run().status, RunStatus::Declined);
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(state_.SourceDir, dir_.string() + "/");
  EXPECT_EQ(state_.NewDir, dir_.string() + "/New/");
  EXPECT_EQ(state_.LogPath, "/elsewhere/New/Log.txt");
}

TEST_F(BatchRunTest, EmptyDirectoryCountsNothingAndWritesNoLog) {
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.message, "Processed 0 files.");
  EXPECT_EQ(Names(New()), NameList{});
}

TEST_F(BatchRunTest, SecondRunDeletesTheOldLogFirst) {
  Write(dir_ / "a.htm", "a\n<!--LNEW 10/01/26\nx\n");
  Run();
  Write(dir_ / "a.htm", "a\n");
  state_.Log = 0;
  EXPECT_EQ(Run().status, RunStatus::Completed);
  EXPECT_EQ(frontEnd_.refreshes, 1);  // "New" existed already
  EXPECT_EQ(Names(New()), NameList{"a.htm"});
  EXPECT_EQ(Read(New() / "a.htm"), "a\r\n");
}

TEST_F(BatchRunTest, LogIsEmptyWhenNothingLapsed) {
  Write(dir_ / "a.htm", "a\n");
  Run();
  EXPECT_EQ(Read(New() / "Log.txt"), "");
}

TEST_F(BatchRunTest, RootDirectoryGetsADoubledSeparator) {
  frontEnd_.answer = false;
  BatchRun(state_, "/", frontEnd_, {engine::EnglishDateLocale(), [] { return kToday; }});
  EXPECT_EQ(frontEnd_.questions, NameList{"Update all HTML files in //?"});
  EXPECT_EQ(state_.NewDir, "//New/");
}

TEST_F(BatchRunTest, DateFormatErrorIsReportedAndTheRunGoesOn) {
  Write(dir_ / "bad.htm", "a\n<!--LAPSE someday\nb\n");
  Write(dir_ / "good.htm", "g\n");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.fileCount, 2u);
  EXPECT_EQ(result.filesLeftOut, 1u);
  EXPECT_EQ(frontEnd_.reports, NameList{"Date Format error in bad.htm"});
  EXPECT_EQ(Names(New()), (NameList{"Log.txt", "good.htm"}));
}

TEST_F(BatchRunTest, NewThatIsAFileStopsTheRun) {
  Write(dir_ / "a.htm", "a\n");
  Write(dir_ / "New", "in the way");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Stopped);
  EXPECT_EQ(result.message, "Cannot create the folder " + dir_.string() +
                                "/New: a file of that name is in the way.");
  EXPECT_EQ(Read(dir_ / "New"), "in the way");
}

TEST_F(BatchRunTest, LogThatIsAFolderStopsTheRun) {
  Write(dir_ / "a.htm", "a\n");
  std::filesystem::create_directories(New() / "Log.txt");
  const RunResult result = Run();
  EXPECT_EQ(result.status, RunStatus::Stopped);
  EXPECT_NE(result.message.find("Cannot delete the old log"), std::string::npos);
  EXPECT_EQ(Names(New()), NameList{"Log.txt"});
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
