// The one walk over a folder tree that a run, a check and a replace share,
// so that all three take and skip the same things: hidden files and folders,
// links (named, never followed), devices and pipes, the run's own New at the
// top, and the files Lapse writes into New for itself.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/disk.h"

namespace lapse::batch {

// Whether a command takes the folder alone, or its subfolders too, as one.
enum class Recursion { ThisFolder, Subfolders };

// What the walk leaves out at the top: the folder New of the run, when the
// tree walked is the site's; nothing, when it is New itself.
enum class TopNew { Skip, Take };

// One folder of the tree, open, with what the walk takes of it.
struct WalkedFolder {
  std::shared_ptr<platform::Folder> folder;
  std::filesystem::path relative;  // below the top; empty for the top itself
  // Its ordinary files, in the folder's own order.
  std::vector<std::filesystem::path> files;
  // Links that stand under an HTML file's name: left as they are, and said.
  std::vector<std::filesystem::path> linkedPages;
  // Files Lapse wrote for itself (in New only).
  std::vector<std::filesystem::path> own;
  // The subfolders the walk goes into next (with Subfolders).
  std::vector<std::filesystem::path> subfolders;
  // Everything else it leaves alone: hidden files and folders, other links,
  // devices and pipes, folders it does not go into.
  std::vector<platform::Entry> skipped;
};

struct WalkVisitor {
  // Called for each folder before the walk goes into its subfolders.
  std::function<void(WalkedFolder&)> folder;
  // A folder below the top that could not be opened or listed; the walk
  // goes on with the next. path is the folder's full path.
  std::function<void(const std::filesystem::path& relative, const std::filesystem::path& path,
                     std::error_code)>
      unreadable;
};

// How deep a walk goes: a folder this many levels below the top is said to
// be unreadable (platform::TooDeepError()) and not gone into.
inline constexpr std::size_t kDeepestFolder = 1000;

// Walks top and, with Subfolders, the folders below it, each folder's files
// before its subfolders, in the folders' own order. The top's listing
// failing is the error returned.
std::error_code WalkTree(platform::Disk& disk, const std::shared_ptr<platform::Folder>& top,
                         Recursion recursion, TopNew topNew, const WalkVisitor& visitor);

// The path of name below relative.
std::filesystem::path Below(const std::filesystem::path& relative,
                            const std::filesystem::path& name);

// Whether relative is folder or lies below it (both below the same top; the
// top itself is the empty path).
bool IsWithin(const std::filesystem::path& relative, const std::filesystem::path& folder);

// Folders below a top folder, opened step by step from the top: never
// through a link, and never by a path longer than one name. Only the folders
// on the way to the last one asked for stay open: a tree taken in the order
// of its paths (or of its walk, or the reverse) asks for a folder it left
// no more, and a site of thousands of folders does not run out of
// descriptors. A folder asked for again is opened again.
// Whether a folder asked for that is not there is made (readable by its
// owner only, as Lapse's own folders in the state folder are).
enum class MissingFolder { Fails, Made };

class FolderCache {
 public:
  FolderCache(platform::Disk& disk, std::shared_ptr<platform::Folder> top);
  platform::Expected<std::shared_ptr<platform::Folder>> At(
      const std::filesystem::path& relative, MissingFolder missing = MissingFolder::Fails);
  // Opens relative again on the next look, as a folder just made there.
  void Forget(const std::filesystem::path& relative) { failed_.erase(relative); }

 private:
  platform::Disk& disk_;
  std::map<std::filesystem::path, std::shared_ptr<platform::Folder>> opened_;
  std::map<std::filesystem::path, std::error_code> failed_;
};

}  // namespace lapse::batch
