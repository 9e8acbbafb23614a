#include "batch/page_look.h"

#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/content_hash.h"

namespace lapse::batch {

PageSince LookAtPage(platform::Disk& disk, platform::Folder& folder,
                     const std::filesystem::path& name, const platform::FileStamp& seen,
                     const std::optional<std::uint64_t>& hash) {
  const platform::Expected<platform::FileStatus> page = disk.Status(folder, name);
  if (!page && page.error() == std::errc::no_such_file_or_directory) {
    return PageSince::Deleted;
  }
  if (!page || page->kind != platform::EntryKind::OrdinaryFile) {
    return PageSince::NotAFile;
  }
  if (page->stamp != seen) {
    return PageSince::Changed;
  }
  if (hash) {
    const platform::Expected<std::uint64_t> now = HashOfFile(disk, folder, name);
    if (!now || *now != *hash) {
      return PageSince::Changed;
    }
  }
  return PageSince::Unchanged;
}

platform::Expected<std::uint64_t> HashOfFile(platform::Disk& disk, platform::Folder& folder,
                                             const std::filesystem::path& name) {
  platform::Expected<std::unique_ptr<platform::SourceFile>> file = disk.OpenSource(folder, name);
  if (!file) {
    return file.error();
  }
  platform::ContentHash hash;
  std::vector<char> buffer(std::size_t{64} * 1024);
  while (const std::size_t count = (*file)->Read(buffer)) {
    hash.Add(std::string_view(buffer.data(), count));
  }
  if ((*file)->Error()) {
    return (*file)->Error();
  }
  return hash.Value();
}

}  // namespace lapse::batch
