// What each copy in New was made from, kept beside the copies, so that a
// replace can tell a source that changed after the run from one that did not.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "engine/disk.h"

namespace lapse::batch {

// A hidden file of New; the replace removes it with New.
inline constexpr std::string_view kRecordFileName = ".lapse-sources";

struct CopyRecord {
  engine::FileStamp source;  // the source as the run read it
  std::uint64_t copySize = 0;
};

using RunRecord = std::map<std::filesystem::path, CopyRecord>;

// The record as the file holds it: a header, then an entry per copy, so
// that a run can write it as it goes. Text that is not such a record reads
// as an empty one: every copy is then held back.
std::string_view RunRecordHeader();
std::string FormatRecordEntry(const std::filesystem::path& name, const CopyRecord& copy);
RunRecord ParseRunRecord(std::string_view text);

}  // namespace lapse::batch
