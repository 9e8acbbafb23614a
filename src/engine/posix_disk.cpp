// The machine's disk on POSIX systems: every file is reached relative to an
// open folder descriptor, and nothing is opened through a link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "engine/disk.h"

namespace lapse::engine {

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

FileStatus StatusOf(const struct stat& info, const char* name) {
  FileStatus status;
  status.kind = KindOf(info.st_mode, name);
  status.stamp = {static_cast<std::uint64_t>(info.st_size), Nanoseconds(info.st_mtim),
                  static_cast<std::uint64_t>(info.st_dev),
                  static_cast<std::uint64_t>(info.st_ino)};
  status.access = {static_cast<std::uint32_t>(info.st_mode & 07777), info.st_uid, info.st_gid};
  return status;
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

class PosixFolder final : public Folder {
 public:
  PosixFolder(std::filesystem::path path, int descriptor)
      : Folder(std::move(path)), descriptor_(descriptor) {
    struct stat info {};
    maker_ = {::geteuid(), ::getegid()};
    if (::fstat(descriptor_, &info) == 0 && (info.st_mode & S_ISGID) != 0) {
      maker_.group = info.st_gid;
    }
  }
  ~PosixFolder() override { ::close(descriptor_); }
  int Descriptor() const { return descriptor_; }
  const Maker& MakerOfFiles() const { return maker_; }

 private:
  int descriptor_;
  Maker maker_{};
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
  PosixSourceFile(int descriptor, const FileStatus& status)
      : file_(descriptor), status_(status) {}
  std::size_t Read(std::span<char> buffer) override { return file_.Read(buffer); }
  std::error_code Error() const override { return file_.Error(); }
  const FileStatus& Status() const override { return status_; }

 private:
  InputFile file_;
  FileStatus status_;
};

// Written under the hidden name ".NAME.part" and renamed once whole; a run
// killed before leaves only that hidden file, which no listing takes for a
// page and the next run of the same name overwrites.
class PosixNewFile final : public NewFile {
 public:
  PosixNewFile(int folder, std::string name, std::string partName, int descriptor,
               const Maker& maker, mode_t mode)
      : folder_(folder),
        name_(std::move(name)),
        partName_(std::move(partName)),
        file_(descriptor, {}),
        maker_(maker),
        mode_(mode) {}
  ~PosixNewFile() override {
    if (!committed_) {
      file_.Close();
      ::unlinkat(folder_, partName_.c_str(), 0);
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

  // Most copies are made by the owner of their page with its permissions
  // already, and need neither call.
  AccessKept TakeAccess(const FileAccess& access) override {
    const int descriptor = file_.Handle();
    AccessKept kept = AccessKept::All;
    bool ownerChanged = false;
    if (maker_.owner != access.owner || maker_.group != access.group) {
      ownerChanged = ::fchown(descriptor, access.owner, access.group) == 0;
      // Without the privilege the group may still be one of the user's.
      if (!ownerChanged) {
        ownerChanged = ::fchown(descriptor, static_cast<uid_t>(-1), access.group) == 0;
        if (!ownerChanged || maker_.owner != access.owner) {
          kept = AccessKept::PermissionsOnly;
        }
      }
    }
    // Changing the owner clears the set-user-ID bits, so the mode comes after.
    const auto mode = static_cast<mode_t>(access.mode & 07777);
    if (mode != mode_ || ownerChanged) {
      accessError_ = Check(::fchmod(descriptor, mode));
    }
    return kept;
  }

  std::error_code Commit() override {
    committed_ = true;
    std::error_code error = file_.Close() ? accessError_ : file_.Error();
    if (!error) {
      error = Check(::renameat(folder_, partName_.c_str(), folder_, name_.c_str()));
    }
    if (error) {
      ::unlinkat(folder_, partName_.c_str(), 0);
    }
    return error;
  }

 private:
  int folder_;
  std::string name_;
  std::string partName_;
  OutputFile file_;
  Maker maker_;
  mode_t mode_;  // what the file was made with
  std::error_code accessError_;
  bool committed_ = false;
};

class PosixAppendedFile final : public AppendedFile {
 public:
  PosixAppendedFile(int descriptor, std::uint64_t size) : file_(descriptor, {}), size_(size) {}
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
};

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

class PosixDisk final : public Disk {
 public:
  Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path) override {
    const int descriptor =
        Retrying([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (descriptor == -1) {
      return Errno();
    }
    return std::unique_ptr<Folder>(std::make_unique<PosixFolder>(path, descriptor));
  }

  Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                 const std::filesystem::path& name) override {
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

  std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name) override {
    return Check(::mkdirat(DescriptorOf(parent), name.c_str(), 0777));
  }

  std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) override {
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
    struct stat info {};
    if (::fstatat(DescriptorOf(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return Errno();
    }
    return StatusOf(info, name.c_str());
  }

  Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                   const std::filesystem::path& name) override {
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
    const int at = DescriptorOf(folder);
    // Appended piece by piece: GCC 12 warns wrongly on "." + name + ".part".
    std::string partName(1, '.');
    partName.append(name.native()).append(".part");
    const auto create = [&] {
      return Retrying([&] {
        return ::openat(at, partName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        static_cast<mode_t>(mode & 07777));
      });
    };
    int descriptor = create();
    // What a killed run left under the hidden name goes; O_EXCL never
    // follows a link standing there.
    if (descriptor == -1 && errno == EEXIST && ::unlinkat(at, partName.c_str(), 0) == 0) {
      descriptor = create();
    }
    if (descriptor == -1) {
      return Errno();
    }
    const auto& posixFolder = static_cast<PosixFolder&>(folder);
    return std::unique_ptr<NewFile>(std::make_unique<PosixNewFile>(
        at, name.native(), std::move(partName), descriptor, posixFolder.MakerOfFiles(),
        static_cast<mode_t>(mode & 07777 & ~Umask())));
  }

  Expected<std::unique_ptr<AppendedFile>> OpenAppending(
      Folder& folder, const std::filesystem::path& name) override {
    struct stat info {};
    std::error_code error;
    const int descriptor =
        OpenRegularFile(DescriptorOf(folder), name.c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0666, info, error);
    if (descriptor == kNoFile) {
      return Refusal(error);
    }
    return std::unique_ptr<AppendedFile>(std::make_unique<PosixAppendedFile>(
        descriptor, static_cast<std::uint64_t>(info.st_size)));
  }

  std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName, Replacing replacing) override {
    if (replacing == Replacing::Yes) {
      return Check(
          ::renameat(DescriptorOf(from), fromName.c_str(), DescriptorOf(to), toName.c_str()));
    }
    return MoveWithoutReplacing(DescriptorOf(from), fromName.c_str(), DescriptorOf(to),
                                toName.c_str());
  }

  std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) override {
    return Check(::unlinkat(DescriptorOf(folder), name.c_str(), 0));
  }

  std::error_code SyncFiles(Folder& folder,
                            std::span<const std::filesystem::path> names) override {
#if defined(__linux__)
    // One call for the whole file system is far cheaper than one per file.
    if (!names.empty()) {
      return Check(::syncfs(DescriptorOf(folder)));
    }
    return {};
#else
    for (const std::filesystem::path& name : names) {
      const int descriptor = Retrying([&] {
        return ::openat(DescriptorOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      });
      if (descriptor == -1) {
        return Errno();
      }
      const std::error_code error = Check(::fsync(descriptor));
      ::close(descriptor);
      if (error) {
        return error;
      }
    }
    return {};
#endif
  }

  std::error_code SyncFolder(Folder& folder) override {
    return Check(::fsync(DescriptorOf(folder)));
  }

 private:
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
};

}  // namespace

Disk& MachineDisk() {
  static PosixDisk disk;
  return disk;
}

}  // namespace lapse::engine
