// Open files as the platform gives them: a descriptor on POSIX systems, a
// handle on Windows; reads and writes go straight to the kernel, as large as
// the caller's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "text/streams.h"

namespace lapse::platform {

#if defined(_WIN32)
using FileHandle = void*;  // a HANDLE
inline FileHandle const kNoFile = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
#else
using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;
#endif

#if !defined(_WIN32)
// Opens name in the folder descriptor folder (or AT_FDCWD) with flags, and
// keeps it only when it is a regular file: a folder fails with "is a
// directory", a pipe or device with NotAnOrdinaryFileError(). info holds what
// fstat told.
FileHandle OpenRegularFile(int folder, const char* name, int flags, mode_t mode, struct stat& info,
                           std::error_code& error);
#endif

// A file opened for reading, closed when the object goes.
class InputFile final : public text::ByteSource {
 public:
  explicit InputFile(const std::filesystem::path& path);
  // Takes over a file opened for reading.
  explicit InputFile(FileHandle file) : file_(file) {}
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const { return file_ != kNoFile; }
  FileHandle Handle() const { return file_; }
  std::size_t Read(std::span<char> buffer) override;
  std::error_code Error() const override { return error_; }

 private:
  FileHandle file_ = kNoFile;
  std::error_code error_;
};

enum class OpenMode { Truncate, Append };

// A file opened for writing, closed when the object goes. Close() reports a
// failure that only shows when the data reaches the disk.
class OutputFile final : public text::ByteSink {
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
  bool WritePieces(std::span<const std::string_view> pieces) override;
  bool Close();
  std::error_code Error() const override { return error_; }

 private:
  FileHandle file_ = kNoFile;
  std::error_code error_;
};

#if defined(_WIN32)
// The last Windows error as a portable one where there is one (a missing
// file, a taken name, a refused access), else as the system's own.
std::error_code LastWindowsError();
#endif

}  // namespace lapse::platform
