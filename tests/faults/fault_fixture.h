// What the fault tests share: a small file system of their own, a way to give
// up root's privileges for a moment, and the command line as the user sees it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>

#include "cli/commands.h"
#include "support/temp_dir.h"

namespace lapse::testing_support {

// What a command printed, and its exit status.
struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
};

// The user never shows up as root, so a file with no read permission stops
// them; root reads it all the same. Holding one of these turns the process
// into "nobody" until it goes.
class AsNobody {
 public:
  AsNobody() {
    if (geteuid() == 0) {
      groupChanged_ = setegid(kNobody) == 0;
      userChanged_ = seteuid(kNobody) == 0;
    }
  }
  ~AsNobody() {
    // The user first: only root may change the group back.
    if (userChanged_) {
      [[maybe_unused]] const int uid = seteuid(0);
    }
    if (groupChanged_) {
      [[maybe_unused]] const int gid = setegid(0);
    }
  }
  AsNobody(const AsNobody&) = delete;
  AsNobody& operator=(const AsNobody&) = delete;

  // Whether permissions now hold for this process.
  static bool Restricted() { return geteuid() != 0; }

 private:
  static constexpr uid_t kNobody = 65534;
  bool groupChanged_ = false;
  bool userChanged_ = false;
};

// Marks a file immutable while it lives: not even root may replace or delete
// it. Works where the file system keeps the flag (ext4, tmpfs since Linux 6.0).
class ImmutableFile {
 public:
  explicit ImmutableFile(std::filesystem::path path) : path_(std::move(path)) {
    set_ = Change(FS_IMMUTABLE_FL, 0);
  }
  ~ImmutableFile() {
    if (set_) {
      Change(0, FS_IMMUTABLE_FL);
    }
  }
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;

  bool IsSet() const { return set_; }

 private:
  bool Change(int add, int remove) const {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return false;
    }
    int flags = 0;
    bool changed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (changed) {
      flags = (flags | add) & ~remove;
      changed = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return changed;
  }

  std::filesystem::path path_;
  bool set_ = false;
};

class FaultTest : public TempDirTest {
 protected:
  void TearDown() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
      umount2(it->c_str(), MNT_DETACH);
    }
    TempDirTest::TearDown();
  }

  // Mounts a tmpfs of sizeKiB at path (created when missing); an empty
  // string when it worked, otherwise why not.
  std::string MountTmpfs(const std::filesystem::path& path, int sizeKiB) {
    std::filesystem::create_directories(path);
    const std::string options = "size=" + std::to_string(sizeKiB) + "k,mode=0755";
    if (mount("lapse-faults", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      return std::strerror(errno);
    }
    mounts_.push_back(path);
    return {};
  }

  enum class Access { ReadOnly, Writable };

  // Turns a file system mounted by MountTmpfs read-only or writable again.
  static bool Remount(const std::filesystem::path& path, Access access) {
    unsigned long flags = MS_REMOUNT;
    if (access == Access::ReadOnly) {
      flags |= MS_RDONLY;
    }
    return mount("lapse-faults", path.c_str(), "tmpfs", flags, nullptr) == 0;
  }

  // Runs lapse-cli with DIR standing for dir, today fixed at 2026-12-08.
  static Outcome Call(std::vector<std::string> args, const std::filesystem::path& dir) {
    for (auto& arg : args) {
      if (arg == "DIR")
        arg = dir.string();
    }
    std::ostringstream out;
    std::ostringstream err;
    using namespace std::chrono;
    cli::Environment environment;
    environment.clock = [] { return local_days{year{2026} / 12 / 8}; };
    environment.locale = text::EnglishDateLocale();
    const int status = cli::RunCommandLine(args, environment, out, err);
    return {status, out.str(), err.str()};
  }

  // Name and content of every file directly in dir.
  static std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.is_regular_file()) {
        files[entry.path().filename().string()] = Read(entry.path());
      }
    }
    return files;
  }

 private:
  std::vector<std::filesystem::path> mounts_;
};

#define LAPSE_MOUNT_OR_SKIP(path, sizeKiB)                                \
  do {                                                                    \
    const std::string why = MountTmpfs(path, sizeKiB);                    \
    if (!why.empty())                                                     \
      GTEST_SKIP() << "cannot mount a tmpfs (" << why << "); needs root"; \
  } while (false)

}  // namespace lapse::testing_support
