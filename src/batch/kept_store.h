// The pages a replace put copies in place of, kept outside the site so that
// the replace can be taken back: in the user's state folder, a folder for
// each site and in it one for each of its last replaces. A page is kept by
// another name for its file (no copy) where the state folder shares the
// site's volume, else by a copy of everything it has.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

namespace lapse::batch {

// How many replaces of a site are kept; a replace removes older ones.
inline constexpr std::size_t kKeptReplaces = 3;

enum class KeptState {
  Kept,     // the replace's pages are kept; it can be taken back
  Undoing,  // an undo has begun
  Undone,   // the pages are back; what the undo replaced is kept beside them
};

struct KeptPage {
  std::filesystem::path page;  // below the site's folder
  platform::FileStamp kept;    // the page as it was before the replace
  platform::FileStamp copy;    // the page as the replace left it
  // A hash of the bytes the replace left, where the copy's stamp alone
  // cannot tell a later save (whole-second times, a copy written just
  // before the replace).
  std::optional<std::uint64_t> copyHash;
};

// One kept replace.
struct KeptReplace {
  std::string name;  // its folder's name, which sorts by time
  std::chrono::system_clock::time_point when;
  KeptState state = KeptState::Kept;
  std::vector<KeptPage> pages;

  std::uint64_t Bytes() const;
};

// The text a kept replace's manifest holds, and back: nothing for text that
// is no manifest.
std::string FormatManifest(const KeptReplace& replace, const std::filesystem::path& site);
std::optional<KeptReplace> ParseManifest(std::string_view text);

// The path of the site at sourceDir as the state folder knows it: whole,
// without links, dots or a separator at its end.
std::filesystem::path SiteFolder(const std::filesystem::path& sourceDir);

// The folder name of a site's kept replaces: a hash of its path, and its
// last name to tell it by.
std::string SiteKey(const std::filesystem::path& sourceDir);

// The kept replaces of one site, in the state folder.
class KeptStore {
 public:
  // The store of the site at sourceDir below stateFolder; made, readable by
  // its owner only, when make is set.
  static platform::Expected<KeptStore> Open(platform::Disk& disk,
                                            const std::filesystem::path& stateFolder,
                                            const std::filesystem::path& sourceDir, bool make);

  // The kept replaces that are whole, newest first.
  std::vector<KeptReplace> List();
  // The folder of a kept replace, and its folder of kept pages.
  platform::Expected<std::shared_ptr<platform::Folder>> FolderOf(const std::string& name);
  platform::Folder& Root() { return *root_; }
  std::shared_ptr<platform::Folder> SharedRoot() { return root_; }
  // Writes a replace's manifest into its folder, on the disk before it
  // takes its name.
  std::error_code WriteManifest(platform::Folder& folder, const KeptReplace& replace);
  // Removes a kept replace (or what a replace cut short left of one): out
  // of the list first, then its files.
  void Remove(const std::string& name);
  // Keeps the newest kKeptReplaces and removes the rest, and whatever a
  // replace cut short left.
  void Prune();

 private:
  KeptStore(platform::Disk& disk, std::shared_ptr<platform::Folder> root,
            std::filesystem::path site)
      : disk_(&disk), root_(std::move(root)), site_(std::move(site)) {}

  platform::Disk* disk_;
  std::shared_ptr<platform::Folder> root_;
  std::filesystem::path site_;
};

// The name of a kept replace's folder while it is written, and the names in
// it.
inline const std::filesystem::path kManifestName("manifest");
inline const std::filesystem::path kKeptPagesName("pages");
inline const std::filesystem::path kUndonePagesName("undone");
inline constexpr std::string_view kPartialSuffix = ".partial";

// Copies the file name of from to toName in to with everything it has: its
// bytes, permissions, owner where the process may give it, ACL, attributes
// and times; on the disk before it takes its name.
std::error_code CopyKeepingAll(platform::Disk& disk, platform::Folder& from,
                               const std::filesystem::path& name, platform::Folder& to,
                               const std::filesystem::path& toName);

// The folder name in parent, made readable by its owner only when missing.
platform::Expected<std::unique_ptr<platform::Folder>> OpenOrMakeOwnFolder(
    platform::Disk& disk, platform::Folder& parent, const std::filesystem::path& name);

// The folder name of the state folder (kept, index, journal, logs): made
// with its parents where missing, each readable by its owner only, when
// make is set; else opened.
platform::Expected<std::unique_ptr<platform::Folder>> StateSubfolder(
    platform::Disk& disk, const std::filesystem::path& stateFolder, std::string_view name,
    bool make);

// The folder at path, made with its parents where missing, each readable by
// its owner only.
platform::Expected<std::unique_ptr<platform::Folder>> OpenOrMakePath(
    platform::Disk& disk, const std::filesystem::path& path);

// Removes folder name in parent and all it holds; what cannot go stays.
void RemoveTree(platform::Disk& disk, platform::Folder& parent, const std::filesystem::path& name);

}  // namespace lapse::batch
