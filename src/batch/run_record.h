// What each copy in New was made from, kept beside the copies, so that a
// replace puts in place exactly the copies of the last run whose pages are
// still as that run read them. While it stands in New, New is Lapse's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/disk.h"

namespace lapse::batch {

// Where the run that wrote the record stands.
enum class RecordState {
  Running,     // it has not ended, or was killed: its copies are not to be placed
  Complete,    // it ended; its copies wait for a replace
  PartPlaced,  // a replace put some of its copies in place; the rest wait
};

struct CopyRecord {
  platform::FileStamp source;  // the page as the run read it
  std::uint64_t links = 1;     // the names the page had
  // A hash of the page's bytes, where its stamp alone cannot tell a save
  // from the state the run read (whole-second times, a save just before).
  std::optional<std::uint64_t> hash;
  std::uint64_t copySize = 0;
};

struct RunRecord {
  RecordState state = RecordState::Running;
  // With PartPlaced: the run's log was in New when its copies began to go
  // up, and goes up with the last of them.
  bool logWaits = false;
  // With PartPlaced: the name of the kept replace that holds the pages this
  // run's copies replace, so that a replace cut short and done again keeps
  // them all in one.
  std::string keptAs;
  // By each copy's path below the run's folder (and below New).
  std::map<std::filesystem::path, CopyRecord> copies;
};

// The record as the file holds it: a header, then an entry per copy, so
// that a run can write it as it goes. Text that is no record reads as
// nothing; a record of the version before reads as complete.
std::string RunRecordHeader(RecordState state, bool logWaits = false, std::string_view keptAs = {});
std::string FormatRecordEntry(const std::filesystem::path& name, const CopyRecord& copy);
std::optional<RunRecord> ParseRunRecord(std::string_view text);

}  // namespace lapse::batch
