#include "batch/undo.h"

#include <map>
#include <set>

#include "batch/page_look.h"
#include "batch/site_walk.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;
using platform::Disk;
using platform::Folder;

bool SameContent(const platform::FileStamp& a, const platform::FileStamp& b) {
  return a.size == b.size && a.modified == b.modified;
}

class Undoing {
 public:
  Undoing(Disk& disk, Site& site, KeptStore& store, std::shared_ptr<Folder> keptFolder,
          std::shared_ptr<Folder> keptPages, std::shared_ptr<Folder> undonePages,
          Progress* progress, UndoResult& result)
      : disk_(disk),
        store_(store),
        keptFolder_(std::move(keptFolder)),
        sources_(disk, site.SharedFolder()),
        kept_(disk, std::move(keptPages)),
        undone_(disk, std::move(undonePages)),
        progress_(progress),
        result_(result) {}

  void Run() {
    KeptReplace& replace = result_.replace;
    if (replace.state == KeptState::Kept) {
      replace.state = KeptState::Undoing;
      if (const std::error_code error = store_.WriteManifest(*keptFolder_, replace)) {
        result_.problems.push_back({keptFolder_->Path(), error});
        return;
      }
    }
    std::uint64_t done = 0;
    for (const KeptPage& page : replace.pages) {
      if (progress_ != nullptr) {
        progress_->Advance(done++, replace.pages.size(), page.page);
      }
      PutBack(page);
    }
    for (const fs::path& folder : touched_) {
      if (platform::Expected<std::shared_ptr<Folder>> source = sources_.At(folder)) {
        disk_.SyncFolder(**source);
      }
    }
    // A page held back is as its user saved it: the kept replace lists it
    // no more, so that what it lists is what was put back (or, while an undo
    // cut short waits to be done again, is still to be).
    const std::size_t listed = replace.pages.size();
    std::erase_if(replace.pages,
                  [this](const KeptPage& page) { return heldBack_.count(page.page) != 0; });
    // An undo that held every page back leaves nothing to undo or to redo:
    // listed, the kept replace would say "undone" of what no undo touched.
    if (replace.pages.empty() && result_.problems.empty()) {
      store_.Remove(replace.name);
      return;
    }
    if (result_.problems.empty()) {
      replace.state = KeptState::Undone;
    }
    if (replace.state == KeptState::Undone || replace.pages.size() != listed) {
      if (const std::error_code error = store_.WriteManifest(*keptFolder_, replace)) {
        result_.problems.push_back({keptFolder_->Path(), error});
      }
    }
  }

 private:
  void PutBack(const KeptPage& page) {
    const fs::path name = page.page.filename();
    platform::Expected<std::shared_ptr<Folder>> source = sources_.At(page.page.parent_path());
    const platform::Expected<platform::FileStatus> now =
        source ? disk_.Status(**source, name)
               : platform::Expected<platform::FileStatus>(source.error());
    if (now && now->kind == platform::EntryKind::OrdinaryFile &&
        SameContent(now->stamp, page.kept)) {
      result_.restored.push_back(page.page);  // back already, by an undo cut short
      return;
    }
    if (!now || now->kind != platform::EntryKind::OrdinaryFile || now->stamp != page.copy) {
      HoldBack(page.page);
      return;
    }
    if (const std::error_code error = KeepWhatIsReplaced(**source, page.page)) {
      result_.problems.push_back({(*source)->PathOf(name), error});
      return;
    }
    // Keeping what it replaces took a sync: the page is looked at once more
    // right before the kept one takes its place, so that a save made
    // meanwhile, in place or by a rename, stays.
    if (LookAtPage(disk_, **source, name, page.copy, page.copyHash) != PageSince::Unchanged) {
      HoldBack(page.page);
      return;
    }
    platform::Expected<std::shared_ptr<Folder>> kept = kept_.At(page.page.parent_path());
    std::error_code error = kept ? std::error_code() : kept.error();
    if (!error) {
      error = disk_.Move(**kept, name, **source, name, platform::Replacing::Yes);
      // The state folder on another volume: its copy is copied back.
      if (error == std::errc::cross_device_link) {
        error = CopyKeepingAll(disk_, **kept, name, **source, name);
      }
    }
    if (error) {
      result_.problems.push_back({(*source)->PathOf(name), error});
      return;
    }
    touched_.insert(page.page.parent_path());
    result_.restored.push_back(page.page);
  }

  // A page held back stays as its user saved it. Nothing of it was undone,
  // so what this undo, or one cut short, kept of it as undone goes.
  void HoldBack(const fs::path& page) {
    result_.changed.push_back(page);
    heldBack_.insert(page);
    platform::Expected<std::shared_ptr<Folder>> into = undone_.At(page.parent_path());
    if (into && !disk_.RemoveFile(**into, page.filename())) {
      disk_.SyncFolder(**into);
    }
  }

  // What the undo replaces goes beside the kept pages, so that an undo
  // loses nothing either.
  std::error_code KeepWhatIsReplaced(Folder& source, const fs::path& page) {
    platform::Expected<std::shared_ptr<Folder>> into =
        undone_.At(page.parent_path(), MissingFolder::Made);
    if (!into) {
      return into.error();
    }
    const fs::path name = page.filename();
    // Kept already, by an undo cut short.
    if (disk_.Status(**into, name)) {
      return {};
    }
    std::error_code error = disk_.Link(source, name, **into, name);
    if (error == std::errc::cross_device_link) {
      error = CopyKeepingAll(disk_, source, name, **into, name);
    }
    if (!error) {
      error = disk_.SyncFolder(**into);
    }
    return error;
  }

  Disk& disk_;
  KeptStore& store_;
  std::shared_ptr<Folder> keptFolder_;
  FolderCache sources_;
  FolderCache kept_;
  FolderCache undone_;
  Progress* progress_;
  UndoResult& result_;
  std::set<fs::path> touched_;
  std::set<fs::path> heldBack_;
};

}  // namespace

std::vector<KeptReplace> KeptReplaces(Disk& disk, const fs::path& keptIn,
                                      const fs::path& directory) {
  platform::Expected<KeptStore> store =
      KeptStore::Open(disk, keptIn, PathsFor(directory).sourceDir, false);
  return store ? store->List() : std::vector<KeptReplace>{};
}

UndoResult Undo(Disk& disk, const fs::path& directory, const UndoOptions& options) {
  UndoResult result;
  result.paths = PathsFor(directory);
  platform::Expected<Site, SiteProblem> site =
      Site::Open(disk, directory, options.lockWait, options.foreignSite);
  if (!site) {
    result.refusal = RefusalOf<UndoRefusal>(site.error());
    result.siteProblem = site.error();
    return result;
  }
  platform::Expected<KeptStore> store =
      KeptStore::Open(disk, options.keptIn, result.paths.sourceDir, false);
  std::vector<KeptReplace> replaces = store ? store->List() : std::vector<KeptReplace>{};
  if (replaces.empty()) {
    result.refusal = UndoRefusal::NothingKept;
    return result;
  }
  result.replace = std::move(replaces.front());
  if (result.replace.state == KeptState::Undone) {
    result.refusal = UndoRefusal::AlreadyUndone;
    return result;
  }
  platform::Expected<std::shared_ptr<Folder>> folder = store->FolderOf(result.replace.name);
  platform::Expected<std::unique_ptr<Folder>> pages =
      folder ? disk.OpenSubfolder(**folder, kKeptPagesName) : folder.error();
  platform::Expected<std::unique_ptr<Folder>> undone =
      folder ? OpenOrMakeOwnFolder(disk, **folder, kUndonePagesName) : folder.error();
  if (!pages || !undone) {
    result.problems.push_back({store->Root().Path(), !pages ? pages.error() : undone.error()});
    return result;
  }
  Undoing(disk, *site, *store, *folder, std::shared_ptr<Folder>(std::move(*pages)),
          std::shared_ptr<Folder>(std::move(*undone)), options.progress, result)
      .Run();
  return result;
}

}  // namespace lapse::batch
