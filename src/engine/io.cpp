#include "engine/io.h"

#include <cerrno>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lapse::engine {

namespace {

class FileKindCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "lapse file kind"; }
  std::string message(int) const override { return "it is not an ordinary file"; }
};

std::error_code LastError() {
  return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  errno = 0;
#if defined(_WIN32)
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

// Opens a regular file and nothing else: a pipe or a device put in a listed
// file's place would block the run or never end.
std::FILE* OpenForReading(const std::filesystem::path& path, std::error_code& error) {
#if defined(_WIN32)
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) {
    error = LastError();
  }
  return file;
#else
  errno = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = LastError();
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = LastError();
  } else if (S_ISDIR(info.st_mode)) {
    error = std::make_error_code(std::errc::is_a_directory);
  } else if (!S_ISREG(info.st_mode)) {
    error = NotAnOrdinaryFileError();
  }
  // A regular file is read with blocking reads again.
  if (!error && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = LastError();
  }
  std::FILE* file = error ? nullptr : ::fdopen(fd, "rb");
  if (file == nullptr) {
    if (!error) {
      error = LastError();
    }
    ::close(fd);
  }
  return file;
#endif
}

}  // namespace

std::error_code NotAnOrdinaryFileError() {
  static const FileKindCategory category;
  return std::error_code(1, category);
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

InputFile::InputFile(const std::filesystem::path& path) {
  file_ = OpenForReading(path, error_);
  if (file_ != nullptr) {
    // Reads go straight into the caller's large buffer.
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
}

InputFile::~InputFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

std::size_t InputFile::Read(std::span<char> buffer) {
  if (file_ == nullptr || error_) {
    return 0;
  }
  errno = 0;
  const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file_);
  if (count == 0 && std::ferror(file_) != 0) {
    error_ = LastError();
  }
  return count;
}

OutputFile::OutputFile(const std::filesystem::path& path, OpenMode mode)
    : file_(OpenFile(path, mode == OpenMode::Append ? "ab" : "wb")) {
  if (file_ == nullptr) {
    error_ = LastError();
  } else {
    // Writes come from a BufferedWriter already.
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
}

OutputFile::~OutputFile() {
  Close();
}

bool OutputFile::Write(std::string_view bytes) {
  if (file_ == nullptr || error_) {
    return false;
  }
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    error_ = LastError();
    return false;
  }
  return true;
}

bool OutputFile::Close() {
  if (file_ == nullptr) {
    return !error_;
  }
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed && !error_) {
    error_ = LastError();
  }
  return !error_;
}

bool BufferedWriter::Flush() {
  if (used_ != 0 && !failed_) {
    failed_ = !sink_.Write(std::string_view(buffer_.data(), used_));
  }
  used_ = 0;
  return !failed_;
}

void BufferedWriter::WriteLarge(std::string_view bytes) {
  const std::size_t room = buffer_.size() - used_;
  if (used_ != 0) {
    bytes.copy(buffer_.data() + used_, room);
    used_ += room;
    bytes.remove_prefix(room);
    Flush();
  }
  if (bytes.size() >= buffer_.size()) {
    if (!failed_) {
      failed_ = !sink_.Write(bytes);
    }
    return;
  }
  bytes.copy(buffer_.data(), bytes.size());
  used_ = bytes.size();
}

}  // namespace lapse::engine
