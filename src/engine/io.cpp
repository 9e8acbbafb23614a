#include "engine/io.h"

#include <array>
#include <cerrno>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace lapse::engine {

namespace {

// Kinds of file that stand where another kind must.
enum class WrongKind { NotOrdinary = 1, Link };

class FileKindCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "lapse file kind"; }
  std::string message(int kind) const override {
    return kind == static_cast<int>(WrongKind::Link) ? "it is a link" : "it is not an ordinary file";
  }
};

const FileKindCategory& FileKind() {
  static const FileKindCategory category;
  return category;
}

#if defined(_WIN32)

FileHandle OpenFile(const std::filesystem::path& path, const wchar_t* mode) {
  errno = 0;
  std::FILE* file = _wfopen(path.c_str(), mode);
  if (file != nullptr) {
    // Reads go straight into the caller's large buffer, and writes come from
    // a BufferedWriter already.
    std::setvbuf(file, nullptr, _IONBF, 0);
  }
  return file;
}

FileHandle OpenForReading(const std::filesystem::path& path, std::error_code& error) {
  FileHandle file = OpenFile(path, L"rb");
  if (file == kNoFile) {
    error = LastError();
    // Windows refuses to open a folder with "permission denied"; the user is
    // told what stands there instead, as on other systems.
    std::error_code ignored;
    if (error == std::errc::permission_denied && std::filesystem::is_directory(path, ignored)) {
      error = std::make_error_code(std::errc::is_a_directory);
    }
  }
  return file;
}

FileHandle OpenForWriting(const std::filesystem::path& path, OpenMode mode) {
  return OpenFile(path, mode == OpenMode::Append ? L"ab" : L"wb");
}

// The count read, 0 at the end; sets error on failure.
std::size_t ReadSome(FileHandle file, std::span<char> buffer, std::error_code& error) {
  errno = 0;
  const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file);
  if (count == 0 && std::ferror(file) != 0) {
    error = LastError();
  }
  return count;
}

bool WriteAll(FileHandle file, std::string_view bytes) {
  errno = 0;
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool CloseFile(FileHandle file) {
  errno = 0;
  return std::fclose(file) == 0;
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

bool WriteAll(FileHandle file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(file, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (count == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

// Writes the pieces in as few calls as the system takes, resuming within a
// piece after a short write.
bool WriteAllPieces(FileHandle file, std::span<const std::string_view> pieces) {
  std::array<iovec, 64> vectors{};
  std::size_t next = 0;      // the first piece not wholly written
  std::size_t written = 0;   // bytes of that piece already written
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
      return false;
    }
    if (result == 0) {
      errno = EIO;
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

bool CloseFile(FileHandle file) {
  errno = 0;
  return ::close(file) == 0;
}

#endif

}  // namespace

#if !defined(_WIN32)

// A pipe or a device put in a listed file's place would block the run or
// never end. O_NONBLOCK keeps the open itself from waiting on a pipe; reads
// and writes of a regular file never wait on it.
FileHandle OpenRegularFile(int folder, const char* name, int flags, mode_t mode,
                           struct stat& info, std::error_code& error) {
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

std::error_code LastError() {
  return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
}

std::error_code NotAnOrdinaryFileError() {
  return std::error_code(static_cast<int>(WrongKind::NotOrdinary), FileKind());
}

std::error_code IsALinkError() {
  return std::error_code(static_cast<int>(WrongKind::Link), FileKind());
}

void SetHidden([[maybe_unused]] const std::filesystem::path& path,
               [[maybe_unused]] Hidden hidden) {
#if defined(_WIN32)
  SetFileAttributesW(path.c_str(),
                     hidden == Hidden::Yes ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL);
#endif
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path PathFromText(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

InputFile::InputFile(const std::filesystem::path& path) {
  file_ = OpenForReading(path, error_);
}

InputFile::~InputFile() {
  if (file_ != kNoFile) {
    CloseFile(file_);
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
    error_ = LastError();
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
  if (!WriteAll(file_, bytes)) {
    error_ = LastError();
    return false;
  }
  return true;
}

bool OutputFile::Close() {
  if (file_ == kNoFile) {
    return !error_;
  }
  const bool closed = CloseFile(file_);
  file_ = kNoFile;
  if (!closed && !error_) {
    error_ = LastError();
  }
  return !error_;
}

bool ByteSink::WritePieces(std::span<const std::string_view> pieces) {
  for (const std::string_view piece : pieces) {
    if (!Write(piece)) {
      return false;
    }
  }
  return true;
}

#if !defined(_WIN32)

bool OutputFile::WritePieces(std::span<const std::string_view> pieces) {
  if (file_ == kNoFile || error_) {
    return false;
  }
  if (!WriteAllPieces(file_, pieces)) {
    error_ = LastError();
    return false;
  }
  return true;
}

#endif

void BufferedWriter::Lend(std::string_view bytes) {
  if (bytes.empty()) {
    return;
  }
  if (pieceCount_ == pieces_.size()) {
    Flush();
  }
  taken_ += bytes.size();
  AddPiece(bytes);
}

bool BufferedWriter::TakeBack(std::uint64_t mark) {
  if (mark < handedOn_) {
    return false;
  }
  std::uint64_t keep = mark - handedOn_;
  std::size_t kept = 0;
  used_ = 0;
  for (; kept < pieceCount_ && keep != 0; ++kept) {
    std::string_view& piece = pieces_[kept];
    if (piece.size() > keep) {
      piece = piece.substr(0, keep);
    }
    keep -= piece.size();
    if (piece.data() >= buffer_.data() && piece.data() < buffer_.data() + buffer_.size()) {
      used_ = static_cast<std::size_t>(piece.data() + piece.size() - buffer_.data());
    }
  }
  pieceCount_ = kept;
  taken_ = mark;
  return true;
}

bool BufferedWriter::Flush() {
  if (pieceCount_ != 0 && !failed_) {
    failed_ = !sink_.WritePieces(std::span(pieces_.data(), pieceCount_));
  }
  pieceCount_ = 0;
  used_ = 0;
  if (!failed_) {
    handedOn_ = taken_;
  }
  return !failed_;
}

void BufferedWriter::WriteLarge(std::string_view bytes) {
  Flush();
  if (bytes.size() >= buffer_.size()) {
    taken_ += bytes.size();
    if (!failed_) {
      failed_ = !sink_.Write(bytes);
      handedOn_ = taken_;
    }
    return;
  }
  Write(bytes);
}

}  // namespace lapse::engine
