#include "platform/file_handle.h"

#include <algorithm>
#include <array>
#include <cerrno>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

#include "platform/errors.h"

namespace lapse::platform {

namespace {

#if defined(_WIN32)

HANDLE AsHandle(FileHandle file) {
  return static_cast<HANDLE>(file);
}

FileHandle OpenForReading(const std::filesystem::path& path, std::error_code& error) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastWindowsError();
    // Windows refuses to open a folder with "access denied"; the user is
    // told what stands there instead, as on other systems.
    std::error_code ignored;
    if (error == std::errc::permission_denied && std::filesystem::is_directory(path, ignored)) {
      error = std::make_error_code(std::errc::is_a_directory);
    }
    return kNoFile;
  }
  return file;
}

FileHandle OpenForWriting(const std::filesystem::path& path, OpenMode mode) {
  const DWORD access = mode == OpenMode::Append ? FILE_APPEND_DATA : GENERIC_WRITE;
  const DWORD disposition = mode == OpenMode::Append ? OPEN_ALWAYS : CREATE_ALWAYS;
  const HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kNoFile : file;
}

// The largest piece one call moves.
constexpr std::size_t kLargestCall = std::size_t{1} << 30;

std::size_t ReadSome(FileHandle file, std::span<char> buffer, std::error_code& error) {
  DWORD count = 0;
  const auto size = static_cast<DWORD>(std::min(buffer.size(), kLargestCall));
  if (!ReadFile(AsHandle(file), buffer.data(), size, &count, nullptr)) {
    error = LastWindowsError();
    return 0;
  }
  return count;
}

bool WriteAll(FileHandle file, std::string_view bytes, std::error_code& error) {
  while (!bytes.empty()) {
    DWORD count = 0;
    const auto size = static_cast<DWORD>(std::min(bytes.size(), kLargestCall));
    if (!WriteFile(AsHandle(file), bytes.data(), size, &count, nullptr)) {
      error = LastWindowsError();
      return false;
    }
    bytes.remove_prefix(count);
  }
  return true;
}

bool WriteAllPieces(FileHandle file, std::span<const std::string_view> pieces,
                    std::error_code& error) {
  return std::all_of(pieces.begin(), pieces.end(),
                     [&](std::string_view piece) { return WriteAll(file, piece, error); });
}

bool CloseFile(FileHandle file, std::error_code& error) {
  if (!CloseHandle(AsHandle(file))) {
    error = LastWindowsError();
    return false;
  }
  return true;
}

#else

FileHandle OpenForReading(const std::filesystem::path& path, std::error_code& error) {
  struct stat ignored {};
  return OpenRegularFile(AT_FDCWD, path.c_str(), O_RDONLY, 0, ignored, error);
}

FileHandle OpenForWriting(const std::filesystem::path& path, OpenMode mode) {
  const int flags =
      O_WRONLY | O_CREAT | O_CLOEXEC | (mode == OpenMode::Append ? O_APPEND : O_TRUNC);
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), flags, 0666);
  } while (descriptor == -1 && errno == EINTR);
  return descriptor;
}

std::size_t ReadSome(FileHandle file, std::span<char> buffer, std::error_code& error) {
  ssize_t count;
  do {
    count = ::read(file, buffer.data(), buffer.size());
  } while (count == -1 && errno == EINTR);
  if (count < 0) {
    error = LastError();
    return 0;
  }
  return static_cast<std::size_t>(count);
}

// Writes the pieces in as few calls as the system takes, resuming within a
// piece after a short write.
bool WriteAllPieces(FileHandle file, std::span<const std::string_view> pieces,
                    std::error_code& error) {
  std::array<iovec, 64> vectors{};
  std::size_t next = 0;     // the first piece not wholly written
  std::size_t written = 0;  // bytes of that piece already written
  for (;;) {
    // Empty pieces, and a call with nothing to write, need no system call:
    // a write of no bytes returns 0, which would read as a failure.
    while (next < pieces.size() && pieces[next].size() == written) {
      ++next;
      written = 0;
    }
    if (next == pieces.size()) {
      return true;
    }
    std::size_t count = 0;
    for (std::size_t i = next; i < pieces.size() && count < vectors.size(); ++i, ++count) {
      const std::string_view piece = pieces[i].substr(i == next ? written : 0);
      vectors[count] = iovec{const_cast<char*>(piece.data()), piece.size()};
    }
    const ssize_t result = ::writev(file, vectors.data(), static_cast<int>(count));
    if (result < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = LastError();
      return false;
    }
    if (result == 0) {
      error = std::make_error_code(std::errc::io_error);
      return false;
    }
    auto left = static_cast<std::size_t>(result);
    while (next < pieces.size() && left >= pieces[next].size() - written) {
      left -= pieces[next].size() - written;
      written = 0;
      ++next;
    }
    written += left;
  }
}

bool WriteAll(FileHandle file, std::string_view bytes, std::error_code& error) {
  const std::string_view pieces[] = {bytes};
  return WriteAllPieces(file, pieces, error);
}

bool CloseFile(FileHandle file, std::error_code& error) {
  // A close interrupted by a signal has closed the descriptor all the same.
  if (::close(file) != 0 && errno != EINTR) {
    error = LastError();
    return false;
  }
  return true;
}

#endif

}  // namespace

#if defined(_WIN32)

std::error_code LastWindowsError() {
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::make_error_code(std::errc::file_exists);
    case ERROR_ACCESS_DENIED:
      return std::make_error_code(std::errc::permission_denied);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_NOT_SAME_DEVICE:
      return std::make_error_code(std::errc::cross_device_link);
    case ERROR_FILENAME_EXCED_RANGE:
      return std::make_error_code(std::errc::filename_too_long);
    default:
      return std::error_code(static_cast<int>(error), std::system_category());
  }
}

#else

// A pipe or a device put in a listed file's place would block the run or
// never end. O_NONBLOCK keeps the open itself from waiting on a pipe; reads
// and writes of a regular file never wait on it.
FileHandle OpenRegularFile(int folder, const char* name, int flags, mode_t mode, struct stat& info,
                           std::error_code& error) {
  int descriptor;
  do {
    descriptor = ::openat(folder, name, flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (descriptor == -1 && errno == EINTR);
  if (descriptor == -1) {
    error = LastError();
    return kNoFile;
  }
  if (::fstat(descriptor, &info) != 0) {
    error = LastError();
  } else if (S_ISDIR(info.st_mode)) {
    error = std::make_error_code(std::errc::is_a_directory);
  } else if (!S_ISREG(info.st_mode)) {
    error = NotAnOrdinaryFileError();
  }
  if (error) {
    ::close(descriptor);
    return kNoFile;
  }
  return descriptor;
}

#endif

InputFile::InputFile(const std::filesystem::path& path) {
  file_ = OpenForReading(path, error_);
}

InputFile::~InputFile() {
  if (file_ != kNoFile) {
    std::error_code ignored;
    CloseFile(file_, ignored);
  }
}

std::size_t InputFile::Read(std::span<char> buffer) {
  if (file_ == kNoFile || error_) {
    return 0;
  }
  return ReadSome(file_, buffer, error_);
}

OutputFile::OutputFile(const std::filesystem::path& path, OpenMode mode)
    : file_(OpenForWriting(path, mode)) {
  if (file_ == kNoFile) {
#if defined(_WIN32)
    error_ = LastWindowsError();
#else
    error_ = LastError();
#endif
  }
}

OutputFile::OutputFile(FileHandle file, std::error_code openError)
    : file_(file), error_(openError) {}

OutputFile::~OutputFile() {
  Close();
}

bool OutputFile::Write(std::string_view bytes) {
  if (file_ == kNoFile || error_) {
    return false;
  }
  return WriteAll(file_, bytes, error_);
}

bool OutputFile::WritePieces(std::span<const std::string_view> pieces) {
  if (file_ == kNoFile || error_) {
    return false;
  }
  return WriteAllPieces(file_, pieces, error_);
}

bool OutputFile::Close() {
  if (file_ == kNoFile) {
    return !error_;
  }
  std::error_code closeError;
  const bool closed = CloseFile(file_, closeError);
  file_ = kNoFile;
  if (!closed && !error_) {
    error_ = closeError;
  }
  return !error_;
}

}  // namespace lapse::platform
