#include "batch/directory.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdio>
#endif

namespace lapse::batch {

namespace {

bool IsHidden(const std::filesystem::directory_entry& entry) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesW(entry.path().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
  return entry.path().filename().native().starts_with('.');
#endif
}

}  // namespace

EntryKind KindOf(const std::filesystem::directory_entry& entry) {
  std::error_code error;
  // The kinds come from the listing itself where the platform gives them, so
  // a large directory costs no extra look-up per file.
  if (entry.is_symlink(error)) {
    return EntryKind::Link;
  }
  if (entry.is_directory(error)) {
    return EntryKind::Directory;
  }
  if (!entry.is_regular_file(error)) {
    return EntryKind::Other;
  }
  return IsHidden(entry) ? EntryKind::Hidden : EntryKind::OrdinaryFile;
}

Listing ListOrdinaryFiles(const std::filesystem::path& directory) {
  Listing listing;
  std::filesystem::directory_iterator it(directory, listing.error);
  for (; !listing.error && it != std::filesystem::directory_iterator();
       it.increment(listing.error)) {
    if (KindOf(*it) == EntryKind::OrdinaryFile) {
      listing.names.push_back(it->path().filename());
    }
  }
  return listing;
}

std::error_code ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
#if defined(_WIN32)
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {};
  }
  return std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) {
    return {};
  }
  return std::error_code(errno, std::generic_category());
#endif
}

}  // namespace lapse::batch
