// Every operation that a run, a replace and a check make on folders and
// files, behind one small interface: the machine's own disk, and an in-memory
// one for tests. Files are reached through an open folder, never through a
// link that stands under a name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <system_error>
#include <vector>

#include "engine/expected.h"
#include "engine/io.h"

namespace lapse::engine {

enum class EntryKind {
  OrdinaryFile,  // a regular file, neither hidden nor a system file
  Directory,
  HiddenDirectory,  // a folder that is hidden or a system folder
  Hidden,  // a regular file that is hidden or a system file
  Link,    // a symbolic link or another reparse point: never followed
  Other,   // devices, sockets, pipes
};

struct Entry {
  std::filesystem::path name;  // bare
  EntryKind kind = EntryKind::Other;
};

// Who the file is and what state its content was in when looked at: a
// write changes the size or the time, a file saved or renamed into its
// place has another number.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds since the epoch
  std::uint64_t device = 0;
  std::uint64_t inode = 0;  // the file's number on its device
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// Who may read and write a file. Windows knows only the read-only attribute,
// shown as mode 0444 (else 0666), and no owners.
struct FileAccess {
  std::uint32_t mode = 0666;  // the permission bits, 07777 at most
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};

struct FileStatus {
  EntryKind kind = EntryKind::Other;
  FileStamp stamp;
  FileAccess access;
};

// An open folder. Its files are reached through it, so that a link put in
// place of the folder after it was opened is never followed.
class Folder {
 public:
  virtual ~Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // The path it was opened by, ending in a separator; for messages.
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path PathOf(const std::filesystem::path& name) const {
    return path_.native() + name.native();
  }

 protected:
  explicit Folder(std::filesystem::path path) : path_(std::move(path)) {}

 private:
  std::filesystem::path path_;
};

// A file opened for reading, with what it was when opened.
class SourceFile : public ByteSource {
 public:
  virtual const FileStatus& Status() const = 0;
};

enum class Replacing { No, Yes };
enum class AccessKept { All, PermissionsOnly };

// A file that takes its name only once it is written in full, so that no
// reader ever finds it short under its name. Dropped without Commit(), it
// leaves nothing behind.
class NewFile : public ByteSink {
 public:
  // Gives the file the permission bits of access, and its owner and group
  // where the process may set them. Until then only its owner can read it.
  virtual AccessKept TakeAccess(const FileAccess& access) = 0;
  // Closes the file and gives it its name, replacing a file that stands
  // there but never a folder. On failure, or when the permission bits could
  // not be set, the file is gone.
  virtual std::error_code Commit() = 0;
  // The bytes written so far.
  std::uint64_t Written() const { return written_; }

 protected:
  void Count(std::uint64_t bytes) { written_ += bytes; }

 private:
  std::uint64_t written_ = 0;
};

// A file that is written at its end and can be cut back to an earlier length.
class AppendedFile : public ByteSink {
 public:
  virtual std::uint64_t Size() const = 0;
  virtual std::error_code CutBack(std::uint64_t size) = 0;
};

class Disk {
 public:
  virtual ~Disk() = default;

  // The folder at path, which ends in a separator. A link on the way is
  // followed: the user named the path.
  virtual Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path) = 0;
  // The folder name within parent; a link there is refused.
  virtual Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                         const std::filesystem::path& name) = 0;
  virtual std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name) = 0;
  // Removes the folder name only when it is empty.
  virtual std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) = 0;

  // The entries of folder, in the folder's own order.
  virtual std::error_code List(Folder& folder, std::vector<Entry>& entries) = 0;
  // What stands under name, without following a link.
  virtual Expected<FileStatus> Status(Folder& folder, const std::filesystem::path& name) = 0;

  // A regular file for reading; a link, folder, pipe or device is refused.
  virtual Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                           const std::filesystem::path& name) = 0;
  // A file to be written in full and then named name, made with the
  // permission bits mode (less the process's umask).
  virtual Expected<std::unique_ptr<NewFile>> Create(Folder& folder, const std::filesystem::path& name,
                                                    std::uint32_t mode) = 0;
  // A regular file for appending, made when missing; a link is refused.
  virtual Expected<std::unique_ptr<AppendedFile>> OpenAppending(
      Folder& folder, const std::filesystem::path& name) = 0;

  // Moves a file or link; with Replacing::No it fails where toName is taken.
  virtual std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                               const std::filesystem::path& toName, Replacing replacing) = 0;
  // Removes a file or link, never a folder.
  virtual std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) = 0;

  // Puts what was written to the files names of folder on the disk itself.
  virtual std::error_code SyncFiles(Folder& folder,
                                    std::span<const std::filesystem::path> names) = 0;
  // Puts the folder's names, as moves and removals left them, on the disk.
  virtual std::error_code SyncFolder(Folder& folder) = 0;
};

// The disk of the machine the program runs on.
Disk& MachineDisk();

}  // namespace lapse::engine
