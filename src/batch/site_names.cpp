#include "batch/site_names.h"

#include "platform/disk.h"

namespace lapse::batch {

bool IsHtmlFileName(const std::filesystem::path& name) {
  return name.native().find(std::filesystem::path(".htm").native()) !=
         std::filesystem::path::string_type::npos;
}

bool IsLapsesOwnFile(const std::filesystem::path& name) {
  return name == kRecordName || platform::IsTemporaryName(name);
}

}  // namespace lapse::batch
