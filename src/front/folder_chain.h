// The folder list shows the folders on the way from the root down to the
// opened folder above its subfolders, and climbs the same way to the nearest
// folder left when the opened one cannot be listed any more.
#pragma once

#include <string>
#include <vector>

namespace lapse::front {

// folder's ancestors from its root ("/", "C:/") down, folder itself last,
// each as the faces write folders: UTF-8 with "/" between names and no "/"
// at the end but the root's.
std::vector<std::string> FolderChain(const std::string& folder);

}  // namespace lapse::front
