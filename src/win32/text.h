// Windows speaks UTF-16; the window logic and the core speak UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace lapse::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A Windows path as the window logic takes folders: "C:/Sites/a".
std::string FolderText(std::wstring_view path);
// The other way: "C:\Sites\a".
std::wstring FolderPath(std::string_view text);

}  // namespace lapse::win32
