// Which Log.txt in a site is the one Lapse put there, kept in the user's
// state folder: a replace moves its run's log up only over that one, and
// never over a file of the site's own that happens to have the name.
#pragma once

#include <filesystem>
#include <optional>

#include "batch/run_record.h"
#include "platform/disk.h"

namespace lapse::batch {

// Notes log, the file a replace just put in the site at sourceDir, on the
// disk: its number, size and time, which no later file of the site's has
// all alike.
std::error_code NotePlacedLog(platform::Disk& disk, const std::filesystem::path& stateFolder,
                              const std::filesystem::path& sourceDir,
                              const platform::FileStamp& log);

// The log last noted for the site; nothing where none was, or the note
// cannot be read.
std::optional<platform::FileStamp> PlacedLog(platform::Disk& disk,
                                             const std::filesystem::path& stateFolder,
                                             const std::filesystem::path& sourceDir);

}  // namespace lapse::batch
