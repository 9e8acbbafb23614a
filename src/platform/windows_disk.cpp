// The machine's disk on Windows: files by their wide-character paths, a
// reparse point (a symbolic link or a junction) never followed.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/disk.h"

namespace lapse::engine {

namespace {

// A missing file and a taken name as on every other system, so that the
// callers can tell them apart from other failures.
std::error_code LastWindowsError() {
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::make_error_code(std::errc::file_exists);
    default:
      return std::error_code(static_cast<int>(error), std::system_category());
  }
}

std::error_code Check(BOOL done) {
  return done ? std::error_code() : LastWindowsError();
}

std::int64_t Nanoseconds(LARGE_INTEGER time) {
  // From 100 ns ticks since 1601 to nanoseconds since 1970.
  constexpr std::int64_t kTicksTo1970 = 116444736000000000;
  return (time.QuadPart - kTicksTo1970) * 100;
}

EntryKind KindOf(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return EntryKind::Link;
  }
  const bool hidden = (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return hidden ? EntryKind::HiddenDirectory : EntryKind::Directory;
  }
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    return EntryKind::Other;
  }
  return hidden ? EntryKind::Hidden : EntryKind::OrdinaryFile;
}

// The status of an open handle: identity and times from the file system.
std::error_code StatusOfHandle(HANDLE handle, FileStatus& status) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandle(handle, &info) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    return LastWindowsError();
  }
  status.kind = KindOf(info.dwFileAttributes);
  status.stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  status.stamp.modified = Nanoseconds(basic.LastWriteTime);
  status.stamp.device = info.dwVolumeSerialNumber;
  status.stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  status.access.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  return {};
}

Expected<FileStatus> StatusOfPath(const std::filesystem::path& path) {
  // The reparse point itself, not what it leads to; a folder needs backup
  // semantics to be opened at all.
  const HANDLE handle = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return LastWindowsError();
  }
  FileStatus status;
  const std::error_code error = StatusOfHandle(handle, status);
  CloseHandle(handle);
  if (error) {
    return error;
  }
  return status;
}

class WindowsFolder final : public Folder {
 public:
  explicit WindowsFolder(std::filesystem::path path) : Folder(std::move(path)) {}
};

std::filesystem::path SubfolderPath(const Folder& parent, const std::filesystem::path& name) {
  return parent.PathOf(name).native() + std::filesystem::path::preferred_separator;
}

class WindowsSourceFile final : public SourceFile {
 public:
  WindowsSourceFile(const std::filesystem::path& path, const FileStatus& status)
      : file_(path), status_(status) {}
  bool IsOpen() const { return file_.IsOpen(); }
  std::size_t Read(std::span<char> buffer) override { return file_.Read(buffer); }
  std::error_code Error() const override { return file_.Error(); }
  const FileStatus& Status() const override { return status_; }

 private:
  InputFile file_;
  FileStatus status_;
};

// Written under the hidden name ".NAME.part" and renamed once whole.
class WindowsNewFile final : public NewFile {
 public:
  WindowsNewFile(std::filesystem::path path, std::filesystem::path partPath)
      : path_(std::move(path)),
        partPath_(std::move(partPath)),
        file_(partPath_, OpenMode::Truncate) {
    // Hidden, a partial copy left by a killed process is no ordinary file
    // of its folder, so that nothing takes it for a whole one.
    SetHidden(partPath_, Hidden::Yes);
  }
  ~WindowsNewFile() override {
    if (!committed_) {
      file_.Close();
      DeleteFileW(partPath_.c_str());
    }
  }
  bool IsOpen() const { return file_.IsOpen(); }

  bool Write(std::string_view bytes) override {
    Count(bytes.size());
    return file_.Write(bytes);
  }
  std::error_code Error() const override { return file_.Error(); }

  // Windows has no owners to keep; the read-only attribute is set once the
  // file is closed, since it would refuse the writes before.
  AccessKept TakeAccess(const FileAccess& access) override {
    readOnly_ = (access.mode & 0222) == 0;
    return AccessKept::All;
  }

  std::error_code Commit() override {
    committed_ = true;
    std::error_code error = file_.Close() ? std::error_code() : file_.Error();
    if (!error) {
      error = Check(SetFileAttributesW(
          partPath_.c_str(), readOnly_ ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL));
    }
    if (!error) {
      error = Rename();
    }
    if (error) {
      SetFileAttributesW(partPath_.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(partPath_.c_str());
    }
    return error;
  }

 private:
  // A read-only copy of an earlier run stands in the way of its successor.
  std::error_code Rename() {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(partPath_.c_str(), path_.c_str(), flags)) {
      return {};
    }
    const std::error_code error = LastWindowsError();
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (error.value() != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        !SetFileAttributesW(path_.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
      return error;
    }
    return Check(MoveFileExW(partPath_.c_str(), path_.c_str(), flags));
  }

  std::filesystem::path path_;
  std::filesystem::path partPath_;
  OutputFile file_;
  bool readOnly_ = false;
  bool committed_ = false;
};

class WindowsAppendedFile final : public AppendedFile {
 public:
  explicit WindowsAppendedFile(const std::filesystem::path& path) : file_(path, OpenMode::Append) {
    if (file_.IsOpen()) {
      const __int64 length = _filelengthi64(_fileno(file_.Handle()));
      size_ = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    }
  }
  bool IsOpen() const { return file_.IsOpen(); }
  bool Write(std::string_view bytes) override {
    size_ += bytes.size();
    return file_.Write(bytes);
  }
  std::error_code Error() const override { return file_.Error(); }
  std::uint64_t Size() const override { return size_; }
  std::error_code CutBack(std::uint64_t size) override {
    const errno_t error = _chsize_s(_fileno(file_.Handle()), static_cast<__int64>(size));
    if (error != 0) {
      return std::error_code(error, std::generic_category());
    }
    size_ = size;
    return {};
  }

 private:
  OutputFile file_;
  std::uint64_t size_ = 0;
};

class WindowsDisk final : public Disk {
 public:
  Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path) override {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return LastWindowsError();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return std::make_error_code(std::errc::not_a_directory);
    }
    return std::unique_ptr<Folder>(std::make_unique<WindowsFolder>(path));
  }

  Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                  const std::filesystem::path& name) override {
    const DWORD attributes = GetFileAttributesW(parent.PathOf(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return LastWindowsError();
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return IsALinkError();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return std::make_error_code(std::errc::not_a_directory);
    }
    return std::unique_ptr<Folder>(std::make_unique<WindowsFolder>(SubfolderPath(parent, name)));
  }

  std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name) override {
    return Check(CreateDirectoryW(parent.PathOf(name).c_str(), nullptr));
  }

  std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) override {
    return Check(RemoveDirectoryW(parent.PathOf(name).c_str()));
  }

  std::error_code List(Folder& folder, std::vector<Entry>& entries) override {
    WIN32_FIND_DATAW found{};
    const std::filesystem::path pattern = folder.PathOf(L"*");
    const HANDLE search =
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                         FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
      return LastWindowsError();
    }
    std::error_code error;
    do {
      const std::wstring_view name = found.cFileName;
      if (name != L"." && name != L"..") {
        entries.push_back({std::filesystem::path(name), KindOf(found.dwFileAttributes)});
      }
    } while (FindNextFileW(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
      error = LastWindowsError();
    }
    FindClose(search);
    return error;
  }

  Expected<FileStatus> Status(Folder& folder, const std::filesystem::path& name) override {
    return StatusOfPath(folder.PathOf(name));
  }

  Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                   const std::filesystem::path& name) override {
    const std::filesystem::path path = folder.PathOf(name);
    Expected<FileStatus> status = StatusOfPath(path);
    if (!status) {
      return status.error();
    }
    switch (status->kind) {
      case EntryKind::Link:
        return IsALinkError();
      case EntryKind::Directory:
      case EntryKind::HiddenDirectory:
        return std::make_error_code(std::errc::is_a_directory);
      case EntryKind::Other:
        return NotAnOrdinaryFileError();
      case EntryKind::OrdinaryFile:
      case EntryKind::Hidden:
        break;
    }
    auto source = std::make_unique<WindowsSourceFile>(path, *status);
    if (!source->IsOpen()) {
      return source->Error();
    }
    return std::unique_ptr<SourceFile>(std::move(source));
  }

  Expected<std::unique_ptr<NewFile>> Create(Folder& folder, const std::filesystem::path& name,
                                            std::uint32_t) override {
    const std::filesystem::path partPath =
        folder.PathOf(std::filesystem::path(L"." + name.native() + L".part"));
    auto file = std::make_unique<WindowsNewFile>(folder.PathOf(name), partPath);
    if (!file->IsOpen()) {
      return file->Error();
    }
    return std::unique_ptr<NewFile>(std::move(file));
  }

  Expected<std::unique_ptr<AppendedFile>> OpenAppending(
      Folder& folder, const std::filesystem::path& name) override {
    const std::filesystem::path path = folder.PathOf(name);
    if (Expected<FileStatus> status = StatusOfPath(path); status) {
      if (status->kind == EntryKind::Link) {
        return IsALinkError();
      }
      if (status->kind == EntryKind::Directory || status->kind == EntryKind::HiddenDirectory) {
        return std::make_error_code(std::errc::is_a_directory);
      }
    }
    auto file = std::make_unique<WindowsAppendedFile>(path);
    if (!file->IsOpen()) {
      return file->Error();
    }
    return std::unique_ptr<AppendedFile>(std::move(file));
  }

  std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName, Replacing replacing) override {
    const std::filesystem::path target = to.PathOf(toName);
    // Windows refuses to replace a read-only file (wine does not): such a
    // page stays as it is, on every Windows alike.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (replacing == Replacing::Yes && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return std::error_code(ERROR_ACCESS_DENIED, std::system_category());
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH |
                        (replacing == Replacing::Yes ? MOVEFILE_REPLACE_EXISTING : DWORD{0});
    return Check(MoveFileExW(from.PathOf(fromName).c_str(), target.c_str(), flags));
  }

  std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) override {
    return Check(DeleteFileW(folder.PathOf(name).c_str()));
  }

  // A read-only copy is left as it is: its source is read-only too, and a
  // replace cannot put anything in its place.
  std::error_code SyncFiles(Folder& folder, std::span<const std::filesystem::path> names) override {
    for (const std::filesystem::path& name : names) {
      const std::filesystem::path path = folder.PathOf(name);
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        continue;
      }
      const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle == INVALID_HANDLE_VALUE) {
        return LastWindowsError();
      }
      const std::error_code error = Check(FlushFileBuffers(handle));
      CloseHandle(handle);
      if (error) {
        return error;
      }
    }
    return {};
  }

  // Every move is written through to the disk already.
  std::error_code SyncFolder(Folder&) override { return {}; }
};

}  // namespace

Disk& MachineDisk() {
  static WindowsDisk disk;
  return disk;
}

}  // namespace lapse::engine
