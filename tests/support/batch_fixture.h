// A batch run over a test's own directory, with a front end that records
// what the run asked and reported.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "messages/messages.h"
#include "support/fake_disk.h"
#include "support/temp_dir.h"

namespace lapse::testing_support {

class RecordingFrontEnd final : public batch::RunFrontEnd {
 public:
  bool Confirm(const std::filesystem::path& sourceDir) override {
    questions.push_back(messages::RunQuestion(sourceDir));
    return answer;
  }
  void NewDirectoryCreated() override { ++refreshes; }
  void FileLeftOut(const std::filesystem::path& name, const engine::FileReport& report) override {
    reports.push_back(messages::LeftOut(name, report));
  }

  bool answer = true;
  std::vector<std::string> questions;
  std::vector<std::string> reports;
  int refreshes = 0;
};

// The day every batch test runs on.
inline constexpr engine::Today kRunDay = std::chrono::local_days{std::chrono::year{2026} / 12 / 8};

class BatchFixture : public TempDirTest {
 protected:
  static constexpr engine::Today kToday = kRunDay;

  // Runs over directory (the test's own by default) on kToday.
  batch::RunResult Run() { return RunOver(dir_); }
  batch::RunResult RunOver(const std::filesystem::path& directory) {
    return batch::BatchRun(disk_, state_, directory, frontEnd_,
                           {engine::EnglishDateLocale(), [] { return kToday; }});
  }
  batch::ReplaceResult ReplaceOldFiles() { return batch::Replace(disk_, state_); }
  // What a replace tells the user.
  static std::vector<std::string> Problems(const batch::ReplaceResult& result) {
    return messages::ReplaceProblems(result);
  }
  std::filesystem::path New() const { return dir_ / "New"; }

  engine::Disk& disk_ = engine::MachineDisk();
  state::ProgramState state_;
  RecordingFrontEnd frontEnd_;
};

// The same over a site "/site" on a disk in memory.
class FakeSiteFixture : public testing::Test {
 protected:
  static constexpr engine::Today kToday = kRunDay;
  static inline const std::filesystem::path kSite = "/site";

  batch::RunResult Run() {
    return batch::BatchRun(disk_, state_, kSite, frontEnd_,
                           {engine::EnglishDateLocale(), [] { return kToday; }});
  }
  batch::ReplaceResult ReplaceOldFiles() { return batch::Replace(disk_, state_); }
  void AddPage(const std::string& name, const std::string& content) {
    disk_.AddFile(kSite / engine::PathFromText(name), content);
  }
  std::string Page(const std::string& name) const {
    return disk_.Content(kSite / engine::PathFromText(name)).value_or("(none)");
  }

  FakeDisk disk_;
  state::ProgramState state_;
  RecordingFrontEnd frontEnd_;
};

}  // namespace lapse::testing_support
