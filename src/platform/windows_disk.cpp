// The machine's disk on Windows: files by their wide-character paths in the
// long form (\\?\), so that no path is too long; a reparse point (a symbolic
// link or a junction) never followed.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/disk.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/replace_repair.h"
#include "platform/temporary_names.h"

namespace lapse::platform {

namespace {

std::error_code Check(BOOL done) {
  return done ? std::error_code() : LastWindowsError();
}

std::int64_t Nanoseconds(LARGE_INTEGER time) {
  // From 100 ns ticks since 1601 to nanoseconds since 1970.
  constexpr std::int64_t kTicksTo1970 = 116444736000000000;
  return (time.QuadPart - kTicksTo1970) * 100;
}

std::int64_t Now() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  LARGE_INTEGER ticks{};
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = static_cast<LONG>(now.dwHighDateTime);
  return Nanoseconds(ticks);
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

// A save within this long of another may leave the time as it was: FAT
// keeps two seconds, exFAT ten milliseconds.
constexpr std::int64_t kTimeTick = 1'000'000'000;
constexpr std::int64_t kCoarseTicks = 10'000'000;

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
  status.statusChanged = Nanoseconds(basic.ChangeTime);
  status.stamp.device = info.dwVolumeSerialNumber;
  status.stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  status.access.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  status.links = info.nNumberOfLinks;
  status.fineStamp =
      status.stamp.modified % kCoarseTicks != 0 && Now() - status.stamp.modified >= kTimeTick;
  return {};
}

// The form of a path that no length limit applies to: absolute, with one
// separator between names, behind \\?\ (or \\?\UNC\ for a share).
std::wstring LongPath(const std::filesystem::path& path) {
  std::error_code error;
  std::wstring text = std::filesystem::absolute(path, error).native();
  if (error) {
    text = path.native();
  }
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (text.starts_with(L"\\\\?\\")) {
    return text;
  }
  const bool share = text.starts_with(L"\\\\");
  std::wstring single;
  for (std::size_t i = share ? 2 : 0; i < text.size(); ++i) {
    if (text[i] != L'\\' || single.empty() || single.back() != L'\\') {
      single += text[i];
    }
  }
  return (share ? L"\\\\?\\UNC\\" : L"\\\\?\\") + single;
}

class WindowsFolder final : public Folder {
 public:
  explicit WindowsFolder(const std::filesystem::path& path)
      : Folder(path), longPath_(LongPath(path)) {
    if (!longPath_.ends_with(L'\\')) {
      longPath_ += L'\\';
    }
  }
  // The long form of the path of name in the folder, for the system's calls.
  std::wstring At(const std::filesystem::path& name) const { return longPath_ + name.native(); }
  const std::wstring& Itself() const { return longPath_; }

 private:
  std::wstring longPath_;
};

const WindowsFolder& Win(const Folder& folder) {
  return static_cast<const WindowsFolder&>(folder);
}

std::filesystem::path SubfolderPath(const Folder& parent, const std::filesystem::path& name) {
  return parent.PathOf(name).native() + std::filesystem::path::preferred_separator;
}

// A handle that closes itself.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (IsOpen()) {
      CloseHandle(handle_);
    }
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE handle_;
};

// What stands under a path, the reparse point itself and not what it leads
// to; a folder needs backup semantics to be opened at all.
Expected<FileStatus> StatusOfPath(const std::wstring& path) {
  const Handle handle(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsOpen()) {
    return LastWindowsError();
  }
  FileStatus status;
  if (const std::error_code error = StatusOfHandle(handle.Get(), status)) {
    return error;
  }
  return status;
}

class WindowsSourceFile final : public SourceFile {
 public:
  WindowsSourceFile(HANDLE handle, const FileStatus& status) : file_(handle), status_(status) {}
  std::size_t Read(std::span<char> buffer) override { return file_.Read(buffer); }
  std::error_code Error() const override { return file_.Error(); }
  const FileStatus& Status() const override { return status_; }
  HANDLE Native() const { return file_.Handle(); }

 private:
  InputFile file_;
  FileStatus status_;
};

// A security descriptor that the system allocated, freed when it goes.
struct LocalDescriptor {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ~LocalDescriptor() { LocalFree(descriptor); }
};

// Gives the file open at copy the DACL of page, protected from inheritance
// as the page's is, so that the copy is no more open than the page while it
// waits in New; the replace keeps the page's own descriptor in any case.
std::error_code CopyDacl(HANDLE page, HANDLE copy) {
  PACL dacl = nullptr;
  LocalDescriptor descriptor;
  if (GetSecurityInfo(page, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, &descriptor.descriptor) != ERROR_SUCCESS) {
    return {};  // nothing the process may read: the file keeps what it inherits
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor.descriptor, &control, &revision);
  const SECURITY_INFORMATION which =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const DWORD error = SetSecurityInfo(copy, SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
  return error == ERROR_SUCCESS ? std::error_code()
                                : std::error_code(static_cast<int>(error), std::system_category());
}

// Written under a short hidden name of its own and renamed once whole.
class WindowsNewFile final : public NewFile {
 public:
  WindowsNewFile(std::wstring path, std::wstring temporaryPath, HANDLE handle)
      : path_(std::move(path)), temporaryPath_(std::move(temporaryPath)), file_(handle, {}) {}
  ~WindowsNewFile() override {
    if (!committed_) {
      file_.Close();
      DeleteFileW(temporaryPath_.c_str());
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

  // Windows has no owners to keep; the read-only attribute is set once the
  // file is written, since it would refuse the writes before.
  Expected<AccessKept> TakeAccess(SourceFile& page) override {
    readOnly_ = (page.Status().access.mode & 0222) == 0;
    if (const std::error_code error =
            CopyDacl(static_cast<WindowsSourceFile&>(page).Native(), file_.Handle())) {
      return error;
    }
    return AccessKept::All;
  }

  std::error_code TakeTimes(SourceFile& original) override {
    FILETIME created{};
    FILETIME accessed{};
    FILETIME written{};
    if (!GetFileTime(static_cast<WindowsSourceFile&>(original).Native(), &created, &accessed,
                     &written)) {
      return LastWindowsError();
    }
    return Check(SetFileTime(file_.Handle(), &created, &accessed, &written));
  }

  std::error_code Sync() override {
    if (file_.Error()) {
      return file_.Error();
    }
    return Check(FlushFileBuffers(file_.Handle()));
  }

  Expected<FileStamp> Stamp() override {
    FileStatus status;
    if (const std::error_code error = StatusOfHandle(file_.Handle(), status)) {
      return error;
    }
    return status.stamp;
  }

  std::error_code Commit() override {
    committed_ = true;
    std::error_code error = file_.Error();
    if (!error) {
      FILE_BASIC_INFO basic{};
      basic.FileAttributes = readOnly_ ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
      error =
          Check(SetFileInformationByHandle(file_.Handle(), FileBasicInfo, &basic, sizeof basic));
    }
    if (!file_.Close() && !error) {
      error = file_.Error();
    }
    if (!error) {
      error = Rename();
    }
    if (error) {
      SetFileAttributesW(temporaryPath_.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(temporaryPath_.c_str());
    }
    return error;
  }

 private:
  // A read-only copy of an earlier run stands in the way of its successor.
  std::error_code Rename() {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(temporaryPath_.c_str(), path_.c_str(), flags)) {
      return {};
    }
    const std::error_code error = LastWindowsError();
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    if (error != std::errc::permission_denied || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        !SetFileAttributesW(path_.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && attributes != INVALID_FILE_ATTRIBUTES
                 ? std::make_error_code(std::errc::is_a_directory)
                 : error;
    }
    return Check(MoveFileExW(temporaryPath_.c_str(), path_.c_str(), flags));
  }

  std::wstring path_;
  std::wstring temporaryPath_;
  OutputFile file_;
  bool readOnly_ = false;
  bool committed_ = false;
};

// Opened for writing anywhere, since cutting the file back needs that
// right; no other process may write it while it is open (the file is not
// shared for writing), so the position stays at the end: it is put there on
// opening and after each cut.
class WindowsAppendedFile final : public AppendedFile {
 public:
  WindowsAppendedFile(HANDLE handle, const FileStatus& status)
      : file_(handle, {}), size_(status.stamp.size), status_(status) {}
  const FileStatus& Status() const override { return status_; }
  bool Write(std::string_view bytes) override {
    size_ += bytes.size();
    return file_.Write(bytes);
  }
  std::error_code Error() const override { return file_.Error(); }
  std::uint64_t Size() const override { return size_; }
  std::error_code CutBack(std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(file_.Handle(), FileEndOfFileInfo, &end, sizeof end) ||
        !SetFilePointerEx(file_.Handle(), end.EndOfFile, nullptr, FILE_BEGIN)) {
      return LastWindowsError();
    }
    size_ = size;
    return {};
  }

 private:
  OutputFile file_;
  std::uint64_t size_;
  FileStatus status_;
};

class WindowsScratchFile final : public ScratchFile {
 public:
  explicit WindowsScratchFile(HANDLE handle) : handle_(handle) {}
  bool Write(std::string_view bytes) override {
    while (!error_ && !bytes.empty()) {
      DWORD written = 0;
      const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      if (!WriteFile(handle_.Get(), bytes.data(), size, &written, nullptr)) {
        error_ = LastWindowsError();
      }
      bytes.remove_prefix(written);
    }
    return !error_;
  }
  std::size_t Read(std::span<char> buffer) override {
    DWORD count = 0;
    const auto size = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    if (!error_ && !ReadFile(handle_.Get(), buffer.data(), size, &count, nullptr)) {
      error_ = LastWindowsError();
      return 0;
    }
    return count;
  }
  std::error_code Rewind() override {
    LARGE_INTEGER start{};
    return Check(SetFilePointerEx(handle_.Get(), start, nullptr, FILE_BEGIN));
  }
  std::error_code Error() const override { return error_; }

 private:
  Handle handle_;
  std::error_code error_;
};

// A mutex that the system owns by the folder's identity: it goes with the
// process that holds it, however that ends. record is what the holder tells
// the others (PublishHolder), kept while it holds the lock.
class WindowsLock final : public FolderLock {
 public:
  WindowsLock(HANDLE mutex, HANDLE record) : mutex_(mutex), record_(record) {}
  ~WindowsLock() override { ReleaseMutex(mutex_.Get()); }
  WindowsLock(const WindowsLock&) = delete;
  WindowsLock& operator=(const WindowsLock&) = delete;

 private:
  Handle mutex_;
  Handle record_;
};

// A mutex cannot tell who owns it: the holder of a folder's lock writes its
// process and since when that runs into memory named after the lock, which
// goes with the holder's handle however the holder ends. Global where the
// system allows it, as the mutex.
struct HolderRecord {
  std::uint64_t process;
  std::uint64_t started;  // a FILETIME: 100 ns steps since 1601
};
constexpr const wchar_t* kLockScopes[] = {L"Global\\", L"Local\\"};
// Mutexes and memory share their names: the record's differs from the lock's.
constexpr const wchar_t* kHolder = L"-holder";

// The handle of the record, nullptr where none could be made: the lock holds
// without it, and the others cannot say who holds it.
HANDLE PublishHolder(const std::wstring& name) {
  for (const wchar_t* scope : kLockScopes) {
    Handle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(HolderRecord), (scope + name).c_str()));
    if (!mapping.IsOpen()) {
      continue;
    }
    void* view = MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, sizeof(HolderRecord));
    if (view == nullptr) {
      return nullptr;
    }
    HolderRecord record{GetCurrentProcessId(), 0};
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
      record.started = (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
    }
    std::memcpy(view, &record, sizeof record);
    UnmapViewOfFile(view);
    return mapping.Release();
  }
  return nullptr;
}

LockHolder HolderOf(const std::wstring& name) {
  LockHolder holder;
  for (const wchar_t* scope : kLockScopes) {
    const Handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, (scope + name).c_str()));
    if (!mapping.IsOpen()) {
      continue;
    }
    const void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, sizeof(HolderRecord));
    if (view == nullptr) {
      return holder;
    }
    HolderRecord record{};
    std::memcpy(&record, view, sizeof record);
    UnmapViewOfFile(view);
    // Zeros: the holder has not written it yet.
    if (record.process != 0) {
      holder.process = record.process;
    }
    constexpr std::uint64_t kFrom1601To1970 = 116444736000000000ULL;
    if (record.started > kFrom1601To1970) {
      using Steps = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
      holder.since = std::chrono::system_clock::time_point(
          std::chrono::duration_cast<std::chrono::system_clock::duration>(
              Steps(static_cast<std::int64_t>(record.started - kFrom1601To1970))));
    }
    return holder;
  }
  return holder;
}

// The process's user as a SID string ("S-1-5-21-..."); empty when it cannot
// be told.
std::wstring UserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return {};
  }
  const Handle owned(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  wchar_t* text = nullptr;
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return {};
  }
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// Only its owner may read a file made with this: the log and the record
// name every page and hold what the pages removed.
class OwnerOnly {
 public:
  OwnerOnly() {
    const std::wstring user = UserSid();
    if (user.empty()) {
      return;
    }
    const std::wstring text = L"D:P(A;;FA;;;" + user + L")";
    ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                         &descriptor_.descriptor, nullptr);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_.descriptor;
  }
  SECURITY_ATTRIBUTES* Get() { return descriptor_.descriptor != nullptr ? &attributes_ : nullptr; }

 private:
  LocalDescriptor descriptor_;
  SECURITY_ATTRIBUTES attributes_{};
};

std::error_code NotOneName() {
  return std::make_error_code(std::errc::invalid_argument);
}

std::error_code MoveTo(const std::wstring& source, const std::wstring& target,
                       Replacing replacing) {
  const DWORD flags =
      MOVEFILE_WRITE_THROUGH | (replacing == Replacing::Yes ? MOVEFILE_REPLACE_EXISTING : DWORD{0});
  return Check(MoveFileExW(source.c_str(), target.c_str(), flags));
}

// A name in folder that nothing stands under, of the kind a run leaves alone
// in a site's folders and clears in New.
Expected<std::wstring> FreeTemporaryPath(const WindowsFolder& folder) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring path = folder.At(std::filesystem::path(NextTemporaryName()));
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        return path;
      }
      return LastWindowsError();
    }
  }
  return std::make_error_code(std::errc::file_exists);
}

// A rename that fails for a moment while another program (a virus scanner,
// the indexer) looks at a file that has just been renamed is tried again.
bool RenameSoon(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION && GetLastError() != ERROR_ACCESS_DENIED) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void RemoveSoon(const std::wstring& path) {
  for (int attempt = 0; attempt < 10 && !DeleteFileW(path.c_str()); ++attempt) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

UnderPageName WhatIsUnder(const std::wstring& target, const FileStatus& copy) {
  const Expected<FileStatus> now = StatusOfPath(target);
  if (!now) {
    return now.error() == std::errc::no_such_file_or_directory ? UnderPageName::Nothing
                                                               : UnderPageName::Other;
  }
  return now->stamp.inode == copy.stamp.inode && now->stamp.device == copy.stamp.device
             ? UnderPageName::TheCopy
             : UnderPageName::Other;
}

// Puts the file at source in the place of the page name in the folder to,
// with ReplaceFileW told to move the page to a backup name of its own first:
// a replace that stops halfway then leaves the page where it can be put back
// (replace_repair.h). A plain move, which would drop the page's security,
// is made only where no page is left to replace.
std::error_code PutInPlace(const std::wstring& source, const WindowsFolder& to,
                           const std::filesystem::path& name) {
  const std::wstring target = to.At(name);
  const Expected<FileStatus> copy = StatusOfPath(source);
  const Expected<FileStatus> page = StatusOfPath(target);
  if (!copy) {
    return copy.error();
  }
  if (!page && page.error() == std::errc::no_such_file_or_directory) {
    return MoveTo(source, target, Replacing::Yes);
  }
  const Expected<std::wstring> backup = FreeTemporaryPath(to);
  if (!backup) {
    return backup.error();
  }
  if (ReplaceFileW(target.c_str(), source.c_str(), backup->c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    RemoveSoon(*backup);
    return {};
  }
  FailedReplace failed;
  failed.error = LastWindowsError();
  failed.underPageName = WhatIsUnder(target, *copy);
  failed.backupThere = GetFileAttributesW(backup->c_str()) != INVALID_FILE_ATTRIBUTES;
  failed.sameVolume = !page || page->stamp.device == copy->stamp.device;
  const ReplaceRepair repair = AfterFailedReplace(failed);
  switch (repair.step) {
    case ReplaceStep::Done:
      RemoveSoon(*backup);
      return {};
    case ReplaceStep::PutPageBack:
      return RenameSoon(*backup, target) ? repair.error : ReplacedFileAsideError();
    case ReplaceStep::MoveCopy:
      return MoveTo(source, target, Replacing::Yes);
    case ReplaceStep::LeaveAsIs:
      break;
  }
  return repair.error;
}

class WindowsDisk final : public Disk {
 public:
  Expected<std::unique_ptr<Folder>> OpenFolder(const std::filesystem::path& path,
                                               FinalLink final = FinalLink::Follow) override {
    // Asked of the folder's own name, without the separator at its end.
    std::wstring named = LongPath(path);
    while (named.size() > 1 && (named.back() == L'\\' || named.back() == L'/') &&
           named[named.size() - 2] != L':') {
      named.pop_back();
    }
    const DWORD attributes = GetFileAttributesW(named.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return LastWindowsError();
    }
    if (final == FinalLink::Refuse && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return IsALinkError();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return std::make_error_code(std::errc::not_a_directory);
    }
    return std::unique_ptr<Folder>(std::make_unique<WindowsFolder>(path));
  }

  Expected<std::unique_ptr<Folder>> OpenSubfolder(Folder& parent,
                                                  const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    const DWORD attributes = GetFileAttributesW(Win(parent).At(name).c_str());
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

  // Windows folders have no permission bits: the folder takes what its
  // parent gives it.
  std::error_code MakeFolder(Folder& parent, const std::filesystem::path& name, const FileAccess&,
                             FolderOwner = FolderOwner::Process) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    return Check(CreateDirectoryW(Win(parent).At(name).c_str(), nullptr));
  }

  std::error_code RemoveEmptyFolder(Folder& parent, const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    return Check(RemoveDirectoryW(Win(parent).At(name).c_str()));
  }

  std::error_code List(Folder& folder, std::vector<Entry>& entries) override {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = Win(folder).At(L"*");
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
    if (!IsOneName(name)) {
      return NotOneName();
    }
    return StatusOfPath(Win(folder).At(name));
  }

  Expected<FileStatus> FolderStatus(Folder& folder) override {
    return StatusOfPath(Win(folder).Itself());
  }

  Expected<std::unique_ptr<SourceFile>> OpenSource(Folder& folder,
                                                   const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    const std::wstring path = Win(folder).At(name);
    Handle handle(CreateFileW(
        path.c_str(), GENERIC_READ | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
        nullptr));
    if (!handle.IsOpen()) {
      return LastWindowsError();
    }
    FileStatus status;
    if (const std::error_code error = StatusOfHandle(handle.Get(), status)) {
      return error;
    }
    switch (status.kind) {
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
    return std::unique_ptr<SourceFile>(
        std::make_unique<WindowsSourceFile>(handle.Release(), status));
  }

  // Windows has no permission bits to make a file with: it is its owner's
  // alone until TakeAccess() gives it its page's DACL.
  Expected<std::unique_ptr<NewFile>> Create(Folder& folder, const std::filesystem::path& name,
                                            std::uint32_t) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    OwnerOnly ownerOnly;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::wstring temporaryPath = Win(folder).At(std::filesystem::path(NextTemporaryName()));
      const HANDLE handle =
          CreateFileW(temporaryPath.c_str(), GENERIC_WRITE | WRITE_DAC | READ_CONTROL,
                      FILE_SHARE_READ | FILE_SHARE_DELETE, ownerOnly.Get(), CREATE_NEW,
                      FILE_ATTRIBUTE_HIDDEN, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        return std::unique_ptr<NewFile>(
            std::make_unique<WindowsNewFile>(Win(folder).At(name), temporaryPath, handle));
      }
      if (GetLastError() != ERROR_FILE_EXISTS) {
        break;
      }
    }
    return LastWindowsError();
  }

  Expected<std::unique_ptr<AppendedFile>> OpenAppending(Folder& folder,
                                                        const std::filesystem::path& name,
                                                        std::uint32_t mode) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    const std::wstring path = Win(folder).At(name);
    if (Expected<FileStatus> status = StatusOfPath(path); status) {
      if (status->kind == EntryKind::Link) {
        return IsALinkError();
      }
      if (status->kind == EntryKind::Directory || status->kind == EntryKind::HiddenDirectory) {
        return std::make_error_code(std::errc::is_a_directory);
      }
    }
    OwnerOnly ownerOnly;
    const bool private_ = (mode & 0077) == 0;
    const HANDLE handle = CreateFileW(
        path.c_str(),
        FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_DELETE, private_ ? ownerOnly.Get() : nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return LastWindowsError();
    }
    FileStatus status;
    const LARGE_INTEGER none{};
    std::error_code error = StatusOfHandle(handle, status);
    if (!error) {
      error = Check(SetFilePointerEx(handle, none, nullptr, FILE_END));
    }
    if (error) {
      CloseHandle(handle);
      return error;
    }
    return std::unique_ptr<AppendedFile>(std::make_unique<WindowsAppendedFile>(handle, status));
  }

  Expected<std::unique_ptr<ScratchFile>> CreateScratch(Folder& folder) override {
    OwnerOnly ownerOnly;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::wstring path = Win(folder).At(std::filesystem::path(NextTemporaryName()));
      const HANDLE handle = CreateFileW(
          path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, ownerOnly.Get(), CREATE_NEW,
          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        return std::unique_ptr<ScratchFile>(std::make_unique<WindowsScratchFile>(handle));
      }
      if (GetLastError() != ERROR_FILE_EXISTS) {
        break;
      }
    }
    return LastWindowsError();
  }

  // A page replaced keeps its security, attributes and creation time: the
  // copy takes them over, as ReplaceFileW is made for. Windows refuses to
  // replace a read-only file: such a page stays as it is. A folder or a
  // link under the name is no file to replace: the move meets it as it is.
  std::error_code Move(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName, Replacing replacing) override {
    if (!IsOneName(fromName) || !IsOneName(toName)) {
      return NotOneName();
    }
    const std::wstring source = Win(from).At(fromName);
    const std::wstring target = Win(to).At(toName);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (replacing == Replacing::Yes && attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return std::make_error_code(std::errc::permission_denied);
      }
      if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
        return PutInPlace(source, Win(to), toName);
      }
    }
    return MoveTo(source, target, replacing);
  }

  std::error_code RemoveFile(Folder& folder, const std::filesystem::path& name) override {
    if (!IsOneName(name)) {
      return NotOneName();
    }
    return Check(DeleteFileW(Win(folder).At(name).c_str()));
  }

  std::error_code Link(Folder& from, const std::filesystem::path& fromName, Folder& to,
                       const std::filesystem::path& toName) override {
    if (!IsOneName(fromName) || !IsOneName(toName)) {
      return NotOneName();
    }
    const std::wstring source = Win(from).At(fromName);
    const DWORD attributes = GetFileAttributesW(source.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return IsALinkError();
    }
    if (CreateHardLinkW(Win(to).At(toName).c_str(), source.c_str(), nullptr)) {
      return {};
    }
    const DWORD error = GetLastError();
    // Two volumes: no name of one can stand in a folder of the other.
    if (error == ERROR_NOT_SAME_DEVICE) {
      return std::make_error_code(std::errc::cross_device_link);
    }
    SetLastError(error);
    return LastWindowsError();
  }

  // Windows has no way to start a file's write-back without waiting for it.
  void BeginSync(Folder&, std::span<const std::filesystem::path>) override {}

  // A read-only copy is left as it is: its page is read-only too, and a
  // replace cannot put anything in its place.
  std::error_code SyncFiles(Folder& folder, std::span<const std::filesystem::path> names) override {
    for (const std::filesystem::path& name : names) {
      const std::wstring path = Win(folder).At(name);
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        continue;
      }
      const Handle handle(CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!handle.IsOpen()) {
        return LastWindowsError();
      }
      if (const std::error_code error = Check(FlushFileBuffers(handle.Get()))) {
        return error;
      }
    }
    return {};
  }

  // Every move is written through to the disk already.
  std::error_code SyncFolder(Folder&) override { return {}; }

  // Windows files have owners, but not of the kind FileAccess tells.
  std::optional<std::uint32_t> ProcessUser() override { return std::nullopt; }

  Expected<std::unique_ptr<FolderLock>, LockRefusal> Lock(Folder& folder,
                                                          std::chrono::milliseconds wait) override {
    const Expected<FileStatus> status = StatusOfPath(Win(folder).Itself());
    if (!status) {
      return LockRefusal{status.error(), {}};
    }
    wchar_t name[96];
    std::swprintf(name, sizeof name / sizeof name[0], L"Lapse-%llx-%llx",
                  static_cast<unsigned long long>(status->stamp.device),
                  static_cast<unsigned long long>(status->stamp.inode));
    // Shared by every session of the machine where the system allows it.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, (std::wstring(L"Global\\") + name).c_str());
    if (mutex == nullptr) {
      mutex = CreateMutexW(nullptr, FALSE, (std::wstring(L"Local\\") + name).c_str());
    }
    if (mutex == nullptr) {
      return LockRefusal{LastWindowsError(), {}};
    }
    const DWORD waited = WaitForSingleObject(mutex, static_cast<DWORD>(wait.count()));
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
      return std::unique_ptr<FolderLock>(
          std::make_unique<WindowsLock>(mutex, PublishHolder(std::wstring(name) + kHolder)));
    }
    CloseHandle(mutex);
    return LockRefusal{FolderBusyError(), HolderOf(std::wstring(name) + kHolder)};
  }
};

}  // namespace

Disk& MachineDisk(NewFileNaming) {
  static WindowsDisk disk;
  return disk;
}

}  // namespace lapse::platform
