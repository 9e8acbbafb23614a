// A disk in memory, for tests of what real disks do only now and then: a
// file that appears between two steps, a power cut after any operation, a
// process that may or may not give files away.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/disk.h"

namespace lapse::testing_support {

class FakeDisk final : public engine::Disk {
 public:
  FakeDisk();

  // The tree, by absolute paths such as "/site/a.htm"; folders on the way are
  // made as needed.
  void AddFolder(const std::filesystem::path& path);
  void AddFile(const std::filesystem::path& path, const std::string& content,
               engine::FileAccess access = {0644, kUser, kGroup});
  void AddLink(const std::filesystem::path& path, const std::filesystem::path& target);
  // The content of the file at path, or nothing when no file stands there.
  std::optional<std::string> Content(const std::filesystem::path& path) const;
  std::optional<engine::FileAccess> AccessOf(const std::filesystem::path& path) const;
  // The names in the folder at path, sorted.
  std::vector<std::string> Names(const std::filesystem::path& path) const;

  // Called at the start of every operation with its name and the name it
  // works on, so that a test can change the tree between two steps.
  std::function<void(const std::string& operation, const std::filesystem::path& name)> before;
  // After this many operations the power is off: every later one fails.
  std::optional<std::size_t> cutAfter;
  std::size_t operations = 0;
  // Drops what was written to files since their last sync, as a power cut
  // does on a file system that journals names but not data; and turns the
  // power back on.
  void Crash();
  // Puts everything written so far on the disk, as the system does a while
  // after the writes.
  void Settle();
  // Whether the process may give its files to another user.
  bool privileged = false;
  // A file whose data was not on the disk when it took a source's place.
  std::vector<std::string> unsyncedReplacements;

  static constexpr std::uint32_t kUser = 1000;
  static constexpr std::uint32_t kGroup = 1000;

  // engine::Disk
  engine::Expected<std::unique_ptr<engine::Folder>> OpenFolder(
      const std::filesystem::path& path) override;
  engine::Expected<std::unique_ptr<engine::Folder>> OpenSubfolder(
      engine::Folder& parent, const std::filesystem::path& name) override;
  std::error_code MakeFolder(engine::Folder& parent, const std::filesystem::path& name) override;
  std::error_code RemoveEmptyFolder(engine::Folder& parent,
                                    const std::filesystem::path& name) override;
  std::error_code List(engine::Folder& folder, std::vector<engine::Entry>& entries) override;
  engine::Expected<engine::FileStatus> Status(engine::Folder& folder,
                                              const std::filesystem::path& name) override;
  engine::Expected<std::unique_ptr<engine::SourceFile>> OpenSource(
      engine::Folder& folder, const std::filesystem::path& name) override;
  engine::Expected<std::unique_ptr<engine::NewFile>> Create(
      engine::Folder& folder, const std::filesystem::path& name, std::uint32_t mode) override;
  engine::Expected<std::unique_ptr<engine::AppendedFile>> OpenAppending(
      engine::Folder& folder, const std::filesystem::path& name) override;
  std::error_code Move(engine::Folder& from, const std::filesystem::path& fromName,
                       engine::Folder& to, const std::filesystem::path& toName,
                       engine::Replacing replacing) override;
  std::error_code RemoveFile(engine::Folder& folder, const std::filesystem::path& name) override;
  std::error_code SyncFiles(engine::Folder& folder,
                            std::span<const std::filesystem::path> names) override;
  std::error_code SyncFolder(engine::Folder& folder) override;

 private:
  enum class Kind { File, Folder, Link };
  struct Node {
    Kind kind = Kind::File;
    std::string data;
    std::string durable;  // what a power cut leaves of data
    std::map<std::string, std::uint64_t> entries;
    std::filesystem::path target;
    engine::FileAccess access;
    std::int64_t modified = 0;
  };
  class FakeFolder;
  class FakeSource;
  class FakeNewFile;
  class FakeAppended;
  friend class FakeNewFile;
  friend class FakeAppended;

  // Counts the operation; false once the power is off.
  bool Powered(const std::string& operation, const std::filesystem::path& name);
  std::uint64_t Make(Kind kind);
  void Touch(Node& node);
  Node& NodeOf(engine::Folder& folder);
  // The node under name in folder, or nothing.
  std::optional<std::uint64_t> Lookup(engine::Folder& folder,
                                      const std::filesystem::path& name);
  std::optional<std::uint64_t> Resolve(const std::filesystem::path& path, bool followLast) const;
  std::uint64_t FolderAt(const std::filesystem::path& path);
  engine::FileStatus StatusOf(const std::string& name, std::uint64_t id) const;

  std::map<std::uint64_t, Node> nodes_;
  std::uint64_t next_ = 1;
  std::int64_t clock_ = 1;
};

}  // namespace lapse::testing_support
