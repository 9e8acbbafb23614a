// The faces hand folders to the window logic as UTF-8 text with "/" between
// names; the core takes paths.
#pragma once

#include <filesystem>
#include <string>

#include "text/names.h"

namespace lapse::front {

inline std::filesystem::path PathOf(const std::string& text) {
  return text::PathFromText(text).make_preferred();
}

// With "/" between names on every system, unlike text::PathText.
inline std::string TextOf(const std::filesystem::path& path) {
  const std::u8string utf8 = path.generic_u8string();
  return std::string(utf8.begin(), utf8.end());
}

}  // namespace lapse::front
