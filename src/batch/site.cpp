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

namespace {

// Whether root, or another user with every right, would work on a folder
// someone else may change meanwhile.
bool IsForeign(platform::Disk& disk, platform::Folder& folder) {
  const std::optional<std::uint32_t> user = disk.ProcessUser();
  if (!user || *user != 0) {
    return false;
  }
  const platform::Expected<platform::FileStatus> status = disk.FolderStatus(folder);
  return !status || status->access.owner != *user || (status->access.mode & 022) != 0;
}

}  // namespace

platform::Expected<Site, SiteProblem> Site::Open(platform::Disk& disk, const fs::path& directory,
                                                 std::chrono::milliseconds wait,
                                                 ForeignSite foreign) {
  const RunPaths paths = PathsFor(directory);
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      disk.OpenFolder(paths.sourceDir, platform::FinalLink::Refuse);
  if (!folder) {
    return SiteProblem{SiteProblem::Kind::CannotOpenFolder, paths.sourceDir, folder.error(), {}};
  }
  if (foreign == ForeignSite::Refuse && IsForeign(disk, **folder)) {
    return SiteProblem{
        SiteProblem::Kind::CannotOpenFolder, paths.sourceDir, platform::NotYoursError(), {}};
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
