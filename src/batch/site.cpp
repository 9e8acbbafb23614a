#include "batch/batch.h"
#include "batch/site_names.h"
#include "platform/errors.h"

namespace lapse::batch {

namespace fs = std::filesystem;

RunPaths PathsFor(const fs::path& directory) {
  const fs::path::string_type separator(1, fs::path::preferred_separator);
  RunPaths paths;
  paths.sourceDir = directory.native() + separator;
  paths.newDir = paths.sourceDir.native() + kNewName.native() + separator;
  paths.logPath = paths.newDir.native() + kLogName.native();
  return paths;
}

platform::Expected<Site, SiteProblem> Site::Open(platform::Disk& disk, const fs::path& directory,
                                                 std::chrono::milliseconds wait) {
  const RunPaths paths = PathsFor(directory);
  platform::Expected<std::unique_ptr<platform::Folder>> folder = disk.OpenFolder(paths.sourceDir);
  if (!folder) {
    return SiteProblem{SiteProblem::Kind::CannotOpenFolder, paths.sourceDir, folder.error(), {}};
  }
  platform::Expected<std::unique_ptr<platform::FolderLock>, platform::LockRefusal> lock =
      disk.Lock(**folder, wait);
  if (!lock) {
    const bool busy = lock.error().error == platform::FolderBusyError();
    return SiteProblem{busy ? SiteProblem::Kind::Busy : SiteProblem::Kind::CannotLock,
                       paths.sourceDir, lock.error().error, lock.error().holder};
  }
  return Site(std::shared_ptr<platform::Folder>(std::move(*folder)), std::move(*lock), paths);
}

}  // namespace lapse::batch
