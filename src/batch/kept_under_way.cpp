#include <algorithm>
#include <cstdio>

#include "batch/site_state.h"
#include "platform/clock.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::Disk;
using platform::Folder;

// The folders of a kept replace that took new names, each synced once the
// pages, which come in the order of their paths, have left it: only the
// folders on the way to the current page stay open.
class FoldersToSync {
 public:
  explicit FoldersToSync(Disk& disk) : disk_(disk) {}

  void Add(const fs::path& relative, std::shared_ptr<Folder> folder) {
    if (std::none_of(folders_.begin(), folders_.end(),
                     [&relative](const auto& known) { return known.first == relative; })) {
      folders_.emplace_back(relative, std::move(folder));
    }
  }

  // Syncs the folders that relative is not within.
  std::error_code Leave(const fs::path& relative) {
    return SyncWhere([&relative](const fs::path& folder) { return !IsWithin(relative, folder); });
  }

  std::error_code Finish() {
    return SyncWhere([](const fs::path&) { return true; });
  }

 private:
  template <typename Left>
  std::error_code SyncWhere(const Left& left) {
    std::error_code error;
    std::erase_if(folders_, [&](const auto& folder) {
      if (!left(folder.first)) {
        return false;
      }
      if (!error) {
        error = disk_.SyncFolder(*folder.second);
      }
      return true;
    });
    return error;
  }

  Disk& disk_;
  std::vector<std::pair<fs::path, std::shared_ptr<Folder>>> folders_;
};

// The name of a kept replace: its time in UTC, to the microsecond, so that
// the names sort as the replaces came.
std::string KeptName(std::chrono::system_clock::time_point when) {
  const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch() %
                                                                           std::chrono::seconds(1))
                         .count();
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%06lldZ", static_cast<long long>(micro));
  return platform::PartsText(platform::UtcParts(std::chrono::system_clock::to_time_t(when)),
                             "%Y%m%dT%H%M%S") +
         fraction;
}

// The folder of kept pages that mirrors relative, made where missing.
platform::Expected<std::shared_ptr<Folder>> KeptFolder(Disk& disk, FolderCache& kept,
                                                       const fs::path& relative,
                                                       FoldersToSync& made) {
  platform::Expected<std::shared_ptr<Folder>> folder = kept.At(relative);
  if (folder || relative.empty()) {
    if (folder) {
      made.Add(relative, *folder);
    }
    return folder;
  }
  platform::Expected<std::shared_ptr<Folder>> parent =
      KeptFolder(disk, kept, relative.parent_path(), made);
  if (!parent) {
    return parent.error();
  }
  platform::Expected<std::unique_ptr<Folder>> opened =
      OpenOrMakeOwnFolder(disk, **parent, relative.filename());
  if (!opened) {
    return opened.error();
  }
  kept.Forget(relative);
  return KeptFolder(disk, kept, relative, made);
}

}  // namespace

platform::Expected<std::unique_ptr<KeptReplaceUnderWay>, ReplaceProblem> KeptReplaceUnderWay::Begin(
    Disk& disk, const fs::path& stateFolder, const fs::path& sourceDir, FolderCache& sources,
    const std::string& resume, const std::vector<KeptPage>& pages) {
  platform::Expected<KeptStore> store = KeptStore::Open(disk, stateFolder, sourceDir, true);
  if (!store) {
    return ReplaceProblem{ReplaceProblem::Kind::CannotKeep, stateFolder, store.error()};
  }
  std::unique_ptr<KeptReplaceUnderWay> keeping(
      new KeptReplaceUnderWay(disk, std::make_unique<KeptStore>(std::move(*store)), sources));
  ReplaceProblem problem;
  if (!resume.empty()) {
    if (const std::optional<bool> resumed = keeping->KeepInto(resume, pages, problem)) {
      return *resumed ? platform::Expected<std::unique_ptr<KeptReplaceUnderWay>, ReplaceProblem>(
                            std::move(keeping))
                      : problem;
    }
  }
  if (!keeping->KeepNew(pages, problem)) {
    return problem;
  }
  return keeping;
}

// A replace cut short and done again: the pages still to be replaced go
// into the kept replace its first part began; nothing when that is gone.
std::optional<bool> KeptReplaceUnderWay::KeepInto(const std::string& name,
                                                  const std::vector<KeptPage>& pages,
                                                  ReplaceProblem& problem) {
  platform::Expected<std::shared_ptr<Folder>> folder = store_->FolderOf(name);
  if (!folder) {
    return std::nullopt;
  }
  std::optional<KeptReplace> existing;
  for (KeptReplace& replace : store_->List()) {
    if (replace.name == name) {
      existing = std::move(replace);
    }
  }
  platform::Expected<std::unique_ptr<Folder>> into =
      existing ? disk_.OpenSubfolder(**folder, kKeptPagesName)
               : platform::Expected<std::unique_ptr<Folder>>(
                     std::make_error_code(std::errc::no_such_file_or_directory));
  if (!into) {
    return std::nullopt;
  }
  kept_ = std::move(*existing);
  std::error_code error = KeepPages(std::move(*into), pages, true);
  if (!error) {
    error = store_->WriteManifest(**folder, kept_);
  }
  if (error) {
    problem = {ReplaceProblem::Kind::CannotKeep, (*folder)->Path(), error};
    return false;
  }
  return true;
}

// The kept replace takes its name only once whole, so that a replace cut
// short leaves it whole or absent.
bool KeptReplaceUnderWay::KeepNew(const std::vector<KeptPage>& pages, ReplaceProblem& problem) {
  kept_.when = std::chrono::system_clock::now();
  kept_.name = KeptName(kept_.when);
  const fs::path partial = text::PathFromText(kept_.name + std::string(kPartialSuffix));
  platform::Expected<std::unique_ptr<Folder>> folder =
      OpenOrMakeOwnFolder(disk_, store_->Root(), partial);
  platform::Expected<std::unique_ptr<Folder>> into =
      folder ? OpenOrMakeOwnFolder(disk_, **folder, kKeptPagesName) : folder.error();
  std::error_code error = into ? std::error_code() : into.error();
  if (!error) {
    error = KeepPages(std::move(*into), pages, false);
  }
  if (!error) {
    error = store_->WriteManifest(**folder, kept_);
  }
  if (!error) {
    folder->reset();
    error = disk_.Move(store_->Root(), partial, store_->Root(), text::PathFromText(kept_.name),
                       platform::Replacing::No);
  }
  if (!error) {
    error = disk_.SyncFolder(store_->Root());
  }
  if (error) {
    problem = {ReplaceProblem::Kind::CannotKeep, store_->Root().PathOf(partial), error};
    store_->Remove(text::PathText(partial));
    return false;
  }
  return true;
}

// Keeps every page that the kept replace does not list yet (a replace cut
// short listed some), by another name for its file where the state folder
// shares the site's volume, else by a copy; and syncs the folders that took
// them.
std::error_code KeptReplaceUnderWay::KeepPages(std::unique_ptr<Folder> into,
                                               const std::vector<KeptPage>& pages, bool resumed) {
  std::set<fs::path> listed;
  for (const KeptPage& page : kept_.pages) {
    listed.insert(page.page);
  }
  FolderCache kept(disk_, std::move(into));
  FoldersToSync made(disk_);
  std::error_code error;
  for (const KeptPage& page : pages) {
    if (listed.count(page.page) != 0) {
      continue;
    }
    const fs::path relative = page.page.parent_path();
    const fs::path name = page.page.filename();
    error = made.Leave(relative);
    platform::Expected<std::shared_ptr<Folder>> source =
        error ? platform::Expected<std::shared_ptr<Folder>>(error) : sources_.At(relative);
    platform::Expected<std::shared_ptr<Folder>> folder =
        source ? KeptFolder(disk_, kept, relative, made) : source.error();
    if (!folder) {
      error = folder.error();
      break;
    }
    // What a replace cut short kept under the name is a page of this run too.
    if (resumed) {
      disk_.RemoveFile(**folder, name);
    }
    error = disk_.Link(**source, name, **folder, name);
    if (error == std::errc::cross_device_link) {
      error = CopyKeepingAll(disk_, **source, name, **folder, name);
    }
    if (error) {
      break;
    }
    kept_.pages.push_back(page);
  }
  const std::error_code syncError = made.Finish();
  return error ? error : syncError;
}

// Before a page is replaced the new kept replace may yet end empty and be
// removed, and an undo would have lost the oldest for nothing.
void KeptReplaceUnderWay::PagePlaced() {
  if (pruneBegun_) {
    return;
  }
  pruneBegun_ = true;
  try {
    pruning_ = std::jthread([store = store_.get()] { store->Prune(); });
  } catch (const std::system_error&) {
    // No thread to be had: Finish prunes.
  }
}

bool KeptReplaceUnderWay::Finish(const std::set<fs::path>& heldBack) {
  const bool pruned = pruning_.joinable();
  if (pruned) {
    pruning_.join();
  }
  const std::size_t keptCount = kept_.pages.size();
  std::erase_if(kept_.pages, [&](const KeptPage& page) { return heldBack.count(page.page) != 0; });
  // A replace that changed no page has nothing to undo: kept, it would
  // stand before the replaces that did, as the one an undo takes back.
  if (kept_.pages.empty()) {
    store_->Remove(kept_.name);
    return false;
  }
  if (kept_.pages.size() != keptCount) {
    if (platform::Expected<std::shared_ptr<Folder>> folder = store_->FolderOf(kept_.name)) {
      store_->WriteManifest(**folder, kept_);
    }
  }
  if (!pruned) {
    store_->Prune();
  }
  return true;
}

}  // namespace lapse::batch
