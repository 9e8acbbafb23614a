#include "engine/names.h"

#include <algorithm>

#include "engine/io.h"

namespace lapse::engine {

namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

void AppendEscaped(std::string& text, char c) {
  switch (c) {
    case '\n':
      text += "\\n";
      return;
    case '\r':
      text += "\\r";
      return;
    case '\t':
      text += "\\t";
      return;
    default:
      break;
  }
  constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  const auto byte = static_cast<unsigned char>(c);
  text += "\\x";
  text += kHexDigits[byte >> 4];
  text += kHexDigits[byte & 0x0F];
}

}  // namespace

std::string DisplayText(std::string_view name) {
  // Almost every name needs nothing done.
  if (std::none_of(name.begin(), name.end(), IsControl)) {
    return std::string(name);
  }
  std::string text;
  for (const char c : name) {
    if (IsControl(c)) {
      AppendEscaped(text, c);
    } else {
      text += c;
    }
  }
  return text;
}

std::string DisplayName(const std::filesystem::path& name) {
  return DisplayText(PathText(name));
}

}  // namespace lapse::engine
