// What the program's own text window shows of a file (the run log, where no
// editor opens it). A log holds the lines that pages lost, byte for byte: a
// page saved as UTF-8 gives UTF-8 lines, one in the platform's 8-bit code page
// ("Caf\xE9" in Latin-1 or Windows-1252) gives 8-bit lines, and one log may
// hold both. Each line is read as UTF-8 where it is valid UTF-8 and in the
// 8-bit code page where it is not, so that neither kind turns into
// replacement characters.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lapse::front {

// A log can hold a lapsed block of any size; the window shows its start.
inline constexpr std::size_t kMostShown = std::size_t{16} * 1024 * 1024;

enum class TextEncoding { Utf8, EightBit };

// Whole lines of the file in one encoding, line ends included.
struct TextRun {
  std::string_view bytes;
  TextEncoding encoding;
  bool operator==(const TextRun&) const = default;
};

struct ShownText {
  std::vector<TextRun> runs;  // in the file's order; ASCII lines join a neighbour
  bool cut = false;           // the file goes on beyond the runs
};

// start is the first bytes of a file, more whether the file goes on beyond
// them. A line that start cuts short is left out (unless it is the only
// one), so that a character split by the cut cannot make its line look like
// 8-bit text.
ShownText TextToShow(std::string_view start, bool more);

// The caption of the window that shows file, like the Coming up window's:
// "Log.txt in /srv/site/New", the folder as the system writes it. A bare
// path would leave the name at its end, cut off first where the caption is
// short.
std::string TextWindowTitle(const std::filesystem::path& file);

}  // namespace lapse::front
