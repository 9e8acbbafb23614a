// File names as lines of text show them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lapse::text {

// The text of a path for messages, as UTF-8.
std::string PathText(const std::filesystem::path& path);

// The path that UTF-8 text names. Windows would read a plain string in the
// ANSI code page instead.
std::filesystem::path PathFromText(std::string_view text);

// name as UTF-8 text that fits on one line: a control character (a line
// feed or a carriage return, say) shows as \n, \r, \t or \xHH, everything
// else as it stands. The log, the listings and the messages show names so.
std::string DisplayName(const std::filesystem::path& name);
// The same for a name already in UTF-8.
std::string DisplayText(std::string_view name);

}  // namespace lapse::text
