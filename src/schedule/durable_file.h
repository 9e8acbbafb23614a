// Files of the schedule written so that a crash, a power cut or a second
// Lapse leaves the old file or the new one, whole, under the name.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace lapse::schedule::detail {

#if !defined(_WIN32)
// An open file descriptor, closed when it goes.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  Descriptor(Descriptor&& other) noexcept;
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  int Get() const { return descriptor_; }
  explicit operator bool() const { return descriptor_ >= 0; }
  // Closes it now: a failed close may have lost what was written.
  std::error_code Close();

 private:
  int descriptor_ = -1;
};

// A file made under a unique hidden name in folder, open for reading and
// appending, of the given mode; the name is no other file's, whoever else
// writes there at the same time.
struct TemporaryFile {
  Descriptor descriptor;
  std::filesystem::path path;
};
std::error_code MakeTemporaryFile(const std::filesystem::path& folder, mode_t mode,
                                  TemporaryFile& made);

// Writes all of data, going on after short writes and interruptions.
std::error_code WriteAll(int descriptor, std::string_view data);

// Syncs the folder itself, so that a rename in it survives a power cut.
std::error_code SyncFolder(const std::filesystem::path& folder);
#endif

// Writes content under a unique temporary name beside path, syncs it to the
// disk, renames it over path and syncs the folder. On any failure, path is
// as it was and the temporary file is gone; every failure is reported, a
// failed close too.
std::error_code WriteFileDurably(const std::filesystem::path& path, std::string_view content);

}  // namespace lapse::schedule::detail
