#include "batch/kept_store.h"

#include <algorithm>
#include <charconv>

#include "batch/record_text.h"
#include "platform/content_hash.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeaderStart = "lapse kept 2 ";
// The version before kept no hashes of the copies.
constexpr std::string_view kFirstVersionStart = "lapse kept 1 ";
constexpr char kNameEnd = '\0';
// Only its owner may read what a replace took from a site: it may hold the
// pages of private folders.
constexpr platform::FileAccess kOwnerOnly{0700};

struct StateName {
  KeptState state;
  std::string_view name;
};
constexpr StateName kStates[] = {
    {KeptState::Kept, "kept"}, {KeptState::Undoing, "undoing"}, {KeptState::Undone, "undone"}};

bool TakeStamp(std::string_view& text, platform::FileStamp& stamp) {
  return Take(text, stamp.size) && Take(text, stamp.modified) && Take(text, stamp.device) &&
         Take(text, stamp.inode);
}

void AppendStamp(std::string& text, const platform::FileStamp& stamp) {
  for (const std::uint64_t number :
       {stamp.size, static_cast<std::uint64_t>(stamp.modified), stamp.device, stamp.inode}) {
    text += std::to_string(number);
    text += ' ';
  }
}

void AppendHash(std::string& text, const std::optional<std::uint64_t>& hash) {
  if (hash) {
    char digits[17];
    const auto end = std::to_chars(digits, digits + sizeof digits, *hash, 16).ptr;
    text.append(digits, end);
  } else {
    text += kNoHash;
  }
  text += ' ';
}

bool TakeLine(std::string_view& text, std::string_view key, std::string_view& value) {
  if (!text.starts_with(key)) {
    return false;
  }
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) {
    return false;
  }
  value = text.substr(key.size(), end - key.size());
  text.remove_prefix(end + 1);
  return true;
}

bool IsFolder(platform::EntryKind kind) {
  return kind == platform::EntryKind::Directory || kind == platform::EntryKind::HiddenDirectory;
}

// The folder name in parent, made readable by its owner only when missing.
platform::Expected<std::unique_ptr<platform::Folder>> OpenOrMake(platform::Disk& disk,
                                                                 platform::Folder& parent,
                                                                 const fs::path& name) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder = disk.OpenSubfolder(parent, name);
  if (!folder && folder.error() == std::errc::no_such_file_or_directory) {
    if (const std::error_code error = disk.MakeFolder(parent, name, kOwnerOnly);
        error && error != std::errc::file_exists) {
      return error;
    }
    folder = disk.OpenSubfolder(parent, name);
  }
  return folder;
}

}  // namespace

// The folder at path, made with its parents where missing.
platform::Expected<std::unique_ptr<platform::Folder>> OpenOrMakePath(platform::Disk& disk,
                                                                     const fs::path& path) {
  const fs::path::string_type separator(1, fs::path::preferred_separator);
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      disk.OpenFolder(path.native() + separator);
  if (folder || folder.error() != std::errc::no_such_file_or_directory ||
      path.parent_path() == path) {
    return folder;
  }
  platform::Expected<std::unique_ptr<platform::Folder>> parent =
      OpenOrMakePath(disk, path.parent_path());
  if (!parent) {
    return parent.error();
  }
  return OpenOrMake(disk, **parent, path.filename());
}

std::uint64_t KeptReplace::Bytes() const {
  std::uint64_t bytes = 0;
  for (const KeptPage& page : pages) {
    bytes += page.kept.size;
  }
  return bytes;
}

std::string FormatManifest(const KeptReplace& replace, const fs::path& site) {
  std::string text(kHeaderStart);
  for (const StateName& known : kStates) {
    if (known.state == replace.state) {
      text += known.name;
    }
  }
  text += "\nwhen ";
  text += std::to_string(
      std::chrono::duration_cast<std::chrono::seconds>(replace.when.time_since_epoch()).count());
  text += "\nsite ";
  text += text::PathText(site);
  text += kNameEnd;
  text += '\n';
  for (const KeptPage& page : replace.pages) {
    AppendStamp(text, page.kept);
    AppendStamp(text, page.copy);
    AppendHash(text, page.copyHash);
    text += text::PathText(page.page);
    text += kNameEnd;
  }
  return text;
}

std::optional<KeptReplace> ParseManifest(std::string_view text) {
  KeptReplace replace;
  std::string_view state;
  const bool firstVersion = text.starts_with(kFirstVersionStart);
  if (!TakeLine(text, firstVersion ? kFirstVersionStart : kHeaderStart, state)) {
    return std::nullopt;
  }
  const auto known = std::find_if(std::begin(kStates), std::end(kStates),
                                  [&](const StateName& s) { return s.name == state; });
  if (known == std::end(kStates)) {
    return std::nullopt;
  }
  replace.state = known->state;
  std::string_view when;
  long long seconds = 0;
  if (!TakeLine(text, "when ", when) ||
      std::from_chars(when.data(), when.data() + when.size(), seconds).ec != std::errc()) {
    return std::nullopt;
  }
  replace.when = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  const std::size_t siteEnd = text.find(std::string_view("\0\n", 2));
  if (!text.starts_with("site ") || siteEnd == std::string_view::npos) {
    return std::nullopt;
  }
  text.remove_prefix(siteEnd + 2);
  while (!text.empty()) {
    KeptPage page;
    if (!TakeStamp(text, page.kept) || !TakeStamp(text, page.copy) ||
        (!firstVersion && !TakeHash(text, page.copyHash))) {
      return std::nullopt;
    }
    const std::size_t end = text.find(kNameEnd);
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    page.page = text::PathFromText(text.substr(0, end));
    text.remove_prefix(end + 1);
    replace.pages.push_back(std::move(page));
  }
  return replace;
}

fs::path SiteFolder(const fs::path& sourceDir) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(sourceDir, error);
  if (error) {
    canonical = sourceDir;
  }
  canonical = canonical.lexically_normal();
  while (!canonical.has_filename() && canonical.has_relative_path()) {
    canonical = canonical.parent_path();
  }
  return canonical;
}

std::string SiteKey(const fs::path& sourceDir) {
  const fs::path canonical = SiteFolder(sourceDir);
  const std::string text = text::PathText(canonical);
  platform::ContentHash hash;
  hash.Add(text);
  char digits[17] = {};
  std::to_chars(digits, digits + 16, hash.Value(), 16);
  // Its last name, of letters and digits only, to tell the folder by.
  std::string tail;
  for (const char c : text::PathText(canonical.filename())) {
    if (tail.size() < 32 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.')) {
      tail += c;
    }
  }
  return std::string(digits) + (tail.empty() ? "" : "-" + tail);
}

platform::Expected<std::unique_ptr<platform::Folder>> StateSubfolder(platform::Disk& disk,
                                                                     const fs::path& stateFolder,
                                                                     std::string_view name,
                                                                     bool make) {
  const fs::path path = stateFolder / text::PathFromText(name);
  return make ? OpenOrMakePath(disk, path)
              : disk.OpenFolder(path.native() + fs::path::preferred_separator);
}

platform::Expected<KeptStore> KeptStore::Open(platform::Disk& disk, const fs::path& stateFolder,
                                              const fs::path& sourceDir, bool make) {
  platform::Expected<std::unique_ptr<platform::Folder>> kept =
      StateSubfolder(disk, stateFolder, "kept", make);
  if (!kept) {
    return kept.error();
  }
  const fs::path key(SiteKey(sourceDir));
  platform::Expected<std::unique_ptr<platform::Folder>> site =
      make ? OpenOrMake(disk, **kept, key) : disk.OpenSubfolder(**kept, key);
  if (!site) {
    return site.error();
  }
  return KeptStore(disk, std::shared_ptr<platform::Folder>(std::move(*site)), sourceDir);
}

std::vector<KeptReplace> KeptStore::List() {
  std::vector<platform::Entry> entries;
  std::vector<KeptReplace> replaces;
  if (disk_->List(*root_, entries)) {
    return replaces;
  }
  for (const platform::Entry& entry : entries) {
    const std::string name = text::PathText(entry.name);
    if (!IsFolder(entry.kind) || name.ends_with(kPartialSuffix)) {
      continue;
    }
    platform::Expected<std::unique_ptr<platform::Folder>> folder =
        disk_->OpenSubfolder(*root_, entry.name);
    if (!folder) {
      continue;
    }
    platform::Expected<std::unique_ptr<platform::SourceFile>> manifest =
        disk_->OpenSource(**folder, kManifestName);
    if (!manifest) {
      continue;
    }
    const platform::Expected<std::string> text = ReadAll(**manifest);
    // A manifest that cannot be read is no whole kept replace.
    if (std::optional<KeptReplace> replace = text ? ParseManifest(*text) : std::nullopt) {
      replace->name = name;
      replaces.push_back(std::move(*replace));
    }
  }
  std::sort(replaces.begin(), replaces.end(),
            [](const KeptReplace& a, const KeptReplace& b) { return a.name > b.name; });
  return replaces;
}

platform::Expected<std::shared_ptr<platform::Folder>> KeptStore::FolderOf(const std::string& name) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      disk_->OpenSubfolder(*root_, text::PathFromText(name));
  if (!folder) {
    return folder.error();
  }
  return std::shared_ptr<platform::Folder>(std::move(*folder));
}

std::error_code KeptStore::WriteManifest(platform::Folder& folder, const KeptReplace& replace) {
  return WriteWholeFile(*disk_, folder, kManifestName, FormatManifest(replace, site_),
                        Durability::Synced);
}

void KeptStore::Remove(const std::string& name) {
  // Out of the list at once, by a rename: removing its files takes a while,
  // and a kept replace cut short in that would list what it no longer has.
  std::string removing = name;
  if (!name.ends_with(kPartialSuffix) &&
      !disk_->Move(*root_, text::PathFromText(name), *root_,
                   text::PathFromText(name + std::string(kPartialSuffix)),
                   platform::Replacing::No)) {
    removing += kPartialSuffix;
  }
  RemoveTree(*disk_, *root_, text::PathFromText(removing));
}

void KeptStore::Prune() {
  std::vector<platform::Entry> entries;
  if (disk_->List(*root_, entries)) {
    return;
  }
  std::vector<std::string> whole;
  for (const platform::Entry& entry : entries) {
    const std::string name = text::PathText(entry.name);
    if (!IsFolder(entry.kind)) {
      continue;
    }
    if (name.ends_with(kPartialSuffix)) {
      Remove(name);
    } else {
      whole.push_back(name);
    }
  }
  std::sort(whole.begin(), whole.end(), std::greater<>());
  for (std::size_t old = kKeptReplaces; old < whole.size(); ++old) {
    Remove(whole[old]);
  }
}

std::error_code CopyKeepingAll(platform::Disk& disk, platform::Folder& from, const fs::path& name,
                               platform::Folder& to, const fs::path& toName) {
  platform::Expected<std::unique_ptr<platform::SourceFile>> source = disk.OpenSource(from, name);
  if (!source) {
    return source.error();
  }
  platform::Expected<std::unique_ptr<platform::NewFile>> copy =
      disk.Create(to, toName, (*source)->Status().access.mode);
  if (!copy) {
    return copy.error();
  }
  if (platform::Expected<platform::AccessKept> access = (*copy)->TakeAccess(**source); !access) {
    return access.error();
  }
  std::vector<char> buffer(std::size_t{256} * 1024);
  while (const std::size_t count = (*source)->Read(buffer)) {
    if (!(*copy)->Write(std::string_view(buffer.data(), count))) {
      return (*copy)->Error();
    }
  }
  if ((*source)->Error()) {
    return (*source)->Error();
  }
  if (const std::error_code error = (*copy)->TakeTimes(**source)) {
    return error;
  }
  if (const std::error_code error = (*copy)->Sync()) {
    return error;
  }
  return (*copy)->Commit();
}

platform::Expected<std::unique_ptr<platform::Folder>> OpenOrMakeOwnFolder(platform::Disk& disk,
                                                                          platform::Folder& parent,
                                                                          const fs::path& name) {
  return OpenOrMake(disk, parent, name);
}

void RemoveTree(platform::Disk& disk, platform::Folder& parent, const fs::path& name) {
  platform::Expected<std::unique_ptr<platform::Folder>> folder = disk.OpenSubfolder(parent, name);
  if (!folder) {
    disk.RemoveFile(parent, name);
    return;
  }
  std::vector<platform::Entry> entries;
  disk.List(**folder, entries);
  for (const platform::Entry& entry : entries) {
    if (IsFolder(entry.kind)) {
      RemoveTree(disk, **folder, entry.name);
    } else {
      disk.RemoveFile(**folder, entry.name);
    }
  }
  folder->reset();
  disk.RemoveEmptyFolder(parent, name);
}

}  // namespace lapse::batch
