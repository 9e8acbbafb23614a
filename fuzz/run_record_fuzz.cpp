// Feeds the run record's reader any bytes, as a site's owner may write them
// into New. A crash, a sanitizer report or a broken property is a finding:
//  - every path of a record that is read leads below the site's folder, one
//    name at a time (no "..", no root, no empty name);
//  - a record that is read, written back, reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "batch/run_record.h"

namespace {

using lapse::batch::CopyRecord;
using lapse::batch::FormatRecordEntry;
using lapse::batch::IsPathBelow;
using lapse::batch::ParseRunRecord;
using lapse::batch::RecordPlace;
using lapse::batch::RunRecord;
using lapse::batch::RunRecordHeader;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "run_record_fuzz: %s\n", what);
  std::abort();
}

bool SameCopy(const CopyRecord& a, const CopyRecord& b) {
  return a.source == b.source && a.links == b.links && a.hash == b.hash &&
         a.copySize == b.copySize && a.sameAsPage == b.sameAsPage &&
         a.written.value_or(lapse::batch::WrittenCopy{}) ==
             b.written.value_or(lapse::batch::WrittenCopy{}) &&
         a.logged == b.logged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<RunRecord> record = ParseRunRecord(text);
  if (!record) {
    return 0;
  }
  for (const auto& [path, copy] : record->copies) {
    if (!IsPathBelow(path)) {
      Fail("a record was read with a path that leads out of the folder");
    }
  }
  std::string written = RunRecordHeader(record->state, record->place.value_or(RecordPlace{}),
                                        record->logWaits, record->keptAs);
  for (const auto& [path, copy] : record->copies) {
    written += FormatRecordEntry(path, copy);
  }
  const std::optional<RunRecord> again = ParseRunRecord(written);
  if (!again || again->state != record->state || again->logWaits != record->logWaits ||
      again->keptAs != record->keptAs || again->copies.size() != record->copies.size()) {
    Fail("a record written back does not read back the same");
  }
  for (const auto& [path, copy] : record->copies) {
    const auto found = again->copies.find(path);
    if (found == again->copies.end() || !SameCopy(found->second, copy)) {
      Fail("a copy's entry written back does not read back the same");
    }
  }
  return 0;
}
