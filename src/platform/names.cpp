#include <string_view>

#include "platform/disk.h"

namespace lapse::platform {

bool IsOneName(const std::filesystem::path& name) {
  const std::filesystem::path::string_type& text = name.native();
  if (text.empty() || name == "." || name == "..") {
    return false;
  }
#if defined(_WIN32)
  // A colon names a stream of a file, or a drive.
  constexpr std::wstring_view kNotInAName = L"/\\:";
#else
  constexpr std::string_view kNotInAName("/\0", 2);
#endif
  return text.find_first_of(kNotInAName.data(), 0, kNotInAName.size()) ==
         std::filesystem::path::string_type::npos;
}

}  // namespace lapse::platform
