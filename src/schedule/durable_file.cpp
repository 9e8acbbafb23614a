#include "schedule/durable_file.h"

#include <cerrno>
#include <utility>

#include "platform/temporary_names.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace lapse::schedule::detail {

namespace fs = std::filesystem;

namespace {

// Names are drawn afresh while one is taken; more tries than this means
// something else is wrong with the folder.
constexpr int kNameTries = 100;

}  // namespace

#if defined(_WIN32)

namespace {

std::error_code LastError() {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

std::error_code WriteAndFlush(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    const DWORD chunk =
        content.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(content.size());
    DWORD written = 0;
    if (!::WriteFile(file, content.data(), chunk, &written, nullptr)) {
      return LastError();
    }
    content.remove_prefix(written);
  }
  return ::FlushFileBuffers(file) ? std::error_code() : LastError();
}

}  // namespace

std::error_code WriteFileDurably(const fs::path& path, std::string_view content) {
  fs::path temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < kNameTries && file == INVALID_HANDLE_VALUE; ++tries) {
    temporary = path.parent_path() / platform::NextTemporaryName();
    file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
      return LastError();
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    return std::make_error_code(std::errc::file_exists);
  }
  std::error_code error = WriteAndFlush(file, content);
  if (!::CloseHandle(file) && !error) {
    error = LastError();
  }
  if (!error && !::MoveFileExW(temporary.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastError();
  }
  if (error) {
    ::DeleteFileW(temporary.c_str());
  }
  return error;
}

#else

namespace {

std::error_code Errno() {
  return {errno, std::generic_category()};
}

}  // namespace

Descriptor::Descriptor(Descriptor&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

Descriptor::~Descriptor() {
  Close();
}

std::error_code Descriptor::Close() {
  if (descriptor_ < 0) {
    return {};
  }
  // Not retried on EINTR: Linux has closed the descriptor whatever close says.
  const int closed = ::close(std::exchange(descriptor_, -1));
  return closed == 0 ? std::error_code() : Errno();
}

std::error_code MakeTemporaryFile(const fs::path& folder, mode_t mode, TemporaryFile& made) {
  for (int tries = 0; tries < kNameTries; ++tries) {
    fs::path path = folder / platform::NextTemporaryName();
    const int descriptor =
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (descriptor >= 0) {
      made.descriptor = Descriptor(descriptor);
      made.path = std::move(path);
      return {};
    }
    if (errno != EEXIST) {
      return Errno();
    }
  }
  return std::make_error_code(std::errc::file_exists);
}

std::error_code WriteAll(int descriptor, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(descriptor, data.data(), data.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return written < 0 ? Errno() : std::make_error_code(std::errc::no_space_on_device);
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

std::error_code SyncFolder(const fs::path& folder) {
  Descriptor opened(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened) {
    return Errno();
  }
  if (::fsync(opened.Get()) != 0) {
    return Errno();
  }
  return opened.Close();
}

std::error_code WriteFileDurably(const fs::path& path, std::string_view content) {
  TemporaryFile temporary;
  if (std::error_code error = MakeTemporaryFile(path.parent_path(), 0666, temporary)) {
    return error;
  }
  std::error_code error = WriteAll(temporary.descriptor.Get(), content);
  if (!error && ::fsync(temporary.descriptor.Get()) != 0) {
    error = Errno();
  }
  if (std::error_code closed = temporary.descriptor.Close(); closed && !error) {
    error = closed;
  }
  if (!error && ::rename(temporary.path.c_str(), path.c_str()) != 0) {
    error = Errno();
  }
  if (error) {
    ::unlink(temporary.path.c_str());
    return error;
  }
  return SyncFolder(path.parent_path());
}

#endif

}  // namespace lapse::schedule::detail
