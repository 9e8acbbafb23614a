#include "front/folder_chain.h"

#include <algorithm>

namespace lapse::front {

namespace {

// How long the root that begins path is: "C:/" or "/"; a network path climbs
// no higher than "//". 0 for a path that has none.
size_t RootLength(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '/') {
    return 3;
  }
  if (path.starts_with("//")) {
    return 2;
  }
  return path.starts_with('/') ? 1 : 0;
}

}  // namespace

std::vector<std::string> FolderChain(const std::string& folder) {
  std::string path = folder;
  const size_t root = RootLength(path);
  while (path.size() > root && path.back() == '/') {
    path.pop_back();
  }
  std::vector<std::string> chain;
  for (;;) {
    chain.push_back(path);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || path.size() <= root) {
      break;
    }
    path.resize(std::max(slash, root));
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

}  // namespace lapse::front
