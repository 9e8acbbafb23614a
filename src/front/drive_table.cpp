#include "front/drive_table.h"

#include <algorithm>
#include <cctype>

namespace lapse::front {

namespace {

bool SameText(const std::string& a, const std::string& b, PathCase pathCase) {
  if (pathCase == PathCase::Sensitive) {
    return a == b;
  }
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::string RootOfPath(const std::string& path) {
  const auto slash = path.find('/');
  return slash == std::string::npos ? path + '/' : path.substr(0, slash + 1);
}

DriveTable::DriveTable(std::vector<Drive> drives, std::string startFolder, PathCase pathCase,
                       std::string rootDrive)
    : drives_(std::move(drives)), startFolder_(std::move(startFolder)), pathCase_(pathCase) {
  if (DriveOf(startFolder_).empty()) {
    drives_.push_back({RootOfPath(startFolder_), {}});
  }
  if (!rootDrive.empty() && DriveOf(rootDrive).empty()) {
    drives_.push_back({std::move(rootDrive), {}});
  }
  std::sort(drives_.begin(), drives_.end(),
            [](const Drive& a, const Drive& b) { return a.root < b.root; });
}

bool DriveTable::Holds(const std::string& root, const std::string& path) const {
  if (SameText(root, path, pathCase_)) {
    return true;
  }
  const std::string prefix = !root.empty() && root.back() == '/' ? root : root + '/';
  return path.size() > prefix.size() && SameText(prefix, path.substr(0, prefix.size()), pathCase_);
}

std::string DriveTable::DriveOf(const std::string& path) const {
  std::string best;
  for (const Drive& drive : drives_) {
    if (Holds(drive.root, path) && drive.root.size() > best.size()) {
      best = drive.root;
    }
  }
  return best;
}

std::string DriveTable::CurrentFolderOf(const std::string& root) const {
  return SameText(DriveOf(startFolder_), root, pathCase_) ? startFolder_ : root;
}

std::string DriveTable::Caption(const Drive& drive, char separator) {
  std::string text = drive.root;
  std::replace(text.begin(), text.end(), '/', separator);
  if (!drive.label.empty() && drive.label != drive.root) {
    text += " [" + drive.label + "]";
  }
  return text;
}

}  // namespace lapse::front
