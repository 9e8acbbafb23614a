#include "batch/record_text.h"

#include <vector>

namespace lapse::batch {

platform::Expected<std::string> ReadAll(text::ByteSource& file) {
  std::string text;
  std::vector<char> buffer(std::size_t{64} * 1024);
  while (const std::size_t count = file.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  if (file.Error()) {
    return file.Error();
  }
  return text;
}

std::error_code WriteWholeFile(platform::Disk& disk, platform::Folder& folder,
                               const std::filesystem::path& name, std::string_view text,
                               Durability durability) {
  platform::Expected<std::unique_ptr<platform::NewFile>> file = disk.Create(folder, name, 0600);
  if (!file) {
    return file.error();
  }
  if (!(*file)->Write(text)) {
    return (*file)->Error();
  }
  const bool synced = durability == Durability::Synced;
  if (const std::error_code error = synced ? (*file)->Sync() : std::error_code()) {
    return error;
  }
  if (const std::error_code error = (*file)->Commit()) {
    return error;
  }
  return synced ? disk.SyncFolder(folder) : std::error_code();
}

bool TakeHash(std::string_view& text, std::optional<std::uint64_t>& hash) {
  if (text.starts_with(kNoHash) && text.substr(kNoHash.size()).starts_with(' ')) {
    text.remove_prefix(kNoHash.size() + 1);
    hash.reset();
    return true;
  }
  std::uint64_t value = 0;
  if (!Take(text, value, 16)) {
    return false;
  }
  hash = value;
  return true;
}

}  // namespace lapse::batch
