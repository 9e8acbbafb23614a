// A batch run over a test's own directory, with a front end that records
// what the run asked and reported.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch.h"
#include "messages/messages.h"
#include "platform/memory_disk.h"
#include "support/temp_dir.h"
#include "text/names.h"

namespace lapse::testing_support {

class RecordingFrontEnd final : public batch::RunFrontEnd {
 public:
  bool Confirm(const std::filesystem::path& sourceDir, batch::Recursion recursion) override {
    questions.push_back(messages::RunQuestion(sourceDir, recursion));
    return answer;
  }
  void NewDirectoryCreated() override { ++refreshes; }
  void FileLeftOut(const std::filesystem::path& name, const batch::PageReport& report) override {
    reports.push_back(messages::LeftOut(name, report));
  }
  void Advance(std::uint64_t done, std::uint64_t total, const std::filesystem::path&) override {
    steps.emplace_back(done, total);
  }

  bool answer = true;
  // Each step of the progress: done, and of how many.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> steps;
  std::vector<std::string> questions;
  std::vector<std::string> reports;
  int refreshes = 0;
};

// The day every batch test runs on.
inline constexpr text::Today kRunDay = std::chrono::local_days{std::chrono::year{2026} / 12 / 8};

// The options of a run on kRunDay, in English, on the threads the machine has.
inline batch::RunOptions RunDayOptions(batch::Recursion recursion = batch::Recursion::ThisFolder) {
  batch::RunOptions options;
  options.locale = text::EnglishDateLocale();
  options.clock = [] { return kRunDay; };
  options.recursion = recursion;
  options.lockWait = std::chrono::milliseconds(0);
  return options;
}

class BatchFixture : public TempDirTest {
 protected:
  static constexpr text::Today kToday = kRunDay;

  // Runs over directory (the test's own by default) on kToday.
  batch::RunResult Run() { return RunOver(dir_); }
  batch::RunResult RunOver(const std::filesystem::path& directory) {
    return batch::BatchRun(disk_, directory, frontEnd_, options_);
  }
  batch::ReplaceResult ReplaceOldFiles() { return batch::Replace(disk_, dir_, {}); }
  // What a replace tells the user.
  static std::vector<std::string> Problems(const batch::ReplaceResult& result) {
    return messages::ReplaceProblems(result);
  }
  std::filesystem::path New() const { return dir_ / "New"; }

  platform::Disk& disk_ = platform::MachineDisk();
  batch::RunOptions options_ = RunDayOptions();
  RecordingFrontEnd frontEnd_;
};

// The same over a site "/site" on a disk in memory.
class FakeSiteFixture : public testing::Test {
 protected:
  static constexpr text::Today kToday = kRunDay;
  static inline const std::filesystem::path kSite = "/site";

  batch::RunResult Run() { return batch::BatchRun(disk_, kSite, frontEnd_, options_); }
  batch::ReplaceResult ReplaceOldFiles() { return batch::Replace(disk_, kSite, {}); }
  void AddPage(const std::string& name, const std::string& content) {
    disk_.AddFile(kSite / text::PathFromText(name), content);
  }
  std::string Page(const std::string& name) const {
    return disk_.Content(kSite / text::PathFromText(name)).value_or("(none)");
  }

  platform::MemoryDisk disk_;
  batch::RunOptions options_ = RunDayOptions();
  RecordingFrontEnd frontEnd_;
};

}  // namespace lapse::testing_support
