// Finds the lines that a copy takes as they stand, many at a time.
#pragma once

#include <cstddef>
#include <string_view>

namespace lapse::text {

// How the lines of a run end: in CR LF, or in a lone LF (as most pages
// saved on Linux and macOS have them). The copy keeps either as it is.
enum class LineEnding { CrLf, Lf };

// The length of the longest run of whole lines at the start of text (which
// starts a line) that end in ending, hold no other CR or LF and do not start
// with "<!--": lines that need no decision while the copy takes every line.
// Most of a page is such lines, so they are found many bytes at a time.
std::size_t PlainLinesPrefix(std::string_view text, LineEnding ending);

// The number of LFs in text. Every plain run is counted (a tag's line is
// named by its number), so it is counted many bytes at a time.
std::size_t CountLineFeeds(std::string_view text);

// The same answer, found line by line: the search where no vector
// instructions serve, and the reference for the one where they do.
std::size_t PlainLinesPrefixByLine(std::string_view text, LineEnding ending);

}  // namespace lapse::text
