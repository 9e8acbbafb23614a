// The last look at a page before a file is renamed over it: the replace's
// copy, or the page an undo puts back, takes its place only while the page
// is as Lapse last saw it, so that a save made since is never lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/disk.h"

namespace lapse::batch {

// What became of a page since Lapse saw it.
enum class PageSince {
  Unchanged,
  Deleted,   // nothing stands under its name
  NotAFile,  // a folder, a link or another thing stands there
  Changed,   // saved since, in place or by a file renamed over it
};

// Compares page name in folder with the stamp it had and, where that stamp
// alone cannot tell a save (whole-second times, a save just before), with
// the hash its bytes had. The stamp is looked at first and the bytes last,
// so that a save made while the stamp was looked at shows in the bytes.
PageSince LookAtPage(platform::Disk& disk, platform::Folder& folder,
                     const std::filesystem::path& name, const platform::FileStamp& seen,
                     const std::optional<std::uint64_t>& hash);

// A hash of the bytes of the file name in folder.
platform::Expected<std::uint64_t> HashOfFile(platform::Disk& disk, platform::Folder& folder,
                                             const std::filesystem::path& name);

}  // namespace lapse::batch
