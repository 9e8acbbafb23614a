#include "text/plain_lines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lapse::text {

namespace {

constexpr std::string_view kTagStart = "<!--";

// The offset of the first CR or LF at or after from, or npos.
std::size_t LineEnd(std::string_view text, std::size_t from);

// The length of the first line of text when it is plain, else 0. Looks no
// further than the line's end.
std::size_t PlainLine(std::string_view text, LineEnding ending) {
  if (text.starts_with(kTagStart)) {
    return 0;
  }
  const std::size_t end = LineEnd(text, 0);
  if (end == std::string_view::npos) {
    return 0;
  }
  if (ending == LineEnding::Lf) {
    return text[end] == '\n' ? end + 1 : 0;
  }
  return text.substr(end, 2) == "\r\n" ? end + 2 : 0;
}

}  // namespace

std::size_t PlainLinesPrefixByLine(std::string_view text, LineEnding ending) {
  std::size_t start = 0;
  while (const std::size_t length = PlainLine(text.substr(start), ending)) {
    start += length;
  }
  return start;
}

#if defined(__GNUC__)

// A target without vector registers (32-bit x86 without SSE) passes these
// blocks differently from one with them; the functions below never leave
// this file, so the difference cannot reach a caller.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using Block = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t kBlockSize = sizeof(Block);
// Each step looks at four blocks, and two bytes past them.
constexpr std::size_t kStepSize = 4 * kBlockSize;
constexpr std::size_t kLookAhead = 2;

Block Load(const char* bytes) {
  Block block;
  std::memcpy(&block, bytes, sizeof block);
  return block;
}

// A byte of the result is set where the text at that byte may break the run
// of plain lines: an LF before "<!" (which may start a tag line), and for
// CR LF lines a CR not followed by an LF or a byte before an LF that is not
// a CR, for LF lines any CR.
Block Breaks(const char* bytes, LineEnding ending) {
  const Block here = Load(bytes);
  const Block next = Load(bytes + 1);
  const Block afterNext = Load(bytes + 2);
  const auto lineEndFault =
      ending == LineEnding::CrLf ? (here == '\r') != (next == '\n') : here == '\r';
  const auto tagStart = (here == '\n') & (next == '<') & (afterNext == '!');
  return reinterpret_cast<Block>(lineEndFault | tagStart);
}

bool Any(Block block) {
  std::uint64_t halves[2];
  std::memcpy(halves, &block, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

std::size_t FirstSet(Block block) {
  std::size_t i = 0;
  while (block[i] == 0) {
    ++i;
  }
  return i;
}

std::size_t LineEnd(std::string_view text, std::size_t from) {
  std::size_t at = from;
  for (; at + kBlockSize <= text.size(); at += kBlockSize) {
    const Block here = Load(text.data() + at);
    const auto ends = reinterpret_cast<Block>((here == '\r') | (here == '\n'));
    if (Any(ends)) {
      return at + FirstSet(ends);
    }
  }
  return text.find_first_of("\r\n", at);
}

// The offset of the first byte at or after from that may break the run, or
// of the first that the blocks cannot look at.
std::size_t NextBreak(std::string_view text, std::size_t from, LineEnding ending) {
  const char* const data = text.data();
  std::size_t at = from;
  for (; at + kStepSize + kLookAhead <= text.size(); at += kStepSize) {
    if (Any(Breaks(data + at, ending) | Breaks(data + at + kBlockSize, ending) |
            Breaks(data + at + 2 * kBlockSize, ending) |
            Breaks(data + at + 3 * kBlockSize, ending))) {
      break;
    }
  }
  for (; at + kBlockSize + kLookAhead <= text.size(); at += kBlockSize) {
    const Block breaks = Breaks(data + at, ending);
    if (Any(breaks)) {
      return at + FirstSet(breaks);
    }
  }
  return at;
}

}  // namespace

std::size_t PlainLinesPrefix(std::string_view text, LineEnding ending) {
  std::size_t start = 0;  // the lines before it are plain
  for (;;) {
    const std::size_t length = PlainLine(text.substr(start), ending);
    if (length == 0) {
      return start;
    }
    start += length;
    // The lines that end at or before the first possible break are plain: the
    // look at each byte covers the byte after it, and the one before start
    // (the LF of a plain line) covers the first byte of the next line. The
    // line at the break, if any, is looked at on its own.
    const std::size_t stop = NextBreak(text, start - 1, ending);
    const std::size_t lastLineFeed = text.rfind('\n', stop);
    if (lastLineFeed != std::string_view::npos && lastLineFeed >= start) {
      start = lastLineFeed + 1;
    }
  }
}

std::size_t CountLineFeeds(std::string_view text) {
  // Each byte of sums counts the LFs at its place in the blocks, up to 255 of
  // them, then the bytes are added up.
  constexpr std::size_t kMostBlocks = 255;
  std::size_t total = 0;
  std::size_t at = 0;
  while (at + kBlockSize <= text.size()) {
    const std::size_t blocks = std::min((text.size() - at) / kBlockSize, kMostBlocks);
    Block sums{};
    for (std::size_t block = 0; block < blocks; ++block, at += kBlockSize) {
      sums -= reinterpret_cast<Block>(Load(text.data() + at) == '\n');
    }
    for (std::size_t i = 0; i < kBlockSize; ++i) {
      total += sums[i];
    }
  }
  return total + static_cast<std::size_t>(std::count(text.begin() + at, text.end(), '\n'));
}

#else

namespace {

std::size_t LineEnd(std::string_view text, std::size_t from) {
  return text.find_first_of("\r\n", from);
}

}  // namespace

std::size_t CountLineFeeds(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Without vector types each line is looked at on its own.
std::size_t PlainLinesPrefix(std::string_view text, LineEnding ending) {
  return PlainLinesPrefixByLine(text, ending);
}

#endif

}  // namespace lapse::text
