#include "batch/placed_log.h"

#include "batch/kept_store.h"
#include "batch/record_text.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "lapse log 2 ";

constexpr std::string_view kFolder = "logs";

}  // namespace

std::error_code NotePlacedLog(platform::Disk& disk, const fs::path& stateFolder,
                              const fs::path& sourceDir, const platform::FileStamp& log) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, true);
  if (!folder) {
    return folder.error();
  }
  std::string text(kHeader);
  for (const std::uint64_t number : {log.device, log.inode, log.size}) {
    text += std::to_string(number) + " ";
  }
  text += std::to_string(log.modified) + " \n";
  return WriteWholeFile(disk, **folder, fs::path(SiteKey(sourceDir)), text, Durability::Synced);
}

std::optional<platform::FileStamp> PlacedLog(platform::Disk& disk, const fs::path& stateFolder,
                                             const fs::path& sourceDir) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      StateSubfolder(disk, stateFolder, kFolder, false);
  if (!folder) {
    return std::nullopt;
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(**folder, fs::path(SiteKey(sourceDir)));
  if (!file) {
    return std::nullopt;
  }
  const platform::Expected<std::string> text = ReadAll(**file);
  if (!text || !text->starts_with(kHeader)) {
    return std::nullopt;
  }
  std::string_view rest(*text);
  rest.remove_prefix(kHeader.size());
  platform::FileStamp log;
  if (!Take(rest, log.device) || !Take(rest, log.inode) || !Take(rest, log.size) ||
      !Take(rest, log.modified) || rest != "\n") {
    return std::nullopt;
  }
  return log;
}

}  // namespace lapse::batch
