// The rewrite of one page's text: lapsed blocks and lapsed new-content tags,
// with the lines that go with them, are left out of the copy and written to
// the log. It works on streams and knows nothing of files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/date.h"
#include "text/show_block.h"
#include "text/streams.h"
#include "text/tags.h"

namespace lapse::text {

// Gives the current local date; asked afresh for every dated tag.
using Clock = std::function<Today()>;

// What decides whether a tag has lapsed and what goes with it.
struct TagRules {
  std::int16_t newDays = 30;  // days a new-content tag stays new
  std::int16_t lines = 1;     // lines left out after a lapsed new-content tag
  DateLocale locale;
  Clock clock;
};

// A run of lines left out together, as the log has it under one entry
// head: where it began in the page (the first line is 1), and how many.
struct RemovedBlock {
  std::uint64_t firstLine = 0;
  std::uint64_t lineCount = 0;
  friend bool operator==(const RemovedBlock&, const RemovedBlock&) = default;
};

// Where the lines of one page go: kept lines to the copy; with a log,
// an entry head naming the page and every line left out; with blocks, one
// RemovedBlock for each entry head, in the log's order.
struct RewriteTarget {
  BufferedWriter& copy;
  BufferedWriter* log = nullptr;
  std::string_view entryName;  // the page's name in the log's entry heads
  std::vector<RemovedBlock>* blocks = nullptr;
};

// The bytes of the log's head of an entry of the page named entryName: a
// line end, the name and a line end.
std::uint64_t EntryHeadSize(std::string_view entryName);

enum class StreamEnd {
  Complete,
  DateFormatError,
  ReadFailed,
  CopyFailed,
  LogFailed,
  // A show block is broken: whatever the copy would be, it would show too
  // much or too little on some day.
  BrokenBlock,
};

// How a rewrite ended, and whether it changed anything.
struct RewrittenStream {
  StreamEnd end = StreamEnd::Complete;
  // The copy is the source byte for byte: no line was left out and every
  // line kept its ending. Only a complete rewrite says so.
  bool copyIsSource = false;
  // On a date format error: the tag's line (the first is 1) and what stands
  // where its date should.
  std::uint64_t badDateLine = 0;
  std::string badDateText;
  // With BrokenBlock, the broken show block. With a complete rewrite, a
  // lapsed expiry block that no end tag closed, which took the rest of the
  // page with it.
  std::optional<BrokenBlock> broken;
};

// Reads source to its end, or up to a tag whose date cannot be read, and
// writes every line to where it goes. A line of the copy keeps its CR LF or
// its lone LF, so that a page changes only where lines lapse; a lone CR, and
// the end of a last line without a terminator, become CR LF. Every line of
// the log ends in CR LF. The text counts its columns in units (UTF-8
// characters for a UTF-16 page). A show block that is due loses its opening
// and closing lines, which are logged as lapsed lines are; a broken one
// stops the rewrite. Flushes both writers before it returns.
RewrittenStream RewriteStream(ByteSource& source, TextUnits units, std::span<char> readBuffer,
                              const RewriteTarget& target, const TagRules& rules);

}  // namespace lapse::text
