// What a directory holds, as the batch run and the replace see it.
#pragma once

#include <filesystem>
#include <system_error>
#include <vector>

namespace lapse::batch {

enum class EntryKind {
  OrdinaryFile,  // a regular file, neither hidden nor a system file
  Directory,
  Hidden,  // hidden or system; never listed as ordinary
  Link,    // a symbolic link: never written through, never replaced
  Other,   // devices, sockets, pipes
};

EntryKind KindOf(const std::filesystem::directory_entry& entry);

struct Listing {
  std::vector<std::filesystem::path> names;  // bare names, in the directory's own order
  std::error_code error;
};

// The bare names of the ordinary files of a directory.
Listing ListOrdinaryFiles(const std::filesystem::path& directory);

// Moves from over to in one step: at every instant to holds either its old or
// its new content. Both lie in one directory tree on one volume.
std::error_code ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace lapse::batch
