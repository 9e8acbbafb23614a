#include "engine/atomic_file.h"

#include <cerrno>
#include <string>

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#endif

namespace lapse::engine {

namespace {

std::filesystem::path PartialPath(const std::filesystem::path& dir,
                                  const std::filesystem::path& name) {
  return std::filesystem::path(dir.native() + std::filesystem::path(".").native() +
                               name.native() + std::filesystem::path(".part").native());
}

#if defined(__linux__)

// An unnamed file in dir, or kNoFile with errno set. Only a file system or a
// kernel without unnamed files fails with EOPNOTSUPP or EISDIR.
int OpenUnnamed(const std::filesystem::path& dir) {
  int descriptor;
  do {
    descriptor = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  } while (descriptor == -1 && errno == EINTR);
  return descriptor;
}

bool NoUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR;
}

// Gives an unnamed file a name. Linking the descriptor itself needs a
// privilege that most users lack; its /proc entry serves everyone.
bool LinkUnnamed(int descriptor, const std::filesystem::path& path) {
  static std::atomic<bool> linkDescriptor{true};
  if (linkDescriptor.load(std::memory_order_relaxed)) {
    if (::linkat(descriptor, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
      return true;
    }
    if (errno != ENOENT && errno != EPERM) {
      return false;
    }
  }
  const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    return false;
  }
  linkDescriptor.store(false, std::memory_order_relaxed);
  return true;
}

// /proc is missing in some containers; without it an unnamed file could not
// be named by an ordinary user.
bool CanNameUnnamedFiles() {
  static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
  return procMounted || ::geteuid() == 0;
}

#endif

}  // namespace

AtomicFile::AtomicFile(const std::filesystem::path& dir, const std::filesystem::path& name)
    : path_(dir.native() + name.native()) {
#if defined(__linux__)
  if (CanNameUnnamedFiles()) {
    const int descriptor = OpenUnnamed(dir);
    if (descriptor != -1 || !NoUnnamedFiles(errno)) {
      file_.emplace(descriptor, descriptor == -1 ? LastError() : std::error_code());
      error_ = file_->Error();
      return;
    }
  }
#endif
  partialPath_ = PartialPath(dir, name);
  file_.emplace(partialPath_, OpenMode::Truncate);
  error_ = file_->Error();
  // Hidden, a partial copy left by a killed process is no ordinary file of
  // its folder, so that nothing takes it for a whole one.
  SetHidden(partialPath_, Hidden::Yes);
}

AtomicFile::~AtomicFile() {
  if (!done_) {
    Discard();
  }
}

bool AtomicFile::Write(std::string_view bytes) {
  if (!file_->Write(bytes)) {
    error_ = file_->Error();
    return false;
  }
  return true;
}

bool AtomicFile::WritePieces(std::span<const std::string_view> pieces) {
  if (!file_->WritePieces(pieces)) {
    error_ = file_->Error();
    return false;
  }
  return true;
}

bool AtomicFile::Commit() {
  if (done_) {
    return !error_;
  }
  if (error_ || !file_->IsOpen()) {
    Discard();
    return false;
  }
  done_ = true;
#if defined(__linux__)
  if (partialPath_.empty()) {
    return CommitUnnamed();
  }
#endif
  return CommitNamed();
}

#if defined(__linux__)

bool AtomicFile::CommitUnnamed() {
  const int descriptor = file_->Handle();
  bool linked = LinkUnnamed(descriptor, path_);
  if (!linked && errno == EEXIST) {
    // An older file of the name goes first; until the link, the name is
    // missing rather than short.
    linked = ::unlink(path_.c_str()) == 0 && LinkUnnamed(descriptor, path_);
  }
  if (!linked) {
    const std::error_code error = LastError();
    file_->Close();
    return Fail(error);
  }
  if (!file_->Close()) {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    return Fail(file_->Error());
  }
  return true;
}

#endif

bool AtomicFile::CommitNamed() {
  if (!file_->Close()) {
    const std::error_code error = file_->Error();
    std::error_code ignored;
    std::filesystem::remove(partialPath_, ignored);
    return Fail(error);
  }
  SetHidden(partialPath_, Hidden::No);
  std::error_code renameError;
  std::filesystem::rename(partialPath_, path_, renameError);
  if (renameError) {
    std::error_code ignored;
    std::filesystem::remove(partialPath_, ignored);
    return Fail(renameError);
  }
  return true;
}

void AtomicFile::Discard() {
  done_ = true;
  file_->Close();
  if (!partialPath_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(partialPath_, ignored);
  }
}

bool AtomicFile::Fail(std::error_code error) {
  error_ = error;
  return false;
}

}  // namespace lapse::engine
