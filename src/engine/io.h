// Byte streams for the rewriter: sources and sinks that tests can fake, the
// real files behind them, and a write buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace lapse::engine {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buffer.size() bytes; 0 at the end of the data or on failure.
  virtual std::size_t Read(std::span<char> buffer) = 0;
  virtual std::error_code Error() const = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all bytes, or fails; after a failure every later write fails too.
  virtual bool Write(std::string_view bytes) = 0;
  // Writes the pieces one after another, in one call where the platform can.
  virtual bool WritePieces(std::span<const std::string_view> pieces);
  virtual std::error_code Error() const = 0;
};

// The error that the last failed system or C library call left in errno; EIO
// when it left none.
std::error_code LastError();

// The error of a path that names neither a file nor a folder (a pipe, a
// device, a socket); its message is "it is not an ordinary file".
std::error_code NotAnOrdinaryFileError();
// The error of a link where a file or folder must stand: "it is a link".
std::error_code IsALinkError();

// The text of a path for messages, as UTF-8.
std::string PathText(const std::filesystem::path& path);

// The path that UTF-8 text names. Windows would read a plain string in the
// ANSI code page instead.
std::filesystem::path PathFromText(std::string_view text);

enum class Hidden { No, Yes };

// Sets or clears the hidden attribute where the platform has one (Windows);
// elsewhere a leading "." in the name hides a file and this does nothing.
void SetHidden(const std::filesystem::path& path, Hidden hidden);

// An open file as the platform gives it: a descriptor on POSIX systems, whose
// reads and writes go straight to the kernel; a C stream on Windows, opened
// by its wide-character name.
#if defined(_WIN32)
using FileHandle = std::FILE*;
inline constexpr FileHandle kNoFile = nullptr;
#else
using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;
#endif

#if !defined(_WIN32)
// Opens name in the folder descriptor folder (or AT_FDCWD) with flags, and
// keeps it only when it is a regular file: a folder fails with "is a
// directory", a pipe or device with NotAnOrdinaryFileError(). info holds what
// fstat told.
FileHandle OpenRegularFile(int folder, const char* name, int flags, mode_t mode,
                           struct stat& info, std::error_code& error);
#endif

// A file opened for reading, closed when the object goes.
class InputFile final : public ByteSource {
 public:
  explicit InputFile(const std::filesystem::path& path);
  // Takes over a file opened for reading.
  explicit InputFile(FileHandle file) : file_(file) {}
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const { return file_ != kNoFile; }
  std::size_t Read(std::span<char> buffer) override;
  std::error_code Error() const override { return error_; }

 private:
  FileHandle file_ = kNoFile;
  std::error_code error_;
};

enum class OpenMode { Truncate, Append };

// A file opened for writing, closed when the object goes. Close() reports a
// failure that only shows when the data reaches the disk.
class OutputFile final : public ByteSink {
 public:
  OutputFile(const std::filesystem::path& path, OpenMode mode);
  // Takes over a file opened for writing, or the error of opening it.
  OutputFile(FileHandle file, std::error_code openError);
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return file_ != kNoFile; }
  FileHandle Handle() const { return file_; }
  bool Write(std::string_view bytes) override;
#if !defined(_WIN32)
  bool WritePieces(std::span<const std::string_view> pieces) override;
#endif
  bool Close();
  std::error_code Error() const override { return error_; }

 private:
  FileHandle file_ = kNoFile;
  std::error_code error_;
};

// Collects small writes into large ones. Bytes that stay put until the next
// Flush() can be lent instead of copied: they are written from where they lie.
class BufferedWriter {
 public:
  BufferedWriter(ByteSink& sink, std::span<char> buffer) : sink_(sink), buffer_(buffer) {}
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;

  void Write(std::string_view bytes) {
    if (bytes.size() <= buffer_.size() - used_ && pieceCount_ < pieces_.size()) {
      char* const at = buffer_.data() + used_;
      bytes.copy(at, bytes.size());
      used_ += bytes.size();
      taken_ += bytes.size();
      AddPiece(std::string_view(at, bytes.size()));
    } else {
      WriteLarge(bytes);
    }
  }
  // Writes bytes that the caller keeps unchanged until the next Flush().
  void Lend(std::string_view bytes);
  bool Flush();
  bool Failed() const { return failed_; }
  // The bytes taken so far, written or still held.
  std::uint64_t Taken() const { return taken_; }
  // Forgets what was taken after the first mark bytes, when none of it has
  // reached the sink yet; false when some has.
  bool TakeBack(std::uint64_t mark);

 private:
  void AddPiece(std::string_view piece) {
    if (pieceCount_ != 0 && pieces_[pieceCount_ - 1].data() +
                                    pieces_[pieceCount_ - 1].size() == piece.data()) {
      const std::string_view last = pieces_[pieceCount_ - 1];
      pieces_[pieceCount_ - 1] = std::string_view(last.data(), last.size() + piece.size());
    } else {
      pieces_[pieceCount_++] = piece;
    }
  }
  void WriteLarge(std::string_view bytes);

  ByteSink& sink_;
  std::span<char> buffer_;
  std::size_t used_ = 0;
  // What the next Flush() writes: ranges of buffer_ and lent bytes, in order.
  std::array<std::string_view, 64> pieces_;
  std::size_t pieceCount_ = 0;
  std::uint64_t taken_ = 0;
  std::uint64_t handedOn_ = 0;  // the bytes given to the sink
  bool failed_ = false;
};

}  // namespace lapse::engine
