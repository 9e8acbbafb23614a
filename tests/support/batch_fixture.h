// A batch run over a test's own directory, with a front end that records
// what the run asked and reported.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "support/temp_dir.h"

namespace lapse::testing_support {

class RecordingFrontEnd final : public batch::RunFrontEnd {
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

class BatchFixture : public TempDirTest {
 protected:
  static constexpr engine::Today kToday = std::chrono::local_days{std::chrono::year{2026} / 12 / 8};

  // Runs over directory (the test's own by default) on kToday.
  batch::RunResult Run() { return RunOver(dir_); }
  batch::RunResult RunOver(const std::filesystem::path& directory) {
    return batch::BatchRun(state_, directory, frontEnd_,
                           {engine::EnglishDateLocale(), [] { return kToday; }});
  }
  std::filesystem::path New() const { return dir_ / "New"; }

  state::ProgramState state_;
  RecordingFrontEnd frontEnd_;
};

}  // namespace lapse::testing_support
