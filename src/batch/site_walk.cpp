#include "batch/site_walk.h"

#include <algorithm>
#include <utility>

#include "batch/kept_store.h"
#include "batch/site_names.h"
#include "platform/errors.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::EntryKind;

// Sorts the entries of a listed folder into what the walk takes. The names
// move, and the listing goes once sorted: a folder of many pages is held
// once, not twice.
WalkedFolder Sort(const std::shared_ptr<platform::Folder>& folder, const fs::path& relative,
                  std::vector<platform::Entry> entries, Recursion recursion, TopNew topNew) {
  WalkedFolder walked{folder, relative, {}, {}, {}, {}, {}};
  walked.files.reserve(static_cast<std::size_t>(std::count_if(
      entries.begin(), entries.end(),
      [](const platform::Entry& entry) { return entry.kind == EntryKind::OrdinaryFile; })));
  for (platform::Entry& entry : entries) {
    // Lapse's own files go by their names: on Windows they are not hidden.
    if ((entry.kind == EntryKind::Hidden || entry.kind == EntryKind::OrdinaryFile) &&
        IsLapsesOwnFile(entry.name)) {
      walked.own.push_back(std::move(entry.name));
    } else if (entry.kind == EntryKind::OrdinaryFile) {
      walked.files.push_back(std::move(entry.name));
    } else if (entry.kind == EntryKind::Link && IsHtmlFileName(entry.name)) {
      walked.linkedPages.push_back(std::move(entry.name));
    } else if (entry.kind == EntryKind::Directory && recursion == Recursion::Subfolders &&
               !(relative.empty() && topNew == TopNew::Skip && entry.name == kNewName)) {
      walked.subfolders.push_back(std::move(entry.name));
    } else {
      walked.skipped.push_back(std::move(entry));
    }
  }
  return walked;
}

std::error_code WalkFolder(platform::Disk& disk, const std::shared_ptr<platform::Folder>& folder,
                           const fs::path& relative, std::size_t depth, Recursion recursion,
                           TopNew topNew, const WalkVisitor& visitor) {
  std::vector<platform::Entry> entries;
  if (const std::error_code error = disk.List(*folder, entries)) {
    return error;
  }
  WalkedFolder walked = Sort(folder, relative, std::move(entries), recursion, topNew);
  visitor.folder(walked);
  for (const fs::path& name : walked.subfolders) {
    const fs::path below = Below(relative, name);
    // Whoever may write into a site may nest folders without end: a walk
    // that followed them all would run out of stack.
    if (depth + 1 >= kDeepestFolder) {
      if (visitor.unreadable) {
        visitor.unreadable(below, folder->PathOf(name), platform::TooDeepError());
      }
      continue;
    }
    platform::Expected<std::unique_ptr<platform::Folder>> subfolder =
        disk.OpenSubfolder(*folder, name);
    const std::error_code error =
        subfolder ? WalkFolder(disk, std::shared_ptr<platform::Folder>(std::move(*subfolder)),
                               below, depth + 1, recursion, topNew, visitor)
                  : subfolder.error();
    if (error && visitor.unreadable) {
      visitor.unreadable(below, folder->PathOf(name), error);
    }
  }
  return {};
}

}  // namespace

fs::path Below(const fs::path& relative, const fs::path& name) {
  return relative.empty() ? name : relative / name;
}

bool IsWithin(const fs::path& relative, const fs::path& folder) {
  return std::mismatch(folder.begin(), folder.end(), relative.begin(), relative.end()).first ==
         folder.end();
}

FolderCache::FolderCache(platform::Disk& disk, std::shared_ptr<platform::Folder> top)
    : disk_(disk) {
  opened_[fs::path()] = std::move(top);
}

platform::Expected<std::shared_ptr<platform::Folder>> FolderCache::At(const fs::path& relative,
                                                                      MissingFolder missing) {
  std::erase_if(opened_,
                [&relative](const auto& folder) { return !IsWithin(relative, folder.first); });
  if (const auto found = opened_.find(relative); found != opened_.end()) {
    return found->second;
  }
  if (const auto failed = failed_.find(relative);
      failed != failed_.end() && missing == MissingFolder::Fails) {
    return failed->second;
  }
  platform::Expected<std::shared_ptr<platform::Folder>> parent =
      At(relative.parent_path(), missing);
  platform::Expected<std::unique_ptr<platform::Folder>> folder =
      !parent                          ? parent.error()
      : missing == MissingFolder::Made ? OpenOrMakeOwnFolder(disk_, **parent, relative.filename())
                                       : disk_.OpenSubfolder(**parent, relative.filename());
  if (!folder) {
    failed_[relative] = folder.error();
    return folder.error();
  }
  failed_.erase(relative);
  std::shared_ptr<platform::Folder> shared(std::move(*folder));
  opened_[relative] = shared;
  return shared;
}

std::error_code WalkTree(platform::Disk& disk, const std::shared_ptr<platform::Folder>& top,
                         Recursion recursion, TopNew topNew, const WalkVisitor& visitor) {
  return WalkFolder(disk, top, {}, 0, recursion, topNew, visitor);
}

}  // namespace lapse::batch
