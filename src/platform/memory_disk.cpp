#include "platform/memory_disk.h"

#include <algorithm>

#include "platform/errors.h"
#include "text/names.h"

namespace lapse::platform {

namespace {

namespace fs = std::filesystem;

std::error_code Errc(std::errc error) {
  return std::make_error_code(error);
}

// The parts of a path, whichever separators it holds.
std::vector<std::string> Parts(const fs::path& path) {
  std::vector<std::string> parts;
  for (const fs::path& part : path.relative_path()) {
    const std::string text = text::PathText(part);
    if (!text.empty() && text != ".") {
      parts.push_back(text);
    }
  }
  return parts;
}

std::string NameText(const fs::path& name) {
  return text::PathText(name);
}

}  // namespace

class MemoryDisk::MemoryFolder final : public Folder {
 public:
  MemoryFolder(fs::path path, std::uint64_t id) : Folder(std::move(path)), id(id) {}
  std::uint64_t id;
};

class MemoryDisk::MemorySource final : public SourceFile {
 public:
  MemorySource(std::string data, FileStatus status, std::uint64_t id)
      : data_(std::move(data)), status_(status), id_(id) {}
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = std::min(buffer.size(), data_.size() - at_);
    std::copy_n(data_.data() + at_, count, buffer.data());
    at_ += count;
    return count;
  }
  std::error_code Error() const override { return {}; }
  const FileStatus& Status() const override { return status_; }
  std::uint64_t Id() const { return id_; }

 private:
  std::string data_;
  std::size_t at_ = 0;
  FileStatus status_;
  std::uint64_t id_;
};

// Without a name until it is whole, as an unnamed file on a real disk.
class MemoryDisk::MemoryNewFile final : public NewFile {
 public:
  MemoryNewFile(MemoryDisk& disk, fs::path folderPath, std::uint64_t folder, std::string name)
      : disk_(disk), folderPath_(std::move(folderPath)), folder_(folder), name_(std::move(name)) {
    id_ = disk_.MakeOwned(Kind::File, 0600);
  }
  ~MemoryNewFile() override {
    if (!committed_) {
      const std::lock_guard lock(disk_.mutex_);
      disk_.nodes_.erase(id_);
    }
  }
  bool Write(std::string_view bytes) override {
    Count(bytes.size());
    const std::lock_guard lock(disk_.mutex_);
    if (error_) {
      return false;
    }
    if (!disk_.Append(id_, name_, bytes)) {
      error_ = Errc(std::errc::file_too_large);
      return false;
    }
    return true;
  }
  std::error_code Error() const override { return error_; }
  Expected<AccessKept> TakeAccess(SourceFile& page) override {
    const std::lock_guard lock(disk_.mutex_);
    const FileAccess& access = page.Status().access;
    Node& node = disk_.nodes_[id_];
    node.access.mode = access.mode & 07777;
    if (disk_.privileged) {
      node.access.owner = access.owner;
      node.access.group = access.group;
    }
    const auto& attributes = disk_.nodes_[static_cast<MemorySource&>(page).Id()].attributes;
    if (!attributes.empty() && !disk_.keepsAttributes) {
      return Errc(std::errc::operation_not_supported);
    }
    node.attributes = attributes;
    return node.access.owner == access.owner && node.access.group == access.group
               ? AccessKept::All
               : AccessKept::AllButOwner;
  }
  std::error_code TakeTimes(SourceFile& original) override {
    const std::lock_guard lock(disk_.mutex_);
    disk_.nodes_[id_].keepModified = original.Status().stamp.modified;
    return {};
  }
  std::error_code Sync() override {
    const std::lock_guard lock(disk_.mutex_);
    if (!disk_.Powered("Sync", name_)) {
      return Errc(std::errc::io_error);
    }
    disk_.nodes_[id_].durable = disk_.nodes_[id_].data;
    return error_;
  }
  Expected<FileStamp> Stamp() override {
    const std::lock_guard lock(disk_.mutex_);
    return disk_.StatusOf(name_, id_).stamp;
  }
  std::error_code Commit() override {
    const std::lock_guard lock(disk_.mutex_);
    committed_ = true;
    if (!disk_.Powered("Commit", name_)) {
      disk_.nodes_.erase(id_);
      return Errc(std::errc::io_error);
    }
    if (error_) {
      disk_.nodes_.erase(id_);
      return error_;
    }
    auto& entries = disk_.nodes_[folder_].entries;
    if (const auto there = entries.find(name_);
        there != entries.end() && disk_.nodes_[there->second].kind == Kind::Folder) {
      disk_.nodes_.erase(id_);
      return Errc(std::errc::is_a_directory);
    }
    entries[name_] = id_;
    Node& node = disk_.nodes_[id_];
    if (node.keepModified) {
      node.modified = *node.keepModified;
    }
    return {};
  }

 private:
  MemoryDisk& disk_;
  fs::path folderPath_;
  std::uint64_t folder_;
  std::string name_;
  std::uint64_t id_ = 0;
  std::error_code error_;
  bool committed_ = false;
};

class MemoryDisk::MemoryAppended final : public AppendedFile {
 public:
  MemoryAppended(MemoryDisk& disk, std::uint64_t id, std::string name)
      : disk_(disk), id_(id), name_(std::move(name)), status_(disk.StatusOf(name_, id)) {}
  const FileStatus& Status() const override { return status_; }
  bool Write(std::string_view bytes) override {
    const std::lock_guard lock(disk_.mutex_);
    if (error_ || !disk_.Powered("Write", name_)) {
      error_ = error_ ? error_ : Errc(std::errc::io_error);
      return false;
    }
    if (!disk_.Append(id_, name_, bytes)) {
      error_ = Errc(std::errc::file_too_large);
      return false;
    }
    return true;
  }
  std::error_code Error() const override { return error_; }
  std::uint64_t Size() const override {
    const std::lock_guard lock(disk_.mutex_);
    return disk_.nodes_[id_].data.size();
  }
  std::error_code CutBack(std::uint64_t size) override {
    const std::lock_guard lock(disk_.mutex_);
    if (!disk_.Powered("CutBack", name_)) {
      return Errc(std::errc::io_error);
    }
    disk_.nodes_[id_].data.resize(size);
    return {};
  }

 private:
  MemoryDisk& disk_;
  std::uint64_t id_;
  std::string name_;
  FileStatus status_;
  std::error_code error_;
};

class MemoryDisk::MemoryScratch final : public ScratchFile {
 public:
  bool Write(std::string_view bytes) override {
    data_ += bytes;
    return true;
  }
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = std::min(buffer.size(), data_.size() - at_);
    std::copy_n(data_.data() + at_, count, buffer.data());
    at_ += count;
    return count;
  }
  std::error_code Rewind() override {
    at_ = 0;
    return {};
  }
  std::error_code Error() const override { return {}; }

 private:
  std::string data_;
  std::size_t at_ = 0;
};

class MemoryDisk::MemoryLock final : public FolderLock {
 public:
  MemoryLock(MemoryDisk& disk, std::uint64_t id) : disk_(disk), id_(id) {}
  ~MemoryLock() override {
    const std::lock_guard lock(disk_.mutex_);
    disk_.lockedHere_.erase(id_);
  }
  MemoryLock(const MemoryLock&) = delete;
  MemoryLock& operator=(const MemoryLock&) = delete;

 private:
  MemoryDisk& disk_;
  std::uint64_t id_;
};

MemoryDisk::MemoryDisk() {
  Make(Kind::Folder);  // the root, 1
  nodes_[1].access = {0755, kUser, kGroup};
}

std::uint64_t MemoryDisk::Make(Kind kind) {
  const std::lock_guard lock(mutex_);
  const std::uint64_t id = next_++;
  nodes_[id].kind = kind;
  Touch(nodes_[id]);
  return id;
}

std::uint64_t MemoryDisk::MakeOwned(Kind kind, std::uint32_t mode) {
  const std::lock_guard lock(mutex_);
  const std::uint64_t id = Make(kind);
  nodes_[id].access = {mode & 07777, processUser, kGroup};
  return id;
}

void MemoryDisk::Touch(Node& node) {
  node.modified = clock_++;
}

bool MemoryDisk::Append(std::uint64_t id, const std::string& name, std::string_view bytes) {
  Node& node = nodes_[id];
  const auto limit = sizeLimit.find(name);
  bool whole = true;
  if (limit != sizeLimit.end() && node.data.size() + bytes.size() > limit->second) {
    bytes =
        bytes.substr(0, limit->second > node.data.size() ? limit->second - node.data.size() : 0);
    whole = false;
  }
  node.data += bytes;
  Touch(node);
  return whole;
}

std::optional<std::uint64_t> MemoryDisk::Resolve(const fs::path& path, bool followLast) const {
  std::uint64_t id = 1;
  const std::vector<std::string> parts = Parts(path);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Node& folder = nodes_.at(id);
    const auto entry = folder.entries.find(parts[i]);
    if (folder.kind != Kind::Folder || entry == folder.entries.end()) {
      return std::nullopt;
    }
    id = entry->second;
    if (nodes_.at(id).kind == Kind::Link && (followLast || i + 1 < parts.size())) {
      const std::optional<std::uint64_t> target = Resolve(nodes_.at(id).target, true);
      if (!target) {
        return std::nullopt;
      }
      id = *target;
    }
  }
  return id;
}

std::uint64_t MemoryDisk::FolderAt(const fs::path& path, const FileAccess& access) {
  std::uint64_t id = 1;
  for (const std::string& part : Parts(path)) {
    auto& entries = nodes_[id].entries;
    const auto entry = entries.find(part);
    if (entry != entries.end()) {
      id = entry->second;
      continue;
    }
    const std::uint64_t made = Make(Kind::Folder);
    nodes_[made].access = access;
    nodes_[id].entries[part] = made;
    id = made;
  }
  return id;
}

std::uint64_t MemoryDisk::LinksTo(std::uint64_t id) const {
  std::uint64_t links = 0;
  for (const auto& [ignored, node] : nodes_) {
    links += static_cast<std::uint64_t>(
        std::count_if(node.entries.begin(), node.entries.end(),
                      [id](const auto& entry) { return entry.second == id; }));
  }
  return std::max<std::uint64_t>(links, 1);
}

void MemoryDisk::AddFolder(const fs::path& path, FileAccess access) {
  const std::lock_guard lock(mutex_);
  nodes_[FolderAt(path, access)].access = access;
}

void MemoryDisk::AddFile(const fs::path& path, const std::string& content, FileAccess access) {
  const std::lock_guard lock(mutex_);
  const std::uint64_t folder = FolderAt(path.parent_path(), {0755, kUser, kGroup});
  const std::uint64_t id = Make(Kind::File);
  nodes_[id].data = nodes_[id].durable = content;
  nodes_[id].access = access;
  nodes_[folder].entries[NameText(path.filename())] = id;
}

void MemoryDisk::AddLink(const fs::path& path, const fs::path& target) {
  const std::lock_guard lock(mutex_);
  const std::uint64_t folder = FolderAt(path.parent_path(), {0755, kUser, kGroup});
  const std::uint64_t id = Make(Kind::Link);
  nodes_[id].target = target;
  nodes_[folder].entries[NameText(path.filename())] = id;
}

void MemoryDisk::SaveInPlace(const fs::path& path, const std::string& content) {
  const std::lock_guard lock(mutex_);
  if (const std::optional<std::uint64_t> id = Resolve(path, false);
      id && nodes_[*id].kind == Kind::File) {
    nodes_[*id].data = nodes_[*id].durable = content;
    Touch(nodes_[*id]);
  }
}

void MemoryDisk::AddHardLink(const fs::path& path, const fs::path& existing) {
  const std::lock_guard lock(mutex_);
  const std::optional<std::uint64_t> id = Resolve(existing, false);
  if (id) {
    const std::uint64_t folder = FolderAt(path.parent_path(), {0755, kUser, kGroup});
    nodes_[folder].entries[NameText(path.filename())] = *id;
  }
}

void MemoryDisk::SetAttribute(const fs::path& path, const std::string& name,
                              const std::string& value) {
  const std::lock_guard lock(mutex_);
  if (const std::optional<std::uint64_t> id = Resolve(path, false)) {
    nodes_[*id].attributes[name] = value;
  }
}

std::optional<std::string> MemoryDisk::Content(const fs::path& path) const {
  const std::lock_guard lock(mutex_);
  const std::optional<std::uint64_t> id = Resolve(path, false);
  if (!id || nodes_.at(*id).kind != Kind::File) {
    return std::nullopt;
  }
  return nodes_.at(*id).data;
}

std::optional<FileAccess> MemoryDisk::AccessOf(const fs::path& path) const {
  const std::lock_guard lock(mutex_);
  const std::optional<std::uint64_t> id = Resolve(path, false);
  if (!id) {
    return std::nullopt;
  }
  return nodes_.at(*id).access;
}

std::map<std::string, std::string> MemoryDisk::AttributesOf(const fs::path& path) const {
  const std::lock_guard lock(mutex_);
  const std::optional<std::uint64_t> id = Resolve(path, false);
  return id ? nodes_.at(*id).attributes : std::map<std::string, std::string>();
}

std::vector<std::string> MemoryDisk::Names(const fs::path& path) const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  const std::optional<std::uint64_t> id = Resolve(path, true);
  if (id) {
    for (const auto& [name, entry] : nodes_.at(*id).entries) {
      names.push_back(name);
    }
  }
  return names;
}

std::vector<std::string> MemoryDisk::Tree(const fs::path& path) const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  const std::function<void(std::uint64_t, const std::string&)> walk =
      [&](std::uint64_t id, const std::string& prefix) {
        for (const auto& [name, entry] : nodes_.at(id).entries) {
          paths.push_back(prefix + name);
          if (nodes_.at(entry).kind == Kind::Folder) {
            walk(entry, prefix + name + "/");
          }
        }
      };
  if (const std::optional<std::uint64_t> id = Resolve(path, true)) {
    walk(*id, "");
  }
  return paths;
}

void MemoryDisk::Crash() {
  const std::lock_guard lock(mutex_);
  for (auto& [id, node] : nodes_) {
    node.data = node.durable;
  }
  cutAfter.reset();
}

void MemoryDisk::Settle() {
  const std::lock_guard lock(mutex_);
  for (auto& [id, node] : nodes_) {
    node.durable = node.data;
  }
}

bool MemoryDisk::Powered(const std::string& operation, const fs::path& name) {
  if (cutAfter && operations >= *cutAfter) {
    return false;
  }
  ++operations;
  if (before) {
    before(operation, name);
    // The test may have cut the power at this very operation.
    return !cutAfter || operations <= *cutAfter;
  }
  return true;
}

MemoryDisk::Node& MemoryDisk::NodeOf(Folder& folder) {
  return nodes_[static_cast<MemoryFolder&>(folder).id];
}

std::optional<std::uint64_t> MemoryDisk::Lookup(Folder& folder, const fs::path& name) {
  if (!IsOneName(name)) {
    return std::nullopt;
  }
  const auto& entries = NodeOf(folder).entries;
  const auto entry = entries.find(NameText(name));
  if (entry == entries.end()) {
    return std::nullopt;
  }
  return entry->second;
}

Expected<std::uint64_t> MemoryDisk::Existing(Folder& folder, const fs::path& name) {
  const std::optional<std::uint64_t> id = Lookup(folder, name);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  return *id;
}

Expected<std::unique_ptr<Folder>> MemoryDisk::OpenedFolder(std::optional<std::uint64_t> id,
                                                           const fs::path& path) const {
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  if (nodes_.at(*id).kind == Kind::Link) {
    return IsALinkError();
  }
  if (nodes_.at(*id).kind != Kind::Folder) {
    return Errc(std::errc::not_a_directory);
  }
  return std::unique_ptr<Folder>(std::make_unique<MemoryFolder>(path, *id));
}

bool MemoryDisk::CrossesVolumes(const Folder& from, const Folder& to) const {
  const auto onOther = [this](const Folder& folder) {
    return otherVolume && text::PathText(folder.Path()).starts_with(text::PathText(*otherVolume));
  };
  return onOther(from) != onOther(to);
}

FileStatus MemoryDisk::StatusOf(const std::string& name, std::uint64_t id) const {
  const Node& node = nodes_.at(id);
  FileStatus status;
  switch (node.kind) {
    case Kind::Folder:
      status.kind = name.starts_with('.') ? EntryKind::HiddenDirectory : EntryKind::Directory;
      break;
    case Kind::Link:
      status.kind = EntryKind::Link;
      break;
    case Kind::File:
      status.kind = name.starts_with('.') ? EntryKind::Hidden : EntryKind::OrdinaryFile;
      break;
  }
  status.stamp = {node.data.size(), coarseTimes ? 0 : node.modified, 1, id};
  status.access = node.access;
  status.links = node.kind == Kind::File ? LinksTo(id) : 1;
  status.fineStamp = !coarseTimes;
  status.statusChanged = node.modified;
  return status;
}

Expected<std::unique_ptr<Folder>> MemoryDisk::OpenFolder(const fs::path& path, FinalLink final) {
  const std::lock_guard lock(mutex_);
  if (!Powered("OpenFolder", path)) {
    return Errc(std::errc::io_error);
  }
  return OpenedFolder(Resolve(path, final == FinalLink::Follow), path);
}

Expected<std::unique_ptr<Folder>> MemoryDisk::OpenSubfolder(Folder& parent, const fs::path& name) {
  const std::lock_guard lock(mutex_);
  if (!Powered("OpenSubfolder", name)) {
    return Errc(std::errc::io_error);
  }
  return OpenedFolder(Lookup(parent, name),
                      parent.PathOf(name).native() + fs::path::preferred_separator);
}

std::error_code MemoryDisk::MakeFolder(Folder& parent, const fs::path& name, const FileAccess& like,
                                       FolderOwner owner) {
  const std::lock_guard lock(mutex_);
  if (!Powered("MakeFolder", name)) {
    return Errc(std::errc::io_error);
  }
  if (!IsOneName(name)) {
    return Errc(std::errc::invalid_argument);
  }
  if (Lookup(parent, name)) {
    return Errc(std::errc::file_exists);
  }
  const std::uint64_t id = MakeOwned(Kind::Folder, like.mode);
  if (owner == FolderOwner::AsLike && privileged) {
    nodes_[id].access.owner = like.owner;
    nodes_[id].access.group = like.group;
  }
  NodeOf(parent).entries[NameText(name)] = id;
  return {};
}

std::error_code MemoryDisk::RemoveEmptyFolder(Folder& parent, const fs::path& name) {
  const std::lock_guard lock(mutex_);
  if (!Powered("RemoveEmptyFolder", name)) {
    return Errc(std::errc::io_error);
  }
  const Expected<std::uint64_t> id = Existing(parent, name);
  if (!id) {
    return id.error();
  }
  if (nodes_[*id].kind != Kind::Folder) {
    return Errc(std::errc::not_a_directory);
  }
  if (!nodes_[*id].entries.empty()) {
    return Errc(std::errc::directory_not_empty);
  }
  NodeOf(parent).entries.erase(NameText(name));
  return {};
}

std::error_code MemoryDisk::List(Folder& folder, std::vector<Entry>& entries) {
  const std::lock_guard lock(mutex_);
  if (!Powered("List", folder.Path())) {
    return Errc(std::errc::io_error);
  }
  for (const auto& [name, id] : NodeOf(folder).entries) {
    entries.push_back({text::PathFromText(name), StatusOf(name, id).kind});
  }
  return {};
}

Expected<FileStatus> MemoryDisk::Status(Folder& folder, const fs::path& name) {
  const std::lock_guard lock(mutex_);
  if (!Powered("Status", name)) {
    return Errc(std::errc::io_error);
  }
  const Expected<std::uint64_t> id = Existing(folder, name);
  if (!id) {
    return id.error();
  }
  return StatusOf(NameText(name), *id);
}

Expected<FileStatus> MemoryDisk::FolderStatus(Folder& folder) {
  const std::lock_guard lock(mutex_);
  if (!Powered("FolderStatus", folder.Path())) {
    return Errc(std::errc::io_error);
  }
  return StatusOf("", static_cast<MemoryFolder&>(folder).id);
}

Expected<std::unique_ptr<SourceFile>> MemoryDisk::OpenSource(Folder& folder, const fs::path& name) {
  const std::lock_guard lock(mutex_);
  if (!Powered("OpenSource", name)) {
    return Errc(std::errc::io_error);
  }
  const Expected<std::uint64_t> id = Existing(folder, name);
  if (!id) {
    return id.error();
  }
  switch (nodes_[*id].kind) {
    case Kind::Link:
      return IsALinkError();
    case Kind::Folder:
      return Errc(std::errc::is_a_directory);
    case Kind::File:
      break;
  }
  return std::unique_ptr<SourceFile>(
      std::make_unique<MemorySource>(nodes_[*id].data, StatusOf(NameText(name), *id), *id));
}

Expected<std::unique_ptr<NewFile>> MemoryDisk::Create(Folder& folder, const fs::path& name,
                                                      std::uint32_t) {
  const std::lock_guard lock(mutex_);
  if (!Powered("Create", name)) {
    return Errc(std::errc::io_error);
  }
  if (!IsOneName(name)) {
    return Errc(std::errc::invalid_argument);
  }
  return std::unique_ptr<NewFile>(std::make_unique<MemoryNewFile>(
      *this, folder.Path(), static_cast<MemoryFolder&>(folder).id, NameText(name)));
}

Expected<std::unique_ptr<AppendedFile>> MemoryDisk::OpenAppending(Folder& folder,
                                                                  const fs::path& name,
                                                                  std::uint32_t mode) {
  const std::lock_guard lock(mutex_);
  if (!Powered("OpenAppending", name)) {
    return Errc(std::errc::io_error);
  }
  std::optional<std::uint64_t> id = Lookup(folder, name);
  if (id && nodes_[*id].kind == Kind::Link) {
    return IsALinkError();
  }
  if (id && nodes_[*id].kind == Kind::Folder) {
    return Errc(std::errc::is_a_directory);
  }
  if (!id) {
    id = MakeOwned(Kind::File, mode);
    NodeOf(folder).entries[NameText(name)] = *id;
  }
  return std::unique_ptr<AppendedFile>(
      std::make_unique<MemoryAppended>(*this, *id, NameText(name)));
}

Expected<std::unique_ptr<ScratchFile>> MemoryDisk::CreateScratch(Folder& folder) {
  const std::lock_guard lock(mutex_);
  if (!Powered("CreateScratch", folder.Path())) {
    return Errc(std::errc::io_error);
  }
  return std::unique_ptr<ScratchFile>(std::make_unique<MemoryScratch>());
}

std::error_code MemoryDisk::Move(Folder& from, const fs::path& fromName, Folder& to,
                                 const fs::path& toName, Replacing replacing) {
  const std::lock_guard lock(mutex_);
  if (!Powered("Move", fromName)) {
    return Errc(std::errc::io_error);
  }
  const Expected<std::uint64_t> moved = Existing(from, fromName);
  if (!moved) {
    return moved.error();
  }
  if (!IsOneName(toName)) {
    return Errc(std::errc::invalid_argument);
  }
  if (const std::optional<std::uint64_t> there = Lookup(to, toName)) {
    if (replacing == Replacing::No) {
      return Errc(std::errc::file_exists);
    }
    if (nodes_[*there].kind == Kind::Folder) {
      return Errc(std::errc::is_a_directory);
    }
  }
  if (CrossesVolumes(from, to)) {
    return Errc(std::errc::cross_device_link);
  }
  const Node& node = nodes_[*moved];
  if (replacing == Replacing::Yes && node.kind == Kind::File && node.data != node.durable) {
    unsyncedReplacements.push_back(NameText(toName));
  }
  NodeOf(from).entries.erase(NameText(fromName));
  NodeOf(to).entries[NameText(toName)] = *moved;
  return {};
}

std::error_code MemoryDisk::RemoveFile(Folder& folder, const fs::path& name) {
  const std::lock_guard lock(mutex_);
  if (!Powered("RemoveFile", name)) {
    return Errc(std::errc::io_error);
  }
  const Expected<std::uint64_t> id = Existing(folder, name);
  if (!id) {
    return id.error();
  }
  if (nodes_[*id].kind == Kind::Folder) {
    return Errc(std::errc::is_a_directory);
  }
  NodeOf(folder).entries.erase(NameText(name));
  return {};
}

std::error_code MemoryDisk::Link(Folder& from, const fs::path& fromName, Folder& to,
                                 const fs::path& toName) {
  const std::lock_guard lock(mutex_);
  if (!Powered("Link", fromName)) {
    return Errc(std::errc::io_error);
  }
  const Expected<std::uint64_t> id = Existing(from, fromName);
  if (!id) {
    return id.error();
  }
  if (!IsOneName(toName)) {
    return Errc(std::errc::invalid_argument);
  }
  if (nodes_[*id].kind != Kind::File) {
    return nodes_[*id].kind == Kind::Link ? IsALinkError()
                                          : Errc(std::errc::operation_not_permitted);
  }
  if (Lookup(to, toName)) {
    return Errc(std::errc::file_exists);
  }
  if (CrossesVolumes(from, to)) {
    return Errc(std::errc::cross_device_link);
  }
  NodeOf(to).entries[NameText(toName)] = *id;
  return {};
}

// What was begun may or may not be on the disk at a power cut: only a
// SyncFiles() makes it so.
void MemoryDisk::BeginSync(Folder&, std::span<const fs::path>) {}

std::error_code MemoryDisk::SyncFiles(Folder& folder, std::span<const fs::path> names) {
  const std::lock_guard lock(mutex_);
  if (!Powered("SyncFiles", folder.Path())) {
    return Errc(std::errc::io_error);
  }
  for (const fs::path& name : names) {
    if (const std::optional<std::uint64_t> id = Lookup(folder, name)) {
      nodes_[*id].durable = nodes_[*id].data;
    }
  }
  return {};
}

std::error_code MemoryDisk::SyncFolder(Folder& folder) {
  const std::lock_guard lock(mutex_);
  return Powered("SyncFolder", folder.Path()) ? std::error_code() : Errc(std::errc::io_error);
}

std::optional<std::uint32_t> MemoryDisk::ProcessUser() {
  return processUser;
}

Expected<std::unique_ptr<FolderLock>, LockRefusal> MemoryDisk::Lock(Folder& folder,
                                                                    std::chrono::milliseconds) {
  const std::lock_guard lock(mutex_);
  if (!Powered("Lock", folder.Path())) {
    return LockRefusal{Errc(std::errc::io_error), {}};
  }
  const std::uint64_t id = static_cast<MemoryFolder&>(folder).id;
  if (lockedByOthers.count(text::PathText(folder.Path())) != 0 || lockedHere_.count(id) != 0) {
    return LockRefusal{FolderBusyError(), otherHolder};
  }
  lockedHere_.insert(id);
  return std::unique_ptr<FolderLock>(std::make_unique<MemoryLock>(*this, id));
}

}  // namespace lapse::platform
