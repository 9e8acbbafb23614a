#include "win32/text.h"

#include <windows.h>

#include <algorithm>

namespace lapse::win32 {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) {
    return {};
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

std::string FolderText(std::wstring_view path) {
  std::string text = Utf8(path);
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::wstring FolderPath(std::string_view text) {
  std::wstring path = Wide(text);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

}  // namespace lapse::win32
