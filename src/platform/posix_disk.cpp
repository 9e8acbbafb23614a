// The machine's disk on POSIX systems: every file is reached relative to an
// open folder descriptor, so that no path is ever too long, and nothing is
// opened through a link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#if defined(__linux__)
#include <acl/libacl.h>
#include <attr/error_context.h>
#include <attr/libattr.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "platform/disk.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/temporary_names.h"

namespace lapse::platform {

namespace {

std::error_code Errno() {
  return LastError();
}

std::error_code Check(int result) {
  return result == 0 ? std::error_code() : Errno();
}

template <typename Call>
int Retrying(Call call) {
  int result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

EntryKind KindOf(mode_t mode, const char* name) {
  if (S_ISLNK(mode)) {
    return EntryKind::Link;
  }
  if (S_ISDIR(mode)) {
    return name[0] == '.' ? EntryKind::HiddenDirectory : EntryKind::Directory;
  }
  if (!S_ISREG(mode)) {
    return EntryKind::Other;
  }
  return name[0] == '.' ? EntryKind::Hidden : EntryKind::OrdinaryFile;
}

// A save within this long of another may leave the time as it was: the
// clock of most file systems moves in ticks of a few milliseconds, and some
// keep whole seconds.
constexpr std::int64_t kTimeTick = 1'000'000'000;

std::int64_t Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

FileStatus StatusOf(const struct stat& info, const char* name) {
  FileStatus status;
  status.fineStamp = info.st_mtim.tv_nsec != 0 && Now() - Nanoseconds(info.st_mtim) >= kTimeTick;
  status.kind = KindOf(info.st_mode, name);
  status.stamp = {static_cast<std::uint64_t>(info.st_size), Nanoseconds(info.st_mtim),
                  static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  status.access = {static_cast<std::uint32_t>(info.st_mode & 07777), info.st_uid, info.st_gid};
  status.links = static_cast<std::uint64_t>(info.st_nlink);
  status.statusChanged = Nanoseconds(info.st_ctim);
  return status;
}

std::error_code NotOneName() {
  return std::make_error_code(std::errc::invalid_argument);
}

// Where a refused link would have led: O_NOFOLLOW says ELOOP, which reads as
// "too many levels of symbolic links".
std::error_code Refusal(std::error_code error) {
  return error == std::errc::too_many_symbolic_link_levels ? IsALinkError() : error;
}

// Who a file made by this process belongs to, without a look at each one:
// the process's user, and its group or, in a set-group-ID folder, the
// folder's.
struct Maker {
  uid_t owner;
  gid_t group;
};

// Whether the file system of a folder makes unnamed files: asked once.
enum class Unnamed { Unknown, Yes, No };

class PosixFolder final : public Folder {
 public:
  PosixFolder(std::filesystem::path path, int descriptor)
      : Folder(std::move(path)), descriptor_(descriptor) {}
  ~PosixFolder() override { ::close(descriptor_); }
  int Descriptor() const { return descriptor_; }
  // Asked once per folder, and only of folders that get new files.
  const Maker& MakerOfFiles() {
    std::call_once(makerKnown_, [this] {
      maker_ = {::geteuid(), ::getegid()};
      struct stat info {};
      if (::fstat(descriptor_, &info) == 0 && (info.st_mode & S_ISGID) != 0) {
        maker_.group = info.st_gid;
      }
    });
    return maker_;
  }
  std::atomic<Unnamed>& UnnamedFiles() { return unnamed_; }

 private:
  int descriptor_;
  std::once_flag makerKnown_;
  Maker maker_{};
  std::atomic<Unnamed> unnamed_{Unnamed::Unknown};
};

// The process's umask, read once: the call that reads it also sets it.
mode_t Umask() {
  static const mode_t mask = [] {
    const mode_t old = ::umask(022);
    ::umask(old);
    return old;
  }();
  return mask;
}

int DescriptorOf(Folder& folder) {
  return static_cast<PosixFolder&>(folder).Descriptor();
}

std::filesystem::path SubfolderPath(const Folder& parent, const std::filesystem::path& name) {
  return parent.PathOf(name).native() + std::filesystem::path::preferred_separator;
}

class PosixSourceFile final : public SourceFile {
 public:
  PosixSourceFile(int descriptor, const FileStatus& status) : file_(descriptor), status_(status) {}
  std::size_t Read(std::span<char> buffer) override { return file_.Read(buffer); }
  std::error_code Error() const override { return file_.Error(); }
  const FileStatus& Status() const override { return status_; }
  int Descriptor() const { return file_.Handle(); }

 private:
  InputFile file_;
  FileStatus status_;
};

#if defined(__linux__)

// The names of the extended attributes of a file: none for almost every
// page, which then costs this one call.
std::vector<std::string> AttributeNames(int descriptor, std::error_code& error) {
  std::vector<char> list(256);
  for (;;) {
    const ssize_t size = ::flistxattr(descriptor, list.data(), list.size());
    if (size >= 0) {
      std::vector<std::string> names;
      for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
        names.emplace_back(list.data() + at);
        at += names.back().size() + 1;
      }
      return names;
    }
    if (errno == ERANGE) {
      list.resize(list.size() * 4);
      continue;
    }
    // A file system without attributes has none to give.
    if (errno != ENOTSUP) {
      error = Errno();
    }
    return {};
  }
}

bool IsAclName(const std::string& name) {
  return name.starts_with("system.posix_acl_");
}

bool IsSecurityLabel(const char* name) {
  return std::string_view(name).starts_with("security.");
}

// The attributes libattr copies itself: not the ACLs, which go with the
// permission bits, nor what the system's attribute rules skip; security
// labels in a second pass, where the process may set them.
int CopyWithoutLabels(const char* name, error_context* context) {
  return !IsSecurityLabel(name) && attr_copy_action(name, context) == 0;
}
int CopyLabelsOnly(const char* name, error_context* context) {
  return IsSecurityLabel(name) && attr_copy_action(name, context) == 0;
}

// Gives to the new file what the page has beyond its owner: the permission
// bits, the ACL and the other extended attributes.
std::error_code CopyPermissionsAndAttributes(int page, int copy, mode_t pageMode,
                                             bool modeDiffers) {
  std::error_code error;
  const std::vector<std::string> names = AttributeNames(page, error);
  if (error) {
    return error;
  }
  const bool hasAcl = std::any_of(names.begin(), names.end(), IsAclName);
  if (hasAcl) {
    // The ACL and the permission bits in one, as the page has them.
    if (::perm_copy_fd(nullptr, page, nullptr, copy, nullptr) != 0) {
      return Errno();
    }
  } else if (modeDiffers && ::fchmod(copy, pageMode) != 0) {
    return Errno();
  }
  if (names.size() > (hasAcl ? 1u : 0u)) {
    if (::attr_copy_fd(nullptr, page, nullptr, copy, CopyWithoutLabels, nullptr) != 0) {
      return Errno();
    }
    // A label the process may not set is the policy's to give.
    ::attr_copy_fd(nullptr, page, nullptr, copy, CopyLabelsOnly, nullptr);
  }
  return {};
}

#else

std::error_code CopyPermissionsAndAttributes(int, int copy, mode_t pageMode, bool modeDiffers) {
  return modeDiffers ? Check(::fchmod(copy, pageMode)) : std::error_code();
}

#endif

// Gives the file open at descriptor the owner, group, permissions, ACL and
// attributes of page.
Expected<AccessKept> GiveAccess(int descriptor, const Maker& maker, mode_t madeWith,
                                PosixSourceFile& page) {
  const FileAccess& access = page.Status().access;
  AccessKept kept = AccessKept::All;
  bool ownerChanged = false;
  if (maker.owner != access.owner || maker.group != access.group) {
    ownerChanged = ::fchown(descriptor, access.owner, access.group) == 0;
    // Without the privilege the group may still be one of the user's.
    if (!ownerChanged) {
      ownerChanged = ::fchown(descriptor, static_cast<uid_t>(-1), access.group) == 0;
      if (!ownerChanged || maker.owner != access.owner) {
        kept = AccessKept::AllButOwner;
      }
    }
  }
  // Changing the owner clears the set-user-ID bits, so the mode comes after.
  const auto mode = static_cast<mode_t>(access.mode & 07777);
  const std::error_code error = CopyPermissionsAndAttributes(page.Descriptor(), descriptor, mode,
                                                             ownerChanged || mode != madeWith);
  if (error) {
    return error;
  }
  return kept;
}

// Whether this process can name an unnamed file: through /proc, without a
// privilege.
bool CanNameUnnamedFiles() {
#if defined(__linux__) && defined(O_TMPFILE)
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
#else
  return false;
#endif
}

// A new file: unnamed where the file system makes such files, linked under
// its name once whole; elsewhere written under a short hidden name that the
// next run removes, and renamed.
class PosixNewFile final : public NewFile {
 public:
  PosixNewFile(int folder, std::string name, std::string temporaryName, int descriptor,
               const Maker& maker, mode_t madeWith)
      : folder_(folder),
        name_(std::move(name)),
        temporaryName_(std::move(temporaryName)),
        file_(descriptor, {}),
        maker_(maker),
        madeWith_(madeWith) {}
  ~PosixNewFile() override {
    if (!committed_) {
      file_.Close();
      if (!temporaryName_.empty()) {
        ::unlinkat(folder_, temporaryName_.c_str(), 0);
      }
    }
  }

  bool Write(std::string_view bytes) override {
    Count(bytes.size());
    return file_.Write(bytes);
  }
  bool WritePieces(std::span<const std::string_view> pieces) override {
    for (const std::string_view piece : pieces) {
      Count(piece.size());
    }
    return file_.WritePieces(pieces);
  }
  std::error_code Error() const override { return file_.Error(); }

  Expected<AccessKept> TakeAccess(SourceFile& page) override {
    return GiveAccess(file_.Handle(), maker_, madeWith_, static_cast<PosixSourceFile&>(page));
  }

  std::error_code TakeTimes(SourceFile& original) override {
    struct stat info {};
    if (::fstat(static_cast<PosixSourceFile&>(original).Descriptor(), &info) != 0) {
      return Errno();
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    return Check(::futimens(file_.Handle(), times));
  }

  std::error_code Sync() override {
    if (file_.Error()) {
      return file_.Error();
    }
    return Check(Retrying([&] { return ::fdatasync(file_.Handle()); }));
  }

  Expected<FileStamp> Stamp() override {
    struct stat info {};
    if (::fstat(file_.Handle(), &info) != 0) {
      return Errno();
    }
    return StatusOf(info, "").stamp;
  }

  std::error_code Commit() override {
    committed_ = true;
    if (temporaryName_.empty()) {
      return CommitUnnamed();
    }
    std::error_code error = file_.Close() ? std::error_code() : file_.Error();
    if (!error) {
      error = Check(::renameat(folder_, temporaryName_.c_str(), folder_, name_.c_str()));
    }
    if (error) {
      ::unlinkat(folder_, temporaryName_.c_str(), 0);
    }
    return error;
  }

 private:
  std::error_code CommitUnnamed() {
    if (file_.Error()) {
      file_.Close();
      return file_.Error();
    }
    std::error_code error = LinkUnnamed(name_);
    bool named = !error;
    if (error == std::errc::file_exists) {
      // A file of that name stands there: the copy takes its place in one
      // step, through a name of its own.
      const std::string temporary = NextTemporaryName();
      error = LinkUnnamed(temporary);
      if (!error) {
        error = Check(::renameat(folder_, temporary.c_str(), folder_, name_.c_str()));
        if (error) {
          ::unlinkat(folder_, temporary.c_str(), 0);
        }
        named = !error;
      }
    }
    if (!file_.Close() && !error) {
      error = file_.Error();
    }
    if (error && named) {
      ::unlinkat(folder_, name_.c_str(), 0);
    }
    return error;
  }

  // Gives the unnamed file the name: straight from its descriptor where the
  // process may (root may), else through its entry in /proc.
  std::error_code LinkUnnamed(const std::string& name) {
#if defined(__linux__)
    static std::atomic<bool> fromDescriptor{true};
    if (fromDescriptor && ::linkat(file_.Handle(), "", folder_, name.c_str(), AT_EMPTY_PATH) == 0) {
      return {};
    }
    if (errno != EPERM && errno != ENOENT && fromDescriptor) {
      return Errno();
    }
    fromDescriptor = false;
#endif
    const std::string self = "/proc/self/fd/" + std::to_string(file_.Handle());
    return Check(::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW));
  }

  int folder_;
  std::string name_;
  std::string temporaryName_;  // empty for an unnamed file
  OutputFile file_;
  Maker maker_;
  mode_t madeWith_;
  bool committed_ = false;
};

class PosixAppendedFile final : public AppendedFile {
 public:
  PosixAppendedFile(int descriptor, const FileStatus& status)
      : file_(descriptor, {}), size_(status.stamp.size), status_(status) {}
  const FileStatus& Status() const override { return status_; }
  bool Write(std::string_view bytes) override {
    size_ += bytes.size();
    return file_.Write(bytes);
  }
  bool WritePieces(std::span<const std::string_view> pieces) override {
    for (const std::string_view piece : pieces) {
      size_ += piece.size();
    }
    return file_.WritePieces(pieces);
  }
  std::error_code Error() const override { return file_.Error(); }
  std::uint64_t Size() const override { return size_; }
  std::error_code CutBack(std::uint64_t size) override {
    const std::error_code error =
        Check(Retrying([&] { return ::ftruncate(file_.Handle(), static_cast<off_t>(size)); }));
    if (!error) {
      size_ = size;
    }
    return error;
  }

 private:
  OutputFile file_;
  std::uint64_t size_;
  FileStatus status_;
};

class PosixScratchFile final : public ScratchFile {
 public:
  explicit PosixScratchFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixScratchFile() override { ::close(descriptor_); }
  PosixScratchFile(const PosixScratchFile&) = delete;
  PosixScratchFile& operator=(const PosixScratchFile&) = delete;

  bool Write(std::string_view bytes) override {
    while (!error_ && !bytes.empty()) {
      const ssize_t count = ::write(descriptor_, bytes.data(), bytes.size());
      if (count > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        error_ = count == 0 ? std::make_error_code(std::errc::io_error) : Errno();
      }
    }
    return !error_;
  }
  std::size_t Read(std::span<char> buffer) override {
    if (error_) {
      return 0;
    }
    ssize_t count;
    do {
      count = ::read(descriptor_, buffer.data(), buffer.size());
    } while (count == -1 && errno == EINTR);
    if (count < 0) {
      error_ = Errno();
      return 0;
    }
    return static_cast<std::size_t>(count);
  }
  std::error_code Rewind() override {
    return ::lseek(descriptor_, 0, SEEK_SET) == 0 ? std::error_code() : Errno();
  }
  std::error_code Error() const override { return error_; }

 private:
  int descriptor_;
  std::error_code error_;
};

class PosixLock final : public FolderLock {
 public:
  explicit PosixLock(int descriptor) : descriptor_(descriptor) {}
  ~PosixLock() override { ::close(descriptor_); }
  PosixLock(const PosixLock&) = delete;
  PosixLock& operator=(const PosixLock&) = delete;

 private:
  int descriptor_;
};

#if defined(__linux__)
// The process that holds a lock on the folder of device and inode, and since
// when it runs, as the kernel's list of locks tells.
LockHolder HolderOf(dev_t device, ino_t inode) {
  LockHolder holder;
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", ::major(device), ::minor(device),
                static_cast<unsigned long long>(inode));
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, advisory, access, file;
    std::uint64_t process = 0;
    if (fields >> number >> kind >> advisory >> access >> process >> file && kind == "FLOCK" &&
        file == wanted) {
      holder.process = process;
      break;
    }
  }
  if (!holder.process) {
    return holder;
  }
  // The process's start, in clock ticks after the machine's.
  std::ifstream stat("/proc/" + std::to_string(*holder.process) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t nameEnd = text.rfind(')');
  std::ifstream machine("/proc/stat");
  std::string key;
  long long boot = 0;
  while (machine >> key && key != "btime") {
  }
  machine >> boot;
  if (nameEnd == std::string::npos || boot == 0) {
    return holder;
  }
  std::istringstream after(text.substr(nameEnd + 2));
  std::string field;
  unsigned long long ticks = 0;
  // starttime is the 22nd field; the 3rd follows the name.
  for (int index = 3; index < 22 && after >> field; ++index) {
  }
  if (after >> ticks) {
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    holder.since =
        std::chrono::system_clock::from_time_t(static_cast<std::time_t>(boot)) +
        std::chrono::milliseconds(ticks * 1000 /
                                  static_cast<unsigned long long>(perSecond > 0 ? perSecond : 100));
  }
  return holder;
}
#else
LockHolder HolderOf(dev_t, ino_t) {
  return {};
}
#endif

#if defined(__linux__)
// renameat2 where the C library has it; without it, and on file systems
// that lack it, a hard link fails where the name is taken.
std::error_code MoveWithoutReplacing(int from, const char* fromName, int to, const char* toName) {
  if (::renameat2(from, fromName, to, toName, RENAME_NOREPLACE) == 0) {
    return {};
  }
  if (errno != EINVAL && errno != ENOSYS) {
    return Errno();
  }
  if (::linkat(from, fromName, to, toName, 0) != 0) {
    return Errno();
  }
  return Check(::unlinkat(from, fromName, 0));
}
#else
std::error_code MoveWithoutReplacing(int from, const char* fromName, int to, const char* toName) {
  if (::linkat(from, fromName, to, toName, 0) != 0) {
    return Errno();
  }
  return Check(::unlinkat(from, fromName, 0));
}
#endif

// How many files are synced at a time: each is open meanwhile.
constexpr std::size_t kSyncBatch = 128;

class PosixDisk final : public Disk {
 public:
  explicit PosixDisk(NewFileNaming naming) : naming_(naming) {}

  Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path,
                                               FinalLink final = FinalLink::Follow) override {
    // A separator at the end would make the system follow a link there.
    std::string opened = path.native();
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (final == FinalLink::Refuse) {
      while (opened.size() > 1 && opened.back() == '/') {
        opened.pop_back();
      }
      flags |= O_NOFOLLOW;
    }
    const int descriptor = Retrying([&] { return ::open(opened.c_str(), flags); });
    if (descriptor == -1) {
      const std::error_code error = Errno();
      struct stat info {};
      if (final == FinalLink::Refuse && ::lstat(opened.c_str(), &info) == 0 &&
          S_ISLNK(info.st_mode)) {
        return IsALinkError();
      }
      return error;
    }
    return std::unique_ptr<Folder>(std::make_unique<PosixFolder>(path, descriptor));
  }

  Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                  const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    const int descriptor = Retrying([&] {
      return ::openat(DescriptorOf(parent), name.c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    });
    if (descriptor == -1) {
      // A link there fails as "not a directory" or as a loop, by system.
      const std::error_code error = Errno();
      struct stat info {};
      if (::fstatat(DescriptorOf(parent), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(info.st_mode)) {
        return IsALinkError();
      }
      return error;
    }
    return std::unique_ptr<Folder>(
        std::make_unique<PosixFolder>(SubfolderPath(parent, name), descriptor));
  }

  // Made for the owner alone, then given its bits, so that it is never more
  // open than like on the way.
  std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name,
                             const FileAccess& like,
                             FolderOwner owner = FolderOwner::Process) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    const int at = DescriptorOf(parent);
    if (::mkdirat(at, name.c_str(), 0700) != 0) {
      return Errno();
    }
    const int descriptor = Retrying([&] {
      return ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    });
    if (descriptor == -1) {
      return Errno();
    }
    // The folder made a moment ago is this process's; another put in its
    // place meanwhile (by whoever may write into parent) is not.
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || info.st_uid != ::geteuid()) {
      ::close(descriptor);
      return NotMadeHereError();
    }
    // Given to its owner before it opens to anyone else; only a privileged
    // process may give it, and the folder is then the process's own.
    if (owner == FolderOwner::AsLike) {
      [[maybe_unused]] const int given = ::fchown(descriptor, like.owner, like.group);
    }
    const std::error_code error = Check(::fchmod(descriptor, like.mode & 07777));
    ::close(descriptor);
    return error;
  }

  std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    return Check(::unlinkat(DescriptorOf(parent), name.c_str(), AT_REMOVEDIR));
  }

  std::error_code List(Folder& folder, std::vector<Entry>& entries) override {
    // A descriptor of its own, so that the listing starts at the beginning.
    const int descriptor = Retrying(
        [&] { return ::openat(DescriptorOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (descriptor == -1) {
      return Errno();
    }
    DIR* const listing = ::fdopendir(descriptor);
    if (listing == nullptr) {
      const std::error_code error = Errno();
      ::close(descriptor);
      return error;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") {
        entries.push_back({std::filesystem::path(name), KindOfEntry(descriptor, *entry)});
      }
      errno = 0;
    }
    const std::error_code error = errno != 0 ? Errno() : std::error_code();
    ::closedir(listing);
    return error;
  }

  Expected<FileStatus> Status(Folder& folder, const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    struct stat info {};
    if (::fstatat(DescriptorOf(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return Errno();
    }
    return StatusOf(info, name.c_str());
  }

  Expected<FileStatus> FolderStatus(Folder& folder) override {
    struct stat info {};
    if (::fstat(DescriptorOf(folder), &info) != 0) {
      return Errno();
    }
    return StatusOf(info, "");
  }

  Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                   const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    struct stat info {};
    std::error_code error;
    const int descriptor =
        OpenRegularFile(DescriptorOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW, 0, info, error);
    if (descriptor == kNoFile) {
      return Refusal(error);
    }
    return std::unique_ptr<SourceFile>(
        std::make_unique<PosixSourceFile>(descriptor, StatusOf(info, name.c_str())));
  }

  Expected<std::unique_ptr<NewFile>> Create(Folder& folder, const std::filesystem::path& name,
                                            std::uint32_t mode) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    auto& posixFolder = static_cast<PosixFolder&>(folder);
    const int at = posixFolder.Descriptor();
    constexpr mode_t kOwnerOnly = 0600;
    const auto make = [&](int descriptor, std::string temporaryName, mode_t madeWith) {
      return std::unique_ptr<NewFile>(
          std::make_unique<PosixNewFile>(at, name.native(), std::move(temporaryName), descriptor,
                                         posixFolder.MakerOfFiles(), madeWith & ~Umask()));
    };
    const auto bits = static_cast<mode_t>(mode & 0777);
    if (const int descriptor = OpenUnnamed(posixFolder, O_WRONLY, bits); descriptor != -1) {
      return make(descriptor, {}, bits);
    }
    std::string temporaryName;
    const int descriptor = OpenTemporary(at, O_WRONLY, kOwnerOnly, temporaryName);
    if (descriptor == -1) {
      return Errno();
    }
    return make(descriptor, std::move(temporaryName), kOwnerOnly);
  }

  Expected<std::unique_ptr<AppendedFile>> OpenAppending(Folder& folder,
                                                        const std::filesystem::path& name,
                                                        std::uint32_t mode) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    struct stat info {};
    std::error_code error;
    const int descriptor =
        OpenRegularFile(DescriptorOf(folder), name.c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, mode & 07777, info, error);
    if (descriptor == kNoFile) {
      return Refusal(error);
    }
    return std::unique_ptr<AppendedFile>(
        std::make_unique<PosixAppendedFile>(descriptor, StatusOf(info, name.c_str())));
  }

  Expected<std::unique_ptr<ScratchFile>> CreateScratch(Folder& folder) override {
    auto& posixFolder = static_cast<PosixFolder&>(folder);
    int descriptor = OpenUnnamed(posixFolder, O_RDWR, 0600);
    if (descriptor == -1) {
      std::string temporaryName;
      descriptor = OpenTemporary(posixFolder.Descriptor(), O_RDWR, 0600, temporaryName);
      if (descriptor == -1) {
        return Errno();
      }
      // Open, it needs no name.
      ::unlinkat(posixFolder.Descriptor(), temporaryName.c_str(), 0);
    }
    return std::unique_ptr<ScratchFile>(std::make_unique<PosixScratchFile>(descriptor));
  }

  std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName, Replacing replacing) override {
    if (!IsOneName(fromName) || !IsOneName(toName)) {
      return NotOneName();
    }
    if (replacing == Replacing::Yes) {
      return Check(
          ::renameat(DescriptorOf(from), fromName.c_str(), DescriptorOf(to), toName.c_str()));
    }
    return MoveWithoutReplacing(DescriptorOf(from), fromName.c_str(), DescriptorOf(to),
                                toName.c_str());
  }

  std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    return Check(::unlinkat(DescriptorOf(folder), name.c_str(), 0));
  }

  std::error_code Link(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName) override {
    if (!IsOneName(fromName) || !IsOneName(toName)) {
      return NotOneName();
    }
    return Check(
        ::linkat(DescriptorOf(from), fromName.c_str(), DescriptorOf(to), toName.c_str(), 0));
  }

  void BeginSync([[maybe_unused]] Folder& folder,
                 [[maybe_unused]] std::span<const std::filesystem::path> names) override {
#if defined(__linux__)
    for (const std::filesystem::path& name : names) {
      const int descriptor = Retrying([&] {
        return ::openat(DescriptorOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      });
      if (descriptor != -1) {
        ::sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
        ::close(descriptor);
      }
    }
#endif
  }

  // Starts the write-back of a batch of files, then waits for each: the
  // disk writes them together, and nothing else of the volume is waited for.
  std::error_code SyncFiles(Folder& folder, std::span<const std::filesystem::path> names) override {
    for (std::size_t first = 0; first < names.size(); first += kSyncBatch) {
      const auto batch = names.subspan(first, std::min(kSyncBatch, names.size() - first));
      if (const std::error_code error = SyncBatch(folder, batch)) {
        return error;
      }
    }
    return {};
  }

  std::error_code SyncFolder(Folder& folder) override {
    return Check(::fsync(DescriptorOf(folder)));
  }

  std::optional<std::uint32_t> ProcessUser() override {
    return ::geteuid();
  }

  Expected<std::unique_ptr<FolderLock>, LockRefusal> Lock(Folder& folder,
                                                          std::chrono::milliseconds wait) override {
    // A descriptor of its own: the lock lives exactly as long as it.
    const int descriptor = Retrying(
        [&] { return ::openat(DescriptorOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (descriptor == -1) {
      return LockRefusal{Errno(), {}};
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        return std::unique_ptr<FolderLock>(std::make_unique<PosixLock>(descriptor));
      }
      const int error = errno;
      if (error != EWOULDBLOCK && error != EINTR) {
        ::close(descriptor);
        // A file system without locks (some network shares) cannot keep two
        // processes apart; the work goes on as it did before there were locks.
        if (error == ENOLCK || error == EOPNOTSUPP || error == EBADF) {
          return std::unique_ptr<FolderLock>(std::make_unique<PosixLock>(-1));
        }
        return LockRefusal{std::error_code(error, std::generic_category()), {}};
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        struct stat info {};
        ::fstat(descriptor, &info);
        ::close(descriptor);
        return LockRefusal{FolderBusyError(), HolderOf(info.st_dev, info.st_ino)};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

 private:
  // An unnamed file in folder, or -1 where there is none to be had.
  int OpenUnnamed([[maybe_unused]] PosixFolder& folder, [[maybe_unused]] int access,
                  [[maybe_unused]] mode_t mode) {
#if defined(__linux__) && defined(O_TMPFILE)
    if (naming_ != NewFileNaming::Best || !CanNameUnnamedFiles() ||
        folder.UnnamedFiles() == Unnamed::No) {
      return -1;
    }
    const int descriptor = Retrying(
        [&] { return ::openat(folder.Descriptor(), ".", O_TMPFILE | access | O_CLOEXEC, mode); });
    if (descriptor == -1 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      folder.UnnamedFiles() = Unnamed::No;
    }
    return descriptor;
#else
    return -1;
#endif
  }

  // A file under a short hidden name of its own; what a killed run left
  // under such a name never stands in the way.
  static int OpenTemporary(int folder, int access, mode_t mode, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      name = NextTemporaryName();
      const int descriptor = Retrying([&] {
        return ::openat(folder, name.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        mode);
      });
      if (descriptor != -1 || errno != EEXIST) {
        return descriptor;
      }
    }
    return -1;
  }

  static std::error_code SyncBatch(Folder& folder, std::span<const std::filesystem::path> names) {
    std::vector<int> open;
    std::error_code error;
    for (const std::filesystem::path& name : names) {
      const int descriptor = Retrying([&] {
        return ::openat(DescriptorOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      });
      if (descriptor == -1) {
        error = Errno();
        break;
      }
      open.push_back(descriptor);
#if defined(__linux__)
      ::sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    }
    for (const int descriptor : open) {
      if (!error && ::fdatasync(descriptor) != 0) {
        error = Errno();
      }
      ::close(descriptor);
    }
    return error;
  }

  // The kind from the listing itself where the file system gives it, so a
  // large folder costs no look-up per file.
  static EntryKind KindOfEntry(int folder, const dirent& entry) {
    switch (entry.d_type) {
      case DT_REG:
        return entry.d_name[0] == '.' ? EntryKind::Hidden : EntryKind::OrdinaryFile;
      case DT_DIR:
        return entry.d_name[0] == '.' ? EntryKind::HiddenDirectory : EntryKind::Directory;
      case DT_LNK:
        return EntryKind::Link;
      case DT_UNKNOWN:
        break;
      default:
        return EntryKind::Other;
    }
    struct stat info {};
    if (::fstatat(folder, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return EntryKind::Other;
    }
    return KindOf(info.st_mode, entry.d_name);
  }

  NewFileNaming naming_;
};

}  // namespace

Disk& MachineDisk(NewFileNaming naming) {
  static PosixDisk best(NewFileNaming::Best);
  static PosixDisk hiddenName(NewFileNaming::HiddenName);
  return naming == NewFileNaming::Best ? best : hiddenName;
}

}  // namespace lapse::platform
