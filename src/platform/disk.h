// Every operation that a run, a replace and a check make on folders and
// files, behind one small interface: the machine's own disk, and an in-memory
// one for tests (memory_disk.h). Files are reached through an open folder,
// never through a link that stands under a name, so that a path of any depth
// can be worked on and a link put in a folder's place is never followed (on
// Windows, only one that stands there when the folder is opened is refused:
// see Folder).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "platform/expected.h"
#include "text/streams.h"

namespace lapse::platform {

enum class EntryKind {
  OrdinaryFile,  // a regular file, neither hidden nor a system file
  Directory,
  HiddenDirectory,  // a folder that is hidden or a system folder
  Hidden,           // a regular file that is hidden or a system file
  Link,             // a symbolic link or another reparse point: never followed
  Other,            // devices, sockets, pipes
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
  std::uint64_t links = 1;  // the names the file has
  // When its content or its status (permissions, names, owner) last changed,
  // in nanoseconds since the epoch; no one can set it back, as a save that
  // restores the modification time may.
  std::int64_t statusChanged = 0;
  // Whether the stamp tells any later save from this state: false where the
  // file system keeps whole seconds, or the file was saved so recently that
  // a save within the same tick of the clock would leave the time as it is.
  bool fineStamp = true;
};

// An open folder. Its files are reached through it: on POSIX systems it is
// a descriptor, so that a link put in place of the folder after it was
// opened is never followed. On Windows it is the folder's path, refused when
// a junction or symbolic link stands there as it is opened; one swapped in
// for it later, by whoever may rename folders there, is followed by every
// operation through the folder (docs/reliability.md, "A site you do not
// own").
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
class SourceFile : public text::ByteSource {
 public:
  virtual const FileStatus& Status() const = 0;
};

enum class Replacing { No, Yes };

// What of its page a copy could take. A copy is never more open than its
// page: what cannot be given to it keeps it from being made.
enum class AccessKept {
  All,
  // The permission bits, ACL and attributes, but not the owner or group,
  // which only a privileged process may give to another user.
  AllButOwner,
};

// Whose a new folder is.
enum class FolderOwner {
  Process,  // the process's user, as every file it makes
  AsLike,   // the owner and group of like, where the process may give them
};

// Whether a link in place of the folder a path names is followed.
enum class FinalLink {
  Follow,  // the user named the path: a link anywhere on it is followed
  Refuse,  // a link may have been put there: only the folders on the way are followed
};

// A file that takes its name only once it is written in full, so that no
// reader ever finds it short under its name. Until then it has no name, or a
// short hidden one that the next run removes. Dropped without Commit(), it
// leaves nothing behind.
class NewFile : public text::ByteSink {
 public:
  // Gives the file what page has: owner and group where the process may set
  // them, the permission bits, the ACL and the extended attributes (security
  // labels where the process may set them). The error when any of them,
  // but the owner, could not be given.
  virtual Expected<AccessKept> TakeAccess(SourceFile& page) = 0;
  // Gives the file the modification and access times of original, as a
  // copy kept for later must have them.
  virtual std::error_code TakeTimes(SourceFile& original) = 0;
  // Puts what was written on the disk itself, so that a power cut after
  // Commit() cannot leave the name on a file without its content.
  virtual std::error_code Sync() = 0;
  // Closes the file and gives it its name, replacing a file that stands
  // there but never a folder. On failure the file is gone.
  virtual std::error_code Commit() = 0;
  // Who the file is: its device and number, which stay with it when it is
  // named; taken before Commit().
  virtual Expected<FileStamp> Stamp() = 0;
  // The bytes written so far.
  std::uint64_t Written() const { return written_; }

 protected:
  void Count(std::uint64_t bytes) { written_ += bytes; }

 private:
  std::uint64_t written_ = 0;
};

// A file that is written at its end and can be cut back to an earlier length.
class AppendedFile : public text::ByteSink {
 public:
  virtual std::uint64_t Size() const = 0;
  // What the file was when opened: whose it is, who may write it.
  virtual const FileStatus& Status() const = 0;
  virtual std::error_code CutBack(std::uint64_t size) = 0;
};

// A file without a name, for data that would not fit in memory: written,
// then read back from its start. It is gone when dropped.
class ScratchFile : public text::ByteSink, public text::ByteSource {
 public:
  // Reading starts again at the first byte.
  virtual std::error_code Rewind() = 0;
  // Both streams share one error.
  std::error_code Error() const override = 0;
};

// Who holds a folder's lock, where the system can tell.
struct LockHolder {
  std::optional<std::uint64_t> process;
  std::optional<std::chrono::system_clock::time_point> since;
};

// The lock of a folder: one process at a time holds it, and the system
// drops it when the process ends, however it ends.
class FolderLock {
 public:
  virtual ~FolderLock() = default;
};

// Why a folder could not be locked: busy (FolderBusyError()) with its holder,
// or another error.
struct LockRefusal {
  std::error_code error;
  LockHolder holder;
};

class Disk {
 public:
  virtual ~Disk() = default;

  // The folder at path, which ends in a separator. A link on the way is
  // followed: the user named the path; one in place of the folder itself
  // only with FinalLink::Follow.
  virtual Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path,
                                                       FinalLink final = FinalLink::Follow) = 0;
  // The folder name within parent; a link there is refused.
  virtual Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                          const std::filesystem::path& name) = 0;
  // Makes the folder name within parent with exactly the permission bits of
  // like (which the process's umask does not narrow), and with its owner
  // and group where asked and the process may give them. A folder that
  // stands there already is an error (file_exists): it is not this one.
  virtual std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name,
                                     const FileAccess& like,
                                     FolderOwner owner = FolderOwner::Process) = 0;
  // Removes the folder name only when it is empty.
  virtual std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) = 0;

  // The entries of folder, in the folder's own order.
  virtual std::error_code List(Folder& folder, std::vector<Entry>& entries) = 0;
  // What stands under name, without following a link.
  virtual Expected<FileStatus> Status(Folder& folder, const std::filesystem::path& name) = 0;
  // What the open folder itself is.
  virtual Expected<FileStatus> FolderStatus(Folder& folder) = 0;

  // A regular file for reading; a link, folder, pipe or device is refused.
  virtual Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                           const std::filesystem::path& name) = 0;
  // A file to be written in full and then named name. mode is the bits it
  // will have: a file no one can reach before it is named (an unnamed one)
  // is made with them at once; a file under a temporary name is readable by
  // its owner only until TakeAccess() gives it more.
  virtual Expected<std::unique_ptr<NewFile>> Create(Folder& folder,
                                                    const std::filesystem::path& name,
                                                    std::uint32_t mode) = 0;
  // A regular file for appending, made with the permission bits mode when
  // missing; a link is refused.
  virtual Expected<std::unique_ptr<AppendedFile>> OpenAppending(Folder& folder,
                                                                const std::filesystem::path& name,
                                                                std::uint32_t mode) = 0;
  // A file without a name on the volume of folder.
  virtual Expected<std::unique_ptr<ScratchFile>> CreateScratch(Folder& folder) = 0;

  // Moves a file or link; with Replacing::No it fails where toName is taken.
  // A file replaced keeps its name, and on Windows its security and
  // attributes, which the moved file takes over.
  virtual std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                               const std::filesystem::path& toName, Replacing replacing) = 0;
  // Removes a file or link, never a folder.
  virtual std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) = 0;
  // Gives the file fromName another name, toName in to, never following a
  // link; fails where toName is taken, and with "cross-device link" where
  // the two folders are on different volumes.
  virtual std::error_code Link(Folder& from, const std::filesystem::path& fromName, Folder& to,
                               const std::filesystem::path& toName) = 0;

  // Starts putting what was written to the files names of folder on the
  // disk, and returns without waiting: the disk then writes all of them
  // together, ahead of a SyncFiles() that waits for them.
  virtual void BeginSync(Folder& folder, std::span<const std::filesystem::path> names) = 0;
  // Puts what was written to the files names of folder on the disk itself,
  // and nothing else that waits to be written on the same volume.
  virtual std::error_code SyncFiles(Folder& folder,
                                    std::span<const std::filesystem::path> names) = 0;
  // Puts the folder's names, as moves and removals left them, on the disk.
  virtual std::error_code SyncFolder(Folder& folder) = 0;

  // The user whose rights the process acts with, where the system gives
  // files owners (not on Windows).
  virtual std::optional<std::uint32_t> ProcessUser() = 0;

  // Locks folder for this process, waiting up to wait while another holds it.
  virtual Expected<std::unique_ptr<FolderLock>, LockRefusal> Lock(
      Folder& folder, std::chrono::milliseconds wait) = 0;
};

// How the machine's disk names a new file while it is written: on Linux an
// unnamed file (O_TMPFILE) where the file system has them, else a short
// hidden name; tests take each way.
enum class NewFileNaming { Best, HiddenName };

// The disk of the machine the program runs on.
Disk& MachineDisk(NewFileNaming naming = NewFileNaming::Best);

// Whether name is one name within a folder: not empty, no separator, not
// "." or "..". Every operation that takes a name refuses any other, so that
// no name found in a site or a record can lead out of the folder it is in.
bool IsOneName(const std::filesystem::path& name);

// The hidden names that new and scratch files have while they are written
// on a disk without unnamed files: a run removes what a killed one left.
bool IsTemporaryName(const std::filesystem::path& name);

}  // namespace lapse::platform
