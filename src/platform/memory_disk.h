// A disk in memory, for tests of what real disks do only now and then: a
// file that appears between two steps, a power cut after any operation, a
// file that cannot grow past a size, a process that may or may not give
// files away, a folder locked by another process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/disk.h"

namespace lapse::platform {

class MemoryDisk final : public Disk {
 public:
  MemoryDisk();

  // The tree, by absolute paths such as "/site/a.htm"; folders on the way are
  // made as needed.
  void AddFolder(const std::filesystem::path& path, FileAccess access = {0755, kUser, kGroup});
  void AddFile(const std::filesystem::path& path, const std::string& content,
               FileAccess access = {0644, kUser, kGroup});
  void AddLink(const std::filesystem::path& path, const std::filesystem::path& target);
  // Writes content over the file at path, as an editor that saves in place
  // does: the file keeps its number and its other names, and takes a new
  // time (which a disk of coarse times does not show).
  void SaveInPlace(const std::filesystem::path& path, const std::string& content);
  // Another name for the file at existing.
  void AddHardLink(const std::filesystem::path& path, const std::filesystem::path& existing);
  // An extended attribute (an ACL is one too: "system.posix_acl_access").
  void SetAttribute(const std::filesystem::path& path, const std::string& name,
                    const std::string& value);
  // The content of the file at path, or nothing when no file stands there.
  std::optional<std::string> Content(const std::filesystem::path& path) const;
  std::optional<FileAccess> AccessOf(const std::filesystem::path& path) const;
  std::map<std::string, std::string> AttributesOf(const std::filesystem::path& path) const;
  // The names in the folder at path, sorted.
  std::vector<std::string> Names(const std::filesystem::path& path) const;
  // Every path of a file or folder below path, sorted.
  std::vector<std::string> Tree(const std::filesystem::path& path) const;

  // Called at the start of every operation with its name and the name it
  // works on, so that a test can change the tree between two steps. It may
  // call the disk's own test methods (AddFile, ...).
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
  // The user the process acts as: its new files and folders are this user's.
  std::uint32_t processUser = kUser;
  // Whether the disk keeps extended attributes (and ACLs) on new files.
  bool keepsAttributes = true;
  // Whether its times are too coarse to tell a save from the state before.
  bool coarseTimes = false;
  // Folders below this path are on a volume of their own: no hard link
  // joins them to the rest.
  std::optional<std::filesystem::path> otherVolume;
  // Files of this name cannot grow past the size: a write that would take
  // them further writes what fits and fails, as under a file-size limit.
  std::map<std::string, std::uint64_t> sizeLimit;
  // Folders (by path) that another process holds locked, and who it is.
  std::set<std::string> lockedByOthers;
  LockHolder otherHolder;
  // A file whose data was not on the disk when it took a source's place.
  std::vector<std::string> unsyncedReplacements;

  static constexpr std::uint32_t kUser = 1000;
  static constexpr std::uint32_t kGroup = 1000;

  // Disk
  Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path,
                                               FinalLink final = FinalLink::Follow) override;
  Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                  const std::filesystem::path& name) override;
  std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name,
                             const FileAccess& like,
                             FolderOwner owner = FolderOwner::Process) override;
  std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) override;
  std::error_code List(Folder& folder, std::vector<Entry>& entries) override;
  Expected<FileStatus> Status(Folder& folder, const std::filesystem::path& name) override;
  Expected<FileStatus> FolderStatus(Folder& folder) override;
  Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                   const std::filesystem::path& name) override;
  Expected<std::unique_ptr<NewFile>> Create(Folder& folder, const std::filesystem::path& name,
                                            std::uint32_t mode) override;
  Expected<std::unique_ptr<AppendedFile>> OpenAppending(Folder& folder,
                                                        const std::filesystem::path& name,
                                                        std::uint32_t mode) override;
  Expected<std::unique_ptr<ScratchFile>> CreateScratch(Folder& folder) override;
  std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName, Replacing replacing) override;
  std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) override;
  std::error_code Link(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName) override;
  void BeginSync(Folder& folder, std::span<const std::filesystem::path> names) override;
  std::error_code SyncFiles(Folder& folder, std::span<const std::filesystem::path> names) override;
  std::error_code SyncFolder(Folder& folder) override;
  std::optional<std::uint32_t> ProcessUser() override;
  Expected<std::unique_ptr<FolderLock>, LockRefusal> Lock(Folder& folder,
                                                          std::chrono::milliseconds wait) override;

 private:
  enum class Kind { File, Folder, Link };
  struct Node {
    Kind kind = Kind::File;
    std::string data;
    std::string durable;  // what a power cut leaves of data
    std::map<std::string, std::uint64_t> entries;
    std::filesystem::path target;
    FileAccess access;
    std::map<std::string, std::string> attributes;
    std::int64_t modified = 0;
    // The time a copy takes when it is named: its original's.
    std::optional<std::int64_t> keepModified;
  };
  class MemoryFolder;
  class MemorySource;
  class MemoryNewFile;
  class MemoryAppended;
  class MemoryScratch;
  class MemoryLock;

  // Counts the operation; false once the power is off.
  bool Powered(const std::string& operation, const std::filesystem::path& name);
  std::uint64_t Make(Kind kind);
  // A new node of the process's user, with the permission bits of mode.
  std::uint64_t MakeOwned(Kind kind, std::uint32_t mode);
  void Touch(Node& node);
  Node& NodeOf(Folder& folder);
  // The node under name in folder, or nothing.
  std::optional<std::uint64_t> Lookup(Folder& folder, const std::filesystem::path& name);
  // The node under name in folder; no_such_file_or_directory where none is.
  Expected<std::uint64_t> Existing(Folder& folder, const std::filesystem::path& name);
  // The folder id stands for, opened as path; refused where id is none, a
  // link or no folder.
  Expected<std::unique_ptr<Folder>> OpenedFolder(std::optional<std::uint64_t> id,
                                                 const std::filesystem::path& path) const;
  // Whether one of the folders is on otherVolume and the other not.
  bool CrossesVolumes(const Folder& from, const Folder& to) const;
  std::optional<std::uint64_t> Resolve(const std::filesystem::path& path, bool followLast) const;
  std::uint64_t FolderAt(const std::filesystem::path& path, const FileAccess& access);
  std::uint64_t LinksTo(std::uint64_t id) const;
  FileStatus StatusOf(const std::string& name, std::uint64_t id) const;
  // Appends to a file, up to its size limit; false when it stopped there.
  bool Append(std::uint64_t id, const std::string& name, std::string_view bytes);

  // One operation at a time, as the tests may rewrite pages on threads.
  mutable std::recursive_mutex mutex_;
  std::map<std::uint64_t, Node> nodes_;
  std::set<std::uint64_t> lockedHere_;
  std::uint64_t next_ = 1;
  std::int64_t clock_ = 1;
};

}  // namespace lapse::platform
