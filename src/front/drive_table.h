// The drives of the drive list and the folder each one opens at.
#pragma once

#include <string>
#include <vector>

namespace lapse::front {

// Paths here are text with "/" between the names, as the faces show them to
// the table: "/", "/media/stick", "C:/", "C:/Sites".
struct Drive {
  std::string root;
  std::string label;  // the volume's name, when it has one
};

enum class PathCase { Sensitive, Insensitive };

// How this platform compares paths, and the drive it always offers: a
// chroot or a container may list no mount for "/", yet every folder can be
// reached from it; Windows has no such root.
#if defined(_WIN32)
inline constexpr PathCase kPlatformPathCase = PathCase::Insensitive;
inline constexpr const char* kPlatformRootDrive = "";
#else
inline constexpr PathCase kPlatformPathCase = PathCase::Sensitive;
inline constexpr const char* kPlatformRootDrive = "/";
#endif

// The drives on offer. Each drive has a current folder: the folder the
// program started in for the drive that holds it, the root for every other.
class DriveTable {
 public:
  DriveTable() = default;
  // The start folder always belongs to a drive and, where rootDrive is not
  // empty, that root is always on offer, whatever the list of mounts says
  // (missing, empty, or naming only paths outside the process's root).
  DriveTable(std::vector<Drive> drives, std::string startFolder, PathCase pathCase,
             std::string rootDrive);

  const std::vector<Drive>& Drives() const { return drives_; }
  const std::string& StartFolder() const { return startFolder_; }
  // The drive whose root is the longest that holds path; empty for none.
  std::string DriveOf(const std::string& path) const;
  std::string CurrentFolderOf(const std::string& root) const;
  // What the list shows for a drive: its root, and its label in brackets.
  static std::string Caption(const Drive& drive, char separator);

 private:
  bool Holds(const std::string& root, const std::string& path) const;

  std::vector<Drive> drives_;
  std::string startFolder_;
  PathCase pathCase_ = PathCase::Sensitive;
};

// The root of the path's drive where no listed drive holds it: "/" or "C:/".
std::string RootOfPath(const std::string& path);

}  // namespace lapse::front
