// Finds the lines that a copy takes as they stand, many at a time.
#pragma once

#include <cstddef>
#include <string_view>

namespace lapse::text {

// The length of the longest run of whole lines at the start of text (which
// starts a line) that end in CR LF and do not start with "<!--": lines that
// need no decision and no change while the copy takes every line. Most of a
// page is such lines, so they are found many bytes at a time.
std::size_t PlainLinesPrefix(std::string_view text);

// The same answer, found line by line: the search where no vector
// instructions serve, and the reference for the one where they do.
std::size_t PlainLinesPrefixByLine(std::string_view text);

}  // namespace lapse::text
