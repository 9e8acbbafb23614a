#include "support/fake_disk.h"

#include <algorithm>

#include "engine/io.h"

namespace lapse::testing_support {

namespace {

namespace fs = std::filesystem;
using engine::EntryKind;
using engine::Expected;

std::error_code Errc(std::errc error) {
  return std::make_error_code(error);
}

// The parts of a path, whichever separators it holds.
std::vector<std::string> Parts(const fs::path& path) {
  std::vector<std::string> parts;
  for (const fs::path& part : path.relative_path()) {
    const std::string text = engine::PathText(part);
    if (!text.empty() && text != ".") {
      parts.push_back(text);
    }
  }
  return parts;
}

std::string NameText(const fs::path& name) {
  return engine::PathText(name);
}

}  // namespace

class FakeDisk::FakeFolder final : public engine::Folder {
 public:
  FakeFolder(fs::path path, std::uint64_t id) : Folder(std::move(path)), id(id) {}
  std::uint64_t id;
};

class FakeDisk::FakeSource final : public engine::SourceFile {
 public:
  FakeSource(std::string data, engine::FileStatus status)
      : data_(std::move(data)), status_(status) {}
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = std::min(buffer.size(), data_.size() - at_);
    std::copy_n(data_.data() + at_, count, buffer.data());
    at_ += count;
    return count;
  }
  std::error_code Error() const override { return {}; }
  const engine::FileStatus& Status() const override { return status_; }

 private:
  std::string data_;
  std::size_t at_ = 0;
  engine::FileStatus status_;
};

// Written under ".NAME.part" and renamed, as on a real disk.
class FakeDisk::FakeNewFile final : public engine::NewFile {
 public:
  FakeNewFile(FakeDisk& disk, fs::path folderPath, std::uint64_t folder, std::string name)
      : disk_(disk), folderPath_(std::move(folderPath)), folder_(folder), name_(std::move(name)) {
    id_ = disk_.Make(Kind::File);
    disk_.nodes_[id_].access = {0600, kUser, kGroup};
    disk_.nodes_[folder_].entries["." + name_ + ".part"] = id_;
  }
  void StartWith(std::uint32_t mode) { disk_.nodes_[id_].access.mode = mode & 07777; }
  ~FakeNewFile() override {
    if (!committed_) {
      disk_.nodes_[folder_].entries.erase("." + name_ + ".part");
    }
  }
  bool Write(std::string_view bytes) override {
    Count(bytes.size());
    disk_.nodes_[id_].data += bytes;
    disk_.Touch(disk_.nodes_[id_]);
    return true;
  }
  std::error_code Error() const override { return {}; }
  engine::AccessKept TakeAccess(const engine::FileAccess& access) override {
    engine::FileAccess& own = disk_.nodes_[id_].access;
    own.mode = access.mode & 07777;
    if (disk_.privileged) {
      own.owner = access.owner;
      own.group = access.group;
    }
    return own.owner == access.owner && own.group == access.group
               ? engine::AccessKept::All
               : engine::AccessKept::PermissionsOnly;
  }
  std::error_code Commit() override {
    committed_ = true;
    FakeFolder folder(folderPath_, folder_);
    const std::error_code error =
        disk_.Move(folder, "." + name_ + ".part", folder, name_, engine::Replacing::Yes);
    if (error) {
      disk_.nodes_[folder_].entries.erase("." + name_ + ".part");
    }
    return error;
  }

 private:
  FakeDisk& disk_;
  fs::path folderPath_;
  std::uint64_t folder_;
  std::string name_;
  std::uint64_t id_ = 0;
  bool committed_ = false;
};

class FakeDisk::FakeAppended final : public engine::AppendedFile {
 public:
  FakeAppended(FakeDisk& disk, std::uint64_t id) : disk_(disk), id_(id) {}
  bool Write(std::string_view bytes) override {
    disk_.nodes_[id_].data += bytes;
    disk_.Touch(disk_.nodes_[id_]);
    return true;
  }
  std::error_code Error() const override { return {}; }
  std::uint64_t Size() const override { return disk_.nodes_[id_].data.size(); }
  std::error_code CutBack(std::uint64_t size) override {
    disk_.nodes_[id_].data.resize(size);
    return {};
  }

 private:
  FakeDisk& disk_;
  std::uint64_t id_;
};

FakeDisk::FakeDisk() {
  Make(Kind::Folder);  // the root, 1
}

std::uint64_t FakeDisk::Make(Kind kind) {
  const std::uint64_t id = next_++;
  nodes_[id].kind = kind;
  Touch(nodes_[id]);
  return id;
}

void FakeDisk::Touch(Node& node) {
  node.modified = clock_++;
}

std::optional<std::uint64_t> FakeDisk::Resolve(const fs::path& path, bool followLast) const {
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

std::uint64_t FakeDisk::FolderAt(const fs::path& path) {
  std::uint64_t id = 1;
  for (const std::string& part : Parts(path)) {
    auto& entries = nodes_[id].entries;
    const auto entry = entries.find(part);
    if (entry != entries.end()) {
      id = entry->second;
      continue;
    }
    const std::uint64_t made = Make(Kind::Folder);
    nodes_[id].entries[part] = made;
    id = made;
  }
  return id;
}

void FakeDisk::AddFolder(const fs::path& path) {
  FolderAt(path);
}

void FakeDisk::AddFile(const fs::path& path, const std::string& content,
                       engine::FileAccess access) {
  const std::uint64_t folder = FolderAt(path.parent_path());
  const std::uint64_t id = Make(Kind::File);
  nodes_[id].data = nodes_[id].durable = content;
  nodes_[id].access = access;
  nodes_[folder].entries[NameText(path.filename())] = id;
}

void FakeDisk::AddLink(const fs::path& path, const fs::path& target) {
  const std::uint64_t folder = FolderAt(path.parent_path());
  const std::uint64_t id = Make(Kind::Link);
  nodes_[id].target = target;
  nodes_[folder].entries[NameText(path.filename())] = id;
}

std::optional<std::string> FakeDisk::Content(const fs::path& path) const {
  const std::optional<std::uint64_t> id = Resolve(path, false);
  if (!id || nodes_.at(*id).kind != Kind::File) {
    return std::nullopt;
  }
  return nodes_.at(*id).data;
}

std::optional<engine::FileAccess> FakeDisk::AccessOf(const fs::path& path) const {
  const std::optional<std::uint64_t> id = Resolve(path, false);
  if (!id) {
    return std::nullopt;
  }
  return nodes_.at(*id).access;
}

std::vector<std::string> FakeDisk::Names(const fs::path& path) const {
  std::vector<std::string> names;
  const std::optional<std::uint64_t> id = Resolve(path, true);
  if (id) {
    for (const auto& [name, entry] : nodes_.at(*id).entries) {
      names.push_back(name);
    }
  }
  return names;
}

void FakeDisk::Crash() {
  for (auto& [id, node] : nodes_) {
    node.data = node.durable;
  }
  cutAfter.reset();
}

void FakeDisk::Settle() {
  for (auto& [id, node] : nodes_) {
    node.durable = node.data;
  }
}

bool FakeDisk::Powered(const std::string& operation, const fs::path& name) {
  if (cutAfter && operations >= *cutAfter) {
    return false;
  }
  ++operations;
  if (before) {
    before(operation, name);
  }
  return true;
}

FakeDisk::Node& FakeDisk::NodeOf(engine::Folder& folder) {
  return nodes_[static_cast<FakeFolder&>(folder).id];
}

// A name may be a path below the folder, as on a real disk.
std::optional<std::uint64_t> FakeDisk::Lookup(engine::Folder& folder, const fs::path& name) {
  std::uint64_t id = static_cast<FakeFolder&>(folder).id;
  for (const std::string& part : Parts(name)) {
    const auto& entries = nodes_[id].entries;
    const auto entry = entries.find(part);
    if (entry == entries.end()) {
      return std::nullopt;
    }
    id = entry->second;
  }
  return id;
}

engine::FileStatus FakeDisk::StatusOf(const std::string& name, std::uint64_t id) const {
  const Node& node = nodes_.at(id);
  engine::FileStatus status;
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
  status.stamp = {node.data.size(), node.modified, 1, id};
  status.access = node.access;
  return status;
}

Expected<std::unique_ptr<engine::Folder>> FakeDisk::OpenFolder(const fs::path& path) {
  if (!Powered("OpenFolder", path)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> id = Resolve(path, true);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  if (nodes_[*id].kind != Kind::Folder) {
    return Errc(std::errc::not_a_directory);
  }
  return std::unique_ptr<engine::Folder>(std::make_unique<FakeFolder>(path, *id));
}

Expected<std::unique_ptr<engine::Folder>> FakeDisk::OpenSubfolder(engine::Folder& parent,
                                                                  const fs::path& name) {
  if (!Powered("OpenSubfolder", name)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> id = Lookup(parent, name);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  if (nodes_[*id].kind == Kind::Link) {
    return engine::IsALinkError();
  }
  if (nodes_[*id].kind != Kind::Folder) {
    return Errc(std::errc::not_a_directory);
  }
  const fs::path path = parent.PathOf(name).native() + fs::path::preferred_separator;
  return std::unique_ptr<engine::Folder>(std::make_unique<FakeFolder>(path, *id));
}

std::error_code FakeDisk::MakeFolder(engine::Folder& parent, const fs::path& name) {
  if (!Powered("MakeFolder", name)) {
    return Errc(std::errc::io_error);
  }
  if (Lookup(parent, name)) {
    return Errc(std::errc::file_exists);
  }
  const std::uint64_t id = Make(Kind::Folder);
  NodeOf(parent).entries[NameText(name)] = id;
  return {};
}

std::error_code FakeDisk::RemoveEmptyFolder(engine::Folder& parent, const fs::path& name) {
  if (!Powered("RemoveEmptyFolder", name)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> id = Lookup(parent, name);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
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

std::error_code FakeDisk::List(engine::Folder& folder, std::vector<engine::Entry>& entries) {
  if (!Powered("List", folder.Path())) {
    return Errc(std::errc::io_error);
  }
  for (const auto& [name, id] : NodeOf(folder).entries) {
    entries.push_back({engine::PathFromText(name), StatusOf(name, id).kind});
  }
  return {};
}

Expected<engine::FileStatus> FakeDisk::Status(engine::Folder& folder, const fs::path& name) {
  if (!Powered("Status", name)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> id = Lookup(folder, name);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  return StatusOf(NameText(name), *id);
}

Expected<std::unique_ptr<engine::SourceFile>> FakeDisk::OpenSource(engine::Folder& folder,
                                                                   const fs::path& name) {
  if (!Powered("OpenSource", name)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> id = Lookup(folder, name);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  switch (nodes_[*id].kind) {
    case Kind::Link:
      return engine::IsALinkError();
    case Kind::Folder:
      return Errc(std::errc::is_a_directory);
    case Kind::File:
      break;
  }
  return std::unique_ptr<engine::SourceFile>(
      std::make_unique<FakeSource>(nodes_[*id].data, StatusOf(NameText(name), *id)));
}

Expected<std::unique_ptr<engine::NewFile>> FakeDisk::Create(engine::Folder& folder,
                                                                const fs::path& name,
                                                                std::uint32_t mode) {
  if (!Powered("Create", name)) {
    return Errc(std::errc::io_error);
  }
  auto file = std::make_unique<FakeNewFile>(*this, folder.Path(),
                                            static_cast<FakeFolder&>(folder).id, NameText(name));
  file->StartWith(mode);
  return std::unique_ptr<engine::NewFile>(std::move(file));
}

Expected<std::unique_ptr<engine::AppendedFile>> FakeDisk::OpenAppending(engine::Folder& folder,
                                                                        const fs::path& name) {
  if (!Powered("OpenAppending", name)) {
    return Errc(std::errc::io_error);
  }
  std::optional<std::uint64_t> id = Lookup(folder, name);
  if (id && nodes_[*id].kind == Kind::Link) {
    return engine::IsALinkError();
  }
  if (id && nodes_[*id].kind == Kind::Folder) {
    return Errc(std::errc::is_a_directory);
  }
  if (!id) {
    id = Make(Kind::File);
    nodes_[*id].access = {0644, kUser, kGroup};
    NodeOf(folder).entries[NameText(name)] = *id;
  }
  return std::unique_ptr<engine::AppendedFile>(std::make_unique<FakeAppended>(*this, *id));
}

std::error_code FakeDisk::Move(engine::Folder& from, const fs::path& fromName, engine::Folder& to,
                               const fs::path& toName, engine::Replacing replacing) {
  if (!Powered("Move", fromName)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> moved = Lookup(from, fromName);
  if (!moved) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  if (const std::optional<std::uint64_t> there = Lookup(to, toName)) {
    if (replacing == engine::Replacing::No) {
      return Errc(std::errc::file_exists);
    }
    if (nodes_[*there].kind == Kind::Folder) {
      return Errc(std::errc::is_a_directory);
    }
  }
  const Node& node = nodes_[*moved];
  if (replacing == engine::Replacing::Yes && node.kind == Kind::File &&
      node.data != node.durable && !NameText(fromName).starts_with('.')) {
    unsyncedReplacements.push_back(NameText(toName));
  }
  NodeOf(from).entries.erase(NameText(fromName));
  NodeOf(to).entries[NameText(toName)] = *moved;
  return {};
}

std::error_code FakeDisk::RemoveFile(engine::Folder& folder, const fs::path& name) {
  if (!Powered("RemoveFile", name)) {
    return Errc(std::errc::io_error);
  }
  const std::optional<std::uint64_t> id = Lookup(folder, name);
  if (!id) {
    return Errc(std::errc::no_such_file_or_directory);
  }
  if (nodes_[*id].kind == Kind::Folder) {
    return Errc(std::errc::is_a_directory);
  }
  NodeOf(folder).entries.erase(NameText(name));
  return {};
}

std::error_code FakeDisk::SyncFiles(engine::Folder& folder, std::span<const fs::path> names) {
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

std::error_code FakeDisk::SyncFolder(engine::Folder& folder) {
  return Powered("SyncFolder", folder.Path()) ? std::error_code() : Errc(std::errc::io_error);
}

}  // namespace lapse::testing_support
