#include "text/names.h"

#include <algorithm>

namespace lapse::text {

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

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path PathFromText(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string DisplayName(const std::filesystem::path& name) {
  return DisplayText(PathText(name));
}

}  // namespace lapse::text
