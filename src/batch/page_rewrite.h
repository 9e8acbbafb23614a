// The rewrite of one page of a run into its copy in New: the copy is
// written in full and given its page's permissions, but not yet named; the
// lines it removed are held for the log. The run names the copy once those
// lines are in the log, so that no copy ever stands without them.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "batch/log_lines.h"
#include "batch/page_report.h"
#include "batch/run_record.h"
#include "platform/disk.h"
#include "text/rewrite.h"

namespace lapse::batch {

// One page to rewrite: its folder, the folder its copy goes to, and its name.
struct PageJob {
  std::shared_ptr<platform::Folder> source;
  std::shared_ptr<platform::Folder> copies;
  std::filesystem::path name;   // bare
  std::filesystem::path shown;  // its path below the run's folder
  // What became of it, where the walk knew before any work (a link, a folder
  // whose copies have nowhere to go); it passes through in its place.
  std::optional<PageReport> known;
};

// A page rewritten, or why not.
struct RewrittenPage {
  PageReport report;
  // When rewritten: the whole copy, unnamed until the run commits it; a
  // copy without removed lines needs nothing of the log and is named at
  // once, with the error of that when there was one.
  // The folder the copy is to be named in, held open until the copy is
  // named or dropped (declared first, so that it goes last).
  std::shared_ptr<platform::Folder> copyFolder;
  std::unique_ptr<platform::NewFile> copy;
  bool named = false;
  std::error_code nameError;
  std::optional<LogLines> lines;  // with logging on
  // With logging on, where in the page each block of lines began.
  std::vector<text::RemovedBlock> blocks;
  // When rewritten: the copy's text is the page's text byte for byte (no
  // line left out, every line end kept). The text is what lies under the
  // page's encoding and compression: a gzip page's copy is compressed anew,
  // so its file's bytes may differ even then (record.sameAsPage tells the
  // bytes).
  bool sameAsPage = false;
  CopyRecord record;
  platform::AccessKept access = platform::AccessKept::All;
};

struct PageSettings {
  text::TagRules rules;
  bool logging = true;
};

// Rewrites pages one after another with buffers of its own; one per thread.
class PageRewriter {
 public:
  PageRewriter(platform::Disk& disk, const PageSettings& settings, platform::Folder& newDir);
  RewrittenPage Rewrite(const PageJob& job);

 private:
  platform::Disk& disk_;
  const PageSettings& settings_;
  platform::Folder& newDir_;
  std::vector<char> readBuffer_;
  std::vector<char> copyBuffer_;
  std::vector<char> logBuffer_;
};

}  // namespace lapse::batch
