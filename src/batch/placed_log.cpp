#include "batch/placed_log.h"

#include "batch/kept_store.h"
#include "batch/record_text.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "lapse log 1 ";

fs::path LogsFolder(const fs::path& stateFolder) {
  return stateFolder / "logs";
}

}  // namespace

std::error_code NotePlacedLog(platform::Disk& disk, const fs::path& stateFolder,
                              const fs::path& sourceDir, const Identity& log) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      OpenOrMakePath(disk, LogsFolder(stateFolder));
  if (!folder) {
    return folder.error();
  }
  platform::Expected<std::unique_ptr<platform::NewFile>> file =
      disk.Create(**folder, fs::path(SiteKey(sourceDir)), 0600);
  if (!file) {
    return file.error();
  }
  const std::string text =
      std::string(kHeader) + std::to_string(log.device) + " " + std::to_string(log.inode) + " \n";
  if (!(*file)->Write(text)) {
    return (*file)->Error();
  }
  // A note lost to a power cut leaves the log to be told by its text.
  return (*file)->Commit();
}

std::optional<Identity> PlacedLog(platform::Disk& disk, const fs::path& stateFolder,
                                  const fs::path& sourceDir) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      disk.OpenFolder(LogsFolder(stateFolder).native() + fs::path::preferred_separator);
  if (!folder) {
    return std::nullopt;
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(**folder, fs::path(SiteKey(sourceDir)));
  if (!file) {
    return std::nullopt;
  }
  const platform::Expected<std::string> text = ReadAll(**file);
  if (!text || !text->starts_with(kHeader) || !text->ends_with('\n')) {
    return std::nullopt;
  }
  std::string_view rest(*text);
  rest.remove_prefix(kHeader.size());
  Identity log;
  if (!Take(rest, log.device) || !Take(rest, log.inode) || rest != "\n") {
    return std::nullopt;
  }
  return log;
}

}  // namespace lapse::batch
