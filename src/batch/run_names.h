// The names a run gives in the folder it rewrites.
#pragma once

#include <filesystem>

#include "batch/run_record.h"
#include "engine/rewriter.h"

namespace lapse::batch {

inline const std::filesystem::path kNewName("New");
inline const std::filesystem::path kLogName(engine::kLogFileName);
inline const std::filesystem::path kRecordName(kRecordFileName);

}  // namespace lapse::batch
