// Feeds the rewriter any bytes as a file, with the options, today, the date
// order and the sizes of the reads and of the write buffers taken from the
// input. A crash, a sanitizer report or a broken property is a finding:
//  - the copy's lines and the log's left-out lines interleave to exactly the
//    source's lines, so no line is lost and none is written twice;
//  - a line of the copy keeps the source line's CR LF or lone LF, and a
//    lone CR, or none at the end, becomes CR LF; every line of the log ends
//    in CR LF; no other CR or LF is written;
//  - the copy is said to be the source exactly when it is, byte for byte;
//  - a tag whose date cannot be read ends the stream with a date format
//    error: the tag line is in neither output, and the lines before it are
//    split between copy and log as above;
//  - a show block that holds "-->" or a tag line, or has no closing line,
//    ends the stream as broken, unless a date format error comes first;
//  - every lapsed tag gets one entry head in the log, a due show block at
//    most two more, and no line before the first lapsed tag or due show
//    tag is left out: a page with none passes byte for byte;
//  - how the source is cut into reads, how small the write buffers are, and
//    whether a log is written change nothing in the copy;
//  - a disk that fills up is reported, never taken for a complete copy, and
//    what reached the disk is the start of the full output.
//
// Input layout: a header of kHeaderSize bytes, then the file.
//   [0]      bit 0: logging; bits 1-2: the date order
//   [1..2]   NewDays, little-endian
//   [3..4]   Lines, little-endian
//   [5..6]   today, in days after 1950-01-01
//   [7]      read buffer size - 1
//   [8], [9] bits 0-5: copy and log buffer sizes - 1; bit 7: the copy's or
//            the log's disk fills up, after as many bytes as [7] and [9]
//            give, modulo the size of the whole output
//   [10..13] read sizes, used in turn; 0xf0 and above fill the whole buffer
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/memory_streams.h"
#include "text/date.h"
#include "text/rewrite.h"
#include "text/tags.h"

namespace {

using lapse::testing_support::MemorySink;
using lapse::text::BufferedWriter;
using lapse::text::DateLocale;
using lapse::text::DateOrder;
using lapse::text::StreamEnd;
using lapse::text::Today;

// How a line ends in the copy: the source's LF stays alone, any other ending
// becomes CR LF.
enum class Ending { CrLf, Lf };
struct Line {
  std::string_view text;
  Ending ending = Ending::CrLf;
  bool operator==(const Line&) const = default;
};
using Lines = std::vector<Line>;

constexpr std::size_t kHeaderSize = 14;
constexpr std::string_view kCrLf = "\r\n";

enum class Logging { Off, On };

// The numbers a run takes from the options, and whether it logs.
struct RewriteOptions {
  std::int16_t newDays = 30;
  std::int16_t lines = 1;
  Logging logging = Logging::On;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "rewriter_fuzz: %s\n", what);
  std::abort();
}

void Check(bool holds, const char* what) {
  if (!holds)
    Fail(what);
}

// Gives the file in reads whose sizes follow a pattern from the input, so
// that lines and tags straddle the reads at every byte.
class PatternSource final : public lapse::text::ByteSource {
 public:
  PatternSource(std::string_view text, std::array<std::uint8_t, 4> pattern)
      : text_(text), pattern_(pattern) {}

  std::size_t Read(std::span<char> buffer) override {
    const std::uint8_t step = pattern_[reads_++ % pattern_.size()];
    const std::size_t wanted = step >= 0xf0 ? buffer.size() : 1 + step % 24;
    const std::size_t count = std::min({buffer.size(), wanted, text_.size()});
    text_.copy(buffer.data(), count);
    text_.remove_prefix(count);
    return count;
  }
  std::error_code Error() const override { return {}; }

 private:
  std::string_view text_;
  std::array<std::uint8_t, 4> pattern_;
  std::size_t reads_ = 0;
};

// The source's lines, each with the ending it is to have in the copy: CR
// LF, a lone CR and a lone LF each end a line, and a last line without a
// terminator counts too.
Lines SplitSource(std::string_view text) {
  Lines lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '\r' && text[i] != '\n') {
      ++i;
      continue;
    }
    lines.push_back({text.substr(start, i - start), text[i] == '\n' ? Ending::Lf : Ending::CrLf});
    i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    start = i;
  }
  if (start < text.size()) {
    lines.push_back({text.substr(start), Ending::CrLf});
  }
  return lines;
}

// The lines of the copy, each of which must end in CR LF or a lone LF and
// hold no other CR or LF.
Lines SplitCopy(std::string_view text) {
  Lines lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    Check(end != std::string_view::npos, "a line of the copy has no line end");
    const bool crLf = end != 0 && text[end - 1] == '\r';
    const std::string_view line = text.substr(0, crLf ? end - 1 : end);
    Check(line.find('\r') == std::string_view::npos, "a line of the copy holds a lone CR");
    lines.push_back({line, crLf ? Ending::CrLf : Ending::Lf});
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The lines of the log, each of which must end in CR LF and hold no other
// CR or LF.
Lines SplitLog(std::string_view text) {
  Lines lines;
  while (!text.empty()) {
    const std::size_t end = text.find(kCrLf);
    Check(end != std::string_view::npos, "a line of the log does not end in CR LF");
    const std::string_view line = text.substr(0, end);
    Check(line.find_first_of("\r\n") == std::string_view::npos,
          "a line of the log holds a lone CR or LF");
    lines.push_back({line, Ending::CrLf});
    text.remove_prefix(end + kCrLf.size());
  }
  return lines;
}

struct Log {
  std::size_t entryHeads = 0;
  Lines dropped;  // the left-out lines, without the entry heads
};

// Where the source's show blocks put the end of the stream, line by line
// and by whole lines: a model of what the rewriter finds in pieces.
struct ShowModel {
  bool open = false;
  // The line on which a broken block is found; size() when none is.
  std::size_t brokenAt;
  std::vector<std::size_t> openings;  // the lines of show tags that open a block

  explicit ShowModel(const Lines& source) : brokenAt(source.size()) {
    for (std::size_t i = 0; i < source.size(); ++i) {
      const std::string_view line = source[i].text;
      if (!open) {
        if (lapse::text::IsShowTag(line)) {
          open = true;
          openings.push_back(i);
          if (line.find("-->") != std::string_view::npos) {
            brokenAt = i;
            return;
          }
        }
        continue;
      }
      const bool closing =
          line.starts_with("-->") && line.find_first_not_of(" \t", 3) == std::string_view::npos;
      if (closing) {
        open = false;
      } else if (lapse::text::IsTagLine(line) || line.find("-->") != std::string_view::npos) {
        brokenAt = i;
        return;
      }
    }
    if (open) {
      brokenAt = source.size();
    }
  }
  bool Broken(const Lines& source) const { return open || brokenAt < source.size(); }
};

// Reads the log's entry heads (an empty line and the file name) and left-out
// lines. No source line equals the file name, so every empty line followed by
// it is an entry head.
Log ReadLog(const Lines& log, std::string_view fileName) {
  Log result;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i].text.empty() && i + 1 < log.size() && log[i + 1].text == fileName) {
      ++result.entryHeads;
      ++i;
      continue;
    }
    Check(log[i].text != fileName, "the file name stands in the log outside an entry head");
    result.dropped.push_back(log[i]);
  }
  return result;
}

// True when source is copy and dropped merged, each in its own order: a
// copied line with its ending, a dropped one by its text (the log ends every
// line in CR LF). Equal lines may go either way, so every split that fits so
// far is followed.
bool Interleaves(const Lines& source, const Lines& copy, const Lines& dropped) {
  if (source.size() != copy.size() + dropped.size()) {
    return false;
  }
  // reach[c]: the source lines so far are copy[0, c) and dropped[0, i - c).
  std::vector<char> reach(copy.size() + 1, 0);
  std::vector<char> next(copy.size() + 1, 0);
  reach[0] = 1;
  std::size_t low = 0;
  std::size_t high = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    std::size_t nextLow = reach.size();
    std::size_t nextHigh = 0;
    for (std::size_t c = low; c <= high; ++c) {
      if (reach[c] == 0)
        continue;
      if (c < copy.size() && copy[c] == source[i]) {
        next[c + 1] = 1;
        nextLow = std::min(nextLow, c + 1);
        nextHigh = std::max(nextHigh, c + 1);
      }
      const std::size_t d = i - c;
      if (d < dropped.size() && dropped[d].text == source[i].text) {
        next[c] = 1;
        nextLow = std::min(nextLow, c);
        nextHigh = std::max(nextHigh, c);
      }
      reach[c] = 0;
    }
    if (nextLow > nextHigh) {
      return false;
    }
    reach.swap(next);
    low = nextLow;
    high = nextHigh;
  }
  return reach[copy.size()] != 0;
}

// A file name that is none of the source's lines.
std::string FileNameOutside(const Lines& source) {
  std::string name = "page.htm";
  while (std::any_of(source.begin(), source.end(),
                     [&name](const Line& line) { return line.text == name; })) {
    name += '~';
  }
  return name;
}

struct Output {
  StreamEnd end;
  bool copyIsSource;
  std::string copy;
  std::string log;
};

struct Run {
  std::string_view file;
  RewriteOptions options;
  DateLocale locale;
  Today today;
  std::string fileName;
};

// Room for the outputs; a sink fails once a write would exceed it.
struct Room {
  std::size_t copy = std::string::npos;
  std::size_t log = std::string::npos;
};

Output Rewrite(const Run& run, lapse::text::ByteSource& source, std::size_t readSize,
               std::size_t copySize, std::size_t logSize, Room room = {}) {
  std::vector<char> readBuffer(readSize);
  std::vector<char> copyBuffer(copySize);
  std::vector<char> logBuffer(logSize);
  MemorySink copySink(room.copy);
  MemorySink logSink(room.log);
  BufferedWriter copy(copySink, copyBuffer);
  BufferedWriter log(logSink, logBuffer);
  const lapse::text::Clock clock = [&run] { return run.today; };
  const bool logging = run.options.logging == Logging::On;
  const lapse::text::RewrittenStream rewritten =
      lapse::text::RewriteStream(source, lapse::text::TextUnits::Bytes, readBuffer,
                                 {copy, logging ? &log : nullptr, run.fileName},
                                 {run.options.newDays, run.options.lines, run.locale, clock});
  Check(!rewritten.copyIsSource || rewritten.end == StreamEnd::Complete,
        "an incomplete copy is said to be the source");
  return {rewritten.end, rewritten.copyIsSource, std::move(copySink.text), std::move(logSink.text)};
}

std::int16_t Int16At(const std::uint8_t* bytes) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) {
    return 0;
  }
  using namespace std::chrono;
  Run run;
  run.file =
      std::string_view(reinterpret_cast<const char*>(data + kHeaderSize), size - kHeaderSize);
  run.options.logging = (data[0] & 1) != 0 ? Logging::On : Logging::Off;
  run.options.newDays = Int16At(data + 1);
  run.options.lines = Int16At(data + 3);
  run.locale = lapse::text::EnglishDateLocale();
  constexpr std::array kOrders = {DateOrder::MonthDayYear, DateOrder::DayMonthYear,
                                  DateOrder::YearMonthDay, DateOrder::MonthDayYear};
  run.locale.order = kOrders[(data[0] >> 1) & 3];
  run.today = local_days{year{1950} / 1 / 1} + days{data[5] | (data[6] << 8)};

  const Lines source = SplitSource(run.file);
  run.fileName = FileNameOutside(source);

  // The first tag line whose date cannot be read ends the stream, and so
  // does a broken show block.
  const ShowModel shows(source);
  const bool broken = shows.Broken(source);
  std::size_t stop = source.size();
  std::size_t lapsedTags = 0;
  std::size_t dueShows = 0;
  std::size_t firstLapsed = source.size();
  for (std::size_t i = 0; i < source.size() && (!broken || i <= shows.brokenAt); ++i) {
    const std::string_view line = source[i].text;
    const bool expiry = lapse::text::IsExpiryTag(line);
    const bool show =
        std::find(shows.openings.begin(), shows.openings.end(), i) != shows.openings.end();
    // A show tag's date is read even on the line that breaks its block.
    if (broken && i == shows.brokenAt && !show) {
      break;
    }
    if (show) {
      const auto date = lapse::text::ReadTagDate(line, run.locale);
      if (!date) {
        stop = i;
        break;
      }
      if (broken && i == shows.brokenAt) {
        break;
      }
      if (lapse::text::ShowTagDue(*date, run.today)) {
        ++dueShows;
        firstLapsed = std::min(firstLapsed, i);
      }
      continue;
    }
    if (!expiry && !lapse::text::IsNewTag(line)) {
      continue;
    }
    if (shows.open && i > shows.openings.back()) {
      continue;  // inside a show block: no tag, but it breaks the block
    }
    const auto date = lapse::text::ReadTagDate(line, run.locale);
    Check(
        date == lapse::text::ReadTagDate(line.substr(0, lapse::text::kLineHeadLength), run.locale),
        "a tag date depends on bytes past the line's head");
    if (!date) {
      stop = i;
      break;
    }
    if (expiry ? lapse::text::ExpiryTagLapsed(*date, run.today)
               : lapse::text::NewTagLapsed(*date, run.options.newDays, run.today)) {
      ++lapsedTags;
      firstLapsed = std::min(firstLapsed, i);
    }
  }
  const Lines kept(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(stop));
  StreamEnd expectedEnd = stop == source.size() ? StreamEnd::Complete : StreamEnd::DateFormatError;
  if (broken && stop == source.size()) {
    expectedEnd = StreamEnd::BrokenBlock;
  }

  // One read of the whole file into roomy buffers, with the log: the
  // reference the other run is held to.
  Run logged = run;
  logged.options.logging = Logging::On;
  PatternSource whole(run.file, {0xff, 0xff, 0xff, 0xff});
  const Output reference = Rewrite(logged, whole, run.file.size() + 1, 4096, 4096);
  Check(reference.end == expectedEnd, "the stream ends otherwise than its tags say");
  // A broken page has no copy: what the rewrite wrote before it stopped is
  // held to nothing but the same bytes in pieces.
  if (reference.end != StreamEnd::BrokenBlock) {
    const Lines copied = SplitCopy(reference.copy);
    const Log log = ReadLog(SplitLog(reference.log), run.fileName);
    Check(Interleaves(kept, copied, log.dropped),
          "copy and log do not interleave to the source's lines");
    Check(log.entryHeads >= lapsedTags && log.entryHeads <= lapsedTags + 2 * dueShows,
          "the log's entry heads do not match the lapsed tags and due show blocks");
    const std::size_t untouched = std::min(firstLapsed, stop);
    Check(copied.size() >= untouched &&
              std::equal(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(untouched),
                         copied.begin()),
          "a line before the first lapsed tag or due show tag is left out");
  }
  Check(reference.copyIsSource ==
            (reference.end == StreamEnd::Complete && reference.copy == run.file),
        "the copy is said to be the source when it is not, or not when it is");

  // Small reads of changing sizes and tiny write buffers give the same bytes.
  PatternSource pieces(run.file, {data[10], data[11], data[12], data[13]});
  const Output pieced =
      Rewrite(run, pieces, 1 + std::size_t{data[7]}, 1 + data[8] % 64u, 1 + data[9] % 64u);
  Check(pieced.end == reference.end, "read sizes change how the stream ends");
  if (reference.end == StreamEnd::BrokenBlock) {
    // Where a broken block is seen within its line depends on where the
    // reads cut it; the page gets no copy, so what was written is no matter.
    return 0;
  }
  Check(pieced.copy == reference.copy, "read sizes, buffer sizes or logging change the copy");
  Check(pieced.copyIsSource == reference.copyIsSource,
        "read sizes, buffer sizes or logging change whether the copy is the source");
  if (run.options.logging == Logging::On) {
    Check(pieced.log == reference.log, "read sizes or buffer sizes change the log");
  } else {
    Check(pieced.log.empty(), "a log is written while logging is off");
  }

  const bool copyFills = (data[8] & 0x80) != 0;
  const bool logFills = (data[9] & 0x80) != 0 && run.options.logging == Logging::On;
  if (copyFills || logFills) {
    const std::size_t bytes = data[7] | (data[9] << 8);
    Room room;
    if (copyFills) {
      room.copy = bytes % (reference.copy.size() + 1);
    }
    if (logFills) {
      room.log = bytes % (reference.log.size() + 1);
    }
    PatternSource again(run.file, {data[10], data[11], data[12], data[13]});
    const Output full =
        Rewrite(run, again, 1 + std::size_t{data[7]}, 1 + data[8] % 64u, 1 + data[9] % 64u, room);
    Check(reference.copy.starts_with(full.copy), "a full disk changes what was copied");
    Check(reference.log.starts_with(full.log), "a full disk changes what was logged");
    const bool copyCut = full.copy.size() < reference.copy.size();
    const bool logCut = logFills && full.log.size() < reference.log.size();
    if (!copyCut && !logCut) {
      Check(full.end == reference.end, "a disk with room enough changes how the stream ends");
    } else {
      const bool reported =
          (copyCut && full.end == StreamEnd::CopyFailed) ||
          (logCut && full.end == StreamEnd::LogFailed) ||
          (reference.end == StreamEnd::DateFormatError && full.end == StreamEnd::DateFormatError) ||
          (reference.end == StreamEnd::BrokenBlock && full.end == StreamEnd::BrokenBlock);
      Check(reported, "a full disk is not reported");
    }
  }
  return 0;
}
