#include "text/rewrite.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "support/memory_streams.h"

namespace lapse::text {
namespace {

using namespace std::chrono;
using testing_support::MemorySink;
using testing_support::MemorySource;

const Today kToday = local_days{year{2026} / 12 / 8};
const Clock kClock = [] { return kToday; };

// Dates around kToday.
constexpr const char* kPast = "12/01/26";
constexpr const char* kFuture = "12/31/26";
constexpr const char* kStale = "10/01/26";  // a new-content tag past its 30 days

std::string Lines(std::initializer_list<std::string> lines, std::string_view end = "\r\n") {
  std::string text;
  for (const auto& line : lines)
    text += line + std::string(end);
  return text;
}

enum class Logging { Off, On };

// The numbers a rewrite takes from the options, and whether it logs.
struct RewriteOptions {
  std::int16_t newDays = 30;
  std::int16_t lines = 1;
  Logging logging = Logging::On;
};

TagRules RulesOf(const RewriteOptions& options, Clock clock = kClock) {
  return {options.newDays, options.lines, EnglishDateLocale(), std::move(clock)};
}

struct Output {
  StreamEnd end;
  bool copyIsSource;
  std::string copy;
  std::string log;
  std::vector<RemovedBlock> blocks;  // with logging on
  RewrittenStream rewritten{};
};

Output Rewrite(const std::string& source, RewriteOptions options = {}, std::size_t chunk = 4096,
               std::string_view name = "page.htm") {
  MemorySource input(source, chunk);
  MemorySink copySink;
  MemorySink logSink;
  std::vector<char> readBuffer(4096);
  std::vector<char> copyBuffer(64);
  std::vector<char> logBuffer(64);
  BufferedWriter copy(copySink, copyBuffer);
  BufferedWriter log(logSink, logBuffer);
  const bool logging = options.logging == Logging::On;
  std::vector<RemovedBlock> blocks;
  const RewrittenStream rewritten = RewriteStream(
      input, TextUnits::Bytes, readBuffer,
      {copy, logging ? &log : nullptr, name, logging ? &blocks : nullptr}, RulesOf(options));
  return {rewritten.end, rewritten.copyIsSource, copySink.text,
          logSink.text,  std::move(blocks),      rewritten};
}

std::string Expiry(const char* date) {
  return std::string("<!--LAPSE ") + date + " -->";
}
std::string New(const char* date) {
  return std::string("<!--LNEW ") + date + " -->";
}
const std::string kEnd = "<!--ENDL-->";

struct Case {
  const char* name;
  std::string source;
  RewriteOptions options;
  std::string copy;
  std::string log;  // the entry head is "\r\npage.htm\r\n"
};

const std::string kHead = "\r\npage.htm\r\n";

std::vector<Case> Cases() {
  const RewriteOptions lines0{30, 0, Logging::On};
  const RewriteOptions lines5{30, 5, Logging::On};
  const RewriteOptions linesNegative{30, -2, Logging::On};
  return {
      {"NoTags", Lines({"a", "b"}), {}, Lines({"a", "b"}), ""},
      {"LapsedBlock",
       Lines({"a", Expiry(kPast), "x", "y", kEnd, "b"}),
       {},
       Lines({"a", "b"}),
       kHead + Lines({Expiry(kPast), "x", "y", kEnd})},
      {"CurrentBlockIsCopiedWhole",
       Lines({Expiry(kFuture), "x", kEnd}),
       {},
       Lines({Expiry(kFuture), "x", kEnd}),
       ""},
      {"BlockDatedTodayIsCurrent",
       Lines({"<!--LAPSE 12/08/26", "x", kEnd}),
       {},
       Lines({"<!--LAPSE 12/08/26", "x", kEnd}),
       ""},
      {"EndTagOutsideABlockIsCopied", Lines({"a", kEnd, "b"}), {}, Lines({"a", kEnd, "b"}), ""},
      {"UnclosedBlockRunsToTheEnd",
       Lines({"a", Expiry(kPast), "x", "y"}),
       {},
       Lines({"a"}),
       kHead + Lines({Expiry(kPast), "x", "y"})},
      {"TwoBlocksTwoEntryHeads",
       Lines({Expiry(kPast), "x", kEnd, "a", Expiry(kPast), "y", kEnd}),
       {},
       Lines({"a"}),
       kHead + Lines({Expiry(kPast), "x", kEnd}) + kHead + Lines({Expiry(kPast), "y", kEnd})},
      {"BlocksDoNotNest",
       Lines({Expiry(kPast), Expiry(kPast), "x", kEnd, "y", kEnd}),
       {},
       Lines({"y", kEnd}),
       kHead + Lines({Expiry(kPast)}) + kHead + Lines({Expiry(kPast), "x", kEnd})},
      {"CurrentTagInsideLapsedBlock",
       Lines({Expiry(kPast), Expiry(kFuture), kEnd, "a"}),
       {},
       Lines({"a"}),
       kHead + Lines({Expiry(kPast), Expiry(kFuture), kEnd})},
      {"NewTagWithOneLine",
       Lines({New(kStale), "x", "a"}),
       {},
       Lines({"a"}),
       kHead + Lines({New(kStale), "x"})},
      {"NewTagWithZeroLines", Lines({New(kStale), "a"}), lines0, Lines({"a"}),
       kHead + Lines({New(kStale)})},
      {"NewTagWithNegativeLinesKeepsEverything", Lines({New(kStale), "a"}), linesNegative,
       Lines({New(kStale), "a"}), kHead},
      {"CurrentNewTagIsCopied",
       Lines({"<!--LNEW 11/10/26", "a"}),
       {},
       Lines({"<!--LNEW 11/10/26", "a"}),
       ""},
      {"NewTagOnTheLastLine",
       Lines({"a", New(kStale)}),
       {},
       Lines({"a"}),
       kHead + Lines({New(kStale)})},
      {"NewTagRestartsTheCount",
       Lines({New(kStale), New(kStale), "x", "a"}),
       {},
       Lines({"a"}),
       kHead + Lines({New(kStale)}) + kHead + Lines({New(kStale), "x"})},
      {"EndTagEndsTheCountInsideABlock", Lines({Expiry(kPast), New(kStale), "x", kEnd, "a", "b"}),
       lines5, Lines({"a", "b"}),
       kHead + Lines({Expiry(kPast)}) + kHead + Lines({New(kStale), "x", kEnd})},
      {"TagsCountedAwayWhileCounting",
       Lines({New(kStale), kEnd, "a"}),
       {},
       Lines({"a"}),
       kHead + Lines({New(kStale), kEnd})},
      {"LapsedExpiryTagWhileCounting",
       Lines({New(kStale), Expiry(kPast), "x", kEnd, "a"}),
       {},
       Lines({"a"}),
       kHead + Lines({New(kStale)}) + kHead + Lines({Expiry(kPast), "x", kEnd})},
      {"LogOffWritesNoLog",
       Lines({Expiry(kPast), "x", kEnd, "a"}),
       {30, 1, Logging::Off},
       Lines({"a"}),
       ""},
      {"NewDaysDecideTheLapse",
       Lines({"<!--LNEW 11/07/26", "a"}),
       {30, 0, Logging::On},
       Lines({"a"}),
       kHead + Lines({"<!--LNEW 11/07/26"})},
      {"NewDaysFortyKeepsIt",
       Lines({"<!--LNEW 11/07/26", "a"}),
       {40, 1, Logging::On},
       Lines({"<!--LNEW 11/07/26", "a"}),
       ""},
      // A page of lone LFs keeps them in its copy; its log, as every log,
      // ends its lines in CR LF.
      {"LapsedBlockInALfPage",
       Lines({"a", Expiry(kPast), "x", "y", kEnd, "b"}, "\n"),
       {},
       Lines({"a", "b"}, "\n"),
       kHead + Lines({Expiry(kPast), "x", "y", kEnd})},
      {"LapsedNewTagInALfPage",
       Lines({New(kStale), "x", "a"}, "\n"),
       {},
       Lines({"a"}, "\n"),
       kHead + Lines({New(kStale), "x"})},
      {"CurrentBlockInALfPage",
       Lines({Expiry(kFuture), "x", kEnd}, "\n"),
       {},
       Lines({Expiry(kFuture), "x", kEnd}, "\n"),
       ""},
      {"LapsedBlockInAMixedPage",
       "a\n" + Expiry(kPast) + "\rx\n" + kEnd + "\r\nb\rc",
       {},
       "a\nb\r\nc\r\n",
       kHead + Lines({Expiry(kPast), "x", kEnd})},
  };
}

class RewriteCases : public testing::TestWithParam<std::size_t> {};

TEST_P(RewriteCases, GivesTheCopyAndTheLog) {
  for (const Case& c : Cases()) {
    const Output out = Rewrite(c.source, c.options, GetParam());
    EXPECT_EQ(out.end, StreamEnd::Complete) << c.name;
    EXPECT_EQ(out.copy, c.copy) << c.name;
    EXPECT_EQ(out.log, c.log) << c.name;
    EXPECT_EQ(out.copyIsSource, c.copy == c.source) << c.name;
  }
}

// Reads of one byte and of a few bytes split every line and tag in turn.
INSTANTIATE_TEST_SUITE_P(ChunkSizes, RewriteCases, testing::Values(1, 2, 3, 5, 8, 21, 4096));

std::string Repeat(std::string_view text, int count) {
  std::string repeated;
  for (int i = 0; i < count; ++i)
    repeated += text;
  return repeated;
}

struct LineEndCase {
  const char* name;
  std::string source;
  std::string copy;
  bool copyIsSource;
  friend void PrintTo(const LineEndCase& c, std::ostream* os) { *os << c.name; }
};

class LineEnds : public testing::TestWithParam<LineEndCase> {};

// CR LF and lone LF stay as they are; a lone CR, and the end of a last line
// without a terminator, become CR LF. Reads of every size up to 40 bytes put
// a read's end after every byte of the short pages, between CR and LF
// among them.
TEST_P(LineEnds, CrLfAndLoneLfStayOtherEndsBecomeCrLf) {
  const LineEndCase& c = GetParam();
  std::vector<std::size_t> chunks = {100, 4096};
  for (std::size_t chunk = 1; chunk <= 40; ++chunk) {
    chunks.push_back(chunk);
  }
  for (const std::size_t chunk : chunks) {
    const Output out = Rewrite(c.source, {}, chunk);
    EXPECT_EQ(out.copy, c.copy) << c.name << " chunk " << chunk;
    EXPECT_EQ(out.copyIsSource, c.copyIsSource) << c.name << " chunk " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineEnds,
    testing::Values(
        LineEndCase{"Empty", "", "", true},
        LineEndCase{"CrLfPage", "a\r\nb\r\n", "a\r\nb\r\n", true},
        LineEndCase{"LfPage", "a\nb\n", "a\nb\n", true},
        LineEndCase{"LoneCrPage", "a\rb\r", "a\r\nb\r\n", false},
        LineEndCase{"LastLineWithoutTerminator", "a\r\nb", "a\r\nb\r\n", false},
        LineEndCase{"LfPageLastLineWithoutTerminator", "a\nb", "a\nb\r\n", false},
        LineEndCase{"MixedPage", "a\r\nb\nc\rd\r\ne\n", "a\r\nb\nc\r\nd\r\ne\n", false},
        LineEndCase{"CrLfAndLfWithoutLoneCr", "a\r\nb\nc\r\nd\n", "a\r\nb\nc\r\nd\n", true},
        LineEndCase{"CrAtTheEnd", "a\nb\r", "a\nb\r\n", false},
        LineEndCase{"EmptyLines", "\r\n\n\r", "\r\n\n\r\n", false},
        LineEndCase{"EmptyLinesWithoutLoneCr", "\n\r\n\n", "\n\r\n\n", true},
        LineEndCase{"LineFeedThenCarriageReturn", "a\n\rb", "a\n\r\nb\r\n", false},
        LineEndCase{"CarriageReturnsBeforeALineFeed", "a\r\r\nb\n", "a\r\n\r\nb\n", false},
        LineEndCase{"BytesPassThrough", std::string("\0\xff\xe9t\xc3\xa9\t \x1a", 9),
                    std::string("\0\xff\xe9t\xc3\xa9\t \x1a\r\n", 11), false},
        LineEndCase{"LongLine", std::string(100000, 'x') + "\n", std::string(100000, 'x') + "\n",
                    true},
        // Runs of plain lines go to the copy whole; the other endings inside
        // them must still be kept or mended.
        LineEndCase{"OtherEndingsInsideLongRuns",
                    Repeat("line\r\n", 300) + "a\n" + Repeat("line\r\n", 300) + "b\r" +
                        Repeat("line\r\n", 300) + "c",
                    Repeat("line\r\n", 300) + "a\n" + Repeat("line\r\n", 300) + "b\r\n" +
                        Repeat("line\r\n", 300) + "c\r\n",
                    false},
        LineEndCase{"LfRunsAndCrLfRuns",
                    Repeat("line\n", 300) + Repeat("line\r\n", 300) + Repeat("line\n", 300),
                    Repeat("line\n", 300) + Repeat("line\r\n", 300) + Repeat("line\n", 300), true},
        // As many bytes left out as put in: the copy is as long as its
        // source, and still no copy of it.
        LineEndCase{"LeftOutLinesAsLongAsTheMendedEnds",
                    New(kStale) + "\nx\n" + std::string(New(kStale).size() + 3, '\r'),
                    Repeat("\r\n", static_cast<int>(New(kStale).size()) + 3), false},
        LineEndCase{"LoneCrBetweenLfRuns", Repeat("line\n", 300) + "a\r" + Repeat("line\n", 300),
                    Repeat("line\n", 300) + "a\r\n" + Repeat("line\n", 300), false}));

TEST(RewriteStreamTest, DateFormatErrorStopsTheFile) {
  const Output out = Rewrite(Lines({"1", "2", "3", "4", "<!--LAPSE soon", "6"}));
  EXPECT_EQ(out.end, StreamEnd::DateFormatError);
  EXPECT_EQ(out.copy, Lines({"1", "2", "3", "4"}));
  EXPECT_EQ(out.log, "");
  EXPECT_FALSE(out.copyIsSource);
}

TEST(RewriteStreamTest, DateFormatErrorInsideALapsedBlock) {
  const Output out = Rewrite(Lines({Expiry(kPast), "x", "<!--LNEW", "y"}));
  EXPECT_EQ(out.end, StreamEnd::DateFormatError);
  EXPECT_EQ(out.log, kHead + Lines({Expiry(kPast), "x"}));
}

// A date format error names its line and what stands where the date
// should, however the lines before it end, whether they went to the copy or
// the log, and with the log on or off.
TEST(RewriteStreamTest, DateFormatErrorNamesItsLineAndText) {
  const struct {
    std::string source;
    std::uint64_t line;
    const char* text;
  } cases[] = {
      {Lines({"1", "2", "<!--LAPSE 31/31/26 -->", "4"}), 3, "31/31/26"},
      {"1\n2\n3\n4\n<!--LNEW soon-->\n", 5, "soon"},
      {"1\r2\r\n3\n<!--LAPSE -->", 4, ""},
      {Lines({Expiry(kPast), "x", "y", "<!--LNEW 2/30/26", "z"}), 4, "2/30/26"},
      {Repeat("line\n", 5000) + "<!--LAPSE 13/13/26\n", 5001, "13/13/26"},
  };
  for (const auto& c : cases) {
    for (const Logging logging : {Logging::On, Logging::Off}) {
      for (const std::size_t chunk : {1, 7, 4096}) {
        const Output out = Rewrite(c.source, {30, 1, logging}, chunk);
        EXPECT_EQ(out.end, StreamEnd::DateFormatError) << c.text;
        EXPECT_EQ(out.rewritten.badDateLine, c.line) << c.text << ' ' << chunk;
        EXPECT_EQ(out.rewritten.badDateText, c.text) << c.line;
      }
    }
  }
}

TEST(RewriteStreamTest, DateFormatErrorOnATagWithoutTerminatorAtTheEnd) {
  EXPECT_EQ(Rewrite("a\r\n<!--LNEW").end, StreamEnd::DateFormatError);
}

TEST(RewriteStreamTest, FullDiskIsReported) {
  MemorySource input(std::string(10000, 'x') + "\n", 100);
  MemorySink full(5000);
  std::vector<char> readBuffer(512);
  std::vector<char> copyBuffer(512);
  BufferedWriter copy(full, copyBuffer);
  EXPECT_EQ(
      RewriteStream(input, TextUnits::Bytes, readBuffer, {copy, nullptr, "a.htm"}, RulesOf({})).end,
      StreamEnd::CopyFailed);
}

TEST(RewriteStreamTest, TodayIsAskedAfreshForEachTag) {
  int calls = 0;
  const Clock counting = [&] {
    ++calls;
    return kToday;
  };
  MemorySource input(Lines({New(kFuture), Expiry(kFuture), kEnd, "a"}), 4096);
  MemorySink sink;
  std::vector<char> readBuffer(4096);
  std::vector<char> copyBuffer(64);
  BufferedWriter copy(sink, copyBuffer);
  RewriteStream(input, TextUnits::Bytes, readBuffer, {copy, nullptr, "a.htm"},
                RulesOf({}, counting));
  EXPECT_EQ(calls, 2);
}

// Whatever the input, each source line ends up in exactly one of copy and log,
// in order.
TEST(RewriteStreamTest, CopyAndLogInterleaveToTheSource) {
  std::mt19937 random(20261208);
  const std::vector<std::string> kinds = {"text",      Expiry(kPast), Expiry(kFuture),
                                          New(kStale), New(kFuture),  kEnd};
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> source;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      source.push_back(kinds[random() % kinds.size()] + " #" + std::to_string(i));
    }
    std::string text;
    for (const auto& line : source)
      text += line + (random() % 2 != 0 ? "\n" : "\r\n");
    const RewriteOptions options{static_cast<std::int16_t>(random() % 40),
                                 static_cast<std::int16_t>(static_cast<int>(random() % 7) - 2),
                                 Logging::On};
    const Output out = Rewrite(text, options, 1 + random() % 30);
    ASSERT_EQ(out.end, StreamEnd::Complete);
    EXPECT_EQ(out.copyIsSource, out.copy == text) << "round " << round;

    std::vector<std::string> copied;
    std::vector<std::string> dropped;
    std::istringstream copyLines(out.copy);
    for (std::string line; std::getline(copyLines, line);) {
      if (line.ends_with('\r'))
        line.pop_back();
      copied.push_back(line);
    }
    std::istringstream logLines(out.log);
    for (std::string line; std::getline(logLines, line);) {
      line.pop_back();
      if (line.empty()) {
        std::getline(logLines, line);
        ASSERT_EQ(line, "page.htm\r");
        continue;
      }
      dropped.push_back(line);
    }
    std::size_t c = 0;
    std::size_t d = 0;
    for (const auto& line : source) {
      const bool inCopy = c < copied.size() && copied[c] == line;
      const bool inLog = d < dropped.size() && dropped[d] == line;
      ASSERT_NE(inCopy, inLog) << "round " << round << ": " << line;
      c += inCopy ? 1 : 0;
      d += inLog ? 1 : 0;
    }
    EXPECT_EQ(c, copied.size());
    EXPECT_EQ(d, dropped.size());
  }
}

// Each entry head of the log stands for a block whose first line and
// length the journal takes; the count runs on through the lines the copy
// takes whole, whatever their ends and wherever a chunk ends.
TEST(RewriteStreamTest, BlocksSayWhereTheirLinesStood) {
  struct BlockCase {
    const char* name;
    std::string source;
    std::int16_t lines;
    std::vector<RemovedBlock> blocks;
  };
  const std::vector<BlockCase> cases = {
      {"an expiry block after plain lines",
       Lines({"a", "b", "c", Expiry(kPast), "old", kEnd, "d"}, "\n"),
       1,
       {{4, 3}}},
      {"lone CR and CR LF ends count alike",
       "a\rb\r\nc\n" + Expiry(kPast) + "\rold\r" + kEnd + "\r\n",
       1,
       {{4, 3}}},
      {"a new-content tag with the lines it takes, then a block",
       Lines({New(kStale), "new", "mid", Expiry(kPast), kEnd}),
       1,
       {{1, 2}, {4, 2}}},
      {"a tag in a lapsed block opens an entry of its own",
       Lines({Expiry(kPast), "x", New(kStale), "y", kEnd, "z"}),
       1,
       {{1, 2}, {3, 3}}},
      {"a current block removes nothing", Lines({Expiry(kFuture), "x", kEnd}), 1, {}},
      {"a new-content tag that takes no line", Lines({"a", New(kStale), "b"}), -2, {{2, 0}}},
  };
  for (const BlockCase& item : cases) {
    for (const std::size_t chunk : {1, 3, 4096}) {
      const std::vector<RemovedBlock> blocks =
          Rewrite(item.source, {30, item.lines, Logging::On}, chunk).blocks;
      EXPECT_EQ(blocks, item.blocks) << item.name << ", chunks of " << chunk;
    }
  }
}

std::string Show(const char* date) {
  return std::string("<!--LSHOW ") + date;
}

// A show block on its day and after loses its two tag lines, each logged
// and counted as a block of its own; before, the page passes as it is. The
// page's line ends stay.
TEST(ShowBlockTest, ShowsItsContentFromItsDay) {
  struct ShowCase {
    const char* name;
    std::string source;
    std::string copy;
    std::string log;
    std::vector<RemovedBlock> blocks;
  };
  const std::string lapsedBlock = Expiry(kPast);
  const std::vector<ShowCase> cases = {
      {"its day",
       Lines({"a", Show("12/08/26"), "sale over", "-->", "b"}),
       Lines({"a", "sale over", "b"}),
       kHead + Lines({Show("12/08/26")}) + kHead + Lines({"-->"}),
       {{2, 1}, {4, 1}}},
      {"after its day, on an LF page, with blanks after the closing line",
       Lines({Show(kPast), "x", "y", "--> \t"}, "\n"),
       Lines({"x", "y"}, "\n"),
       kHead + Lines({Show(kPast)}) + kHead + Lines({"--> \t"}),
       {{1, 1}, {4, 1}}},
      {"the day before",
       Lines({Show("12/09/26"), "x", "-->"}),
       Lines({Show("12/09/26"), "x", "-->"}),
       "",
       {}},
      {"the day before, on an LF page",
       Lines({Show("12/09/26"), "x", "-->"}, "\n"),
       Lines({Show("12/09/26"), "x", "-->"}, "\n"),
       "",
       {}},
      {"a time of day on its day",
       Lines({"<!--LSHOW 12/08/26 11:00 PM", "x", "-->"}),
       Lines({"x"}),
       kHead + Lines({"<!--LSHOW 12/08/26 11:00 PM"}) + kHead + Lines({"-->"}),
       {{1, 1}, {3, 1}}},
      {"inside a lapsed block",
       Lines({lapsedBlock, Show(kPast), "x", "-->", kEnd, "a"}),
       Lines({"a"}),
       kHead + Lines({lapsedBlock, Show(kPast), "x", "-->", kEnd}),
       {{1, 5}}},
      {"inside lines a new-content tag takes",
       Lines({New(kStale), Show(kPast), "x", "-->"}),
       Lines({"x"}),
       kHead + Lines({New(kStale), Show(kPast)}) + kHead + Lines({"-->"}),
       {{1, 2}, {4, 1}}},
      {"\"-->\" outside a show block is any line",
       Lines({"-->", Show(kFuture), "-->"}),
       Lines({"-->", Show(kFuture), "-->"}),
       "",
       {}},
  };
  for (const ShowCase& item : cases) {
    for (const std::size_t chunk : {1, 2, 5, 4096}) {
      const Output out = Rewrite(item.source, {}, chunk);
      EXPECT_EQ(out.end, StreamEnd::Complete) << item.name << ", chunks of " << chunk;
      EXPECT_EQ(out.copy, item.copy) << item.name << ", chunks of " << chunk;
      EXPECT_EQ(out.log, item.log) << item.name << ", chunks of " << chunk;
      EXPECT_EQ(out.blocks, item.blocks) << item.name << ", chunks of " << chunk;
      EXPECT_EQ(out.copyIsSource, item.copy == item.source) << item.name;
      EXPECT_EQ(out.rewritten.broken, std::nullopt) << item.name;
    }
  }
}

// A broken show block stops the page on any day, named by its tag's line:
// no copy of it could be right on every day.
TEST(ShowBlockTest, BrokenBlocksStopThePage) {
  struct BrokenCase {
    const char* name;
    std::string source;
    BrokenBlock broken;
  };
  const std::string longLine = std::string(200, 'x') + "-->" + std::string(200, 'y');
  const std::string longClosing = "-->" + std::string(200, ' ') + "x";
  const std::vector<BrokenCase> cases = {
      {"no closing line", Lines({"a", Show(kPast), "x"}), {2, BrokenBlockKind::ShowUnclosed}},
      {"no closing line, before its day, last line unended",
       "a\n" + Show(kFuture) + "\nx",
       {2, BrokenBlockKind::ShowUnclosed}},
      {"\"-->\" inside a line",
       Lines({Show(kFuture), "<p>x</p> -->", "-->"}),
       {1, BrokenBlockKind::ShowHoldsCommentEnd}},
      {"\"-->\" far into a long line",
       Lines({"a", "b", Show(kPast), longLine, "-->"}, "\n"),
       {3, BrokenBlockKind::ShowHoldsCommentEnd}},
      {"a closing line with more after its blanks",
       Lines({Show(kPast), longClosing, "-->"}),
       {1, BrokenBlockKind::ShowHoldsCommentEnd}},
      {"\"-->\" on the tag line",
       Lines({Show(kFuture) + " -->", "x", "-->"}),
       {1, BrokenBlockKind::ShowHoldsCommentEnd}},
      {"\"-->\" on the last line",
       Lines({Show(kPast), "x -->"}),
       {1, BrokenBlockKind::ShowHoldsCommentEnd}},
      {"an end tag inside",
       Lines({Expiry(kFuture), Show(kPast), kEnd, "-->"}),
       {2, BrokenBlockKind::ShowHoldsTag}},
      {"an expiry tag inside",
       Lines({Show(kFuture), Expiry(kPast), "-->"}),
       {1, BrokenBlockKind::ShowHoldsTag}},
      {"a show tag inside",
       Lines({Show(kFuture), Show(kFuture), "-->", "-->"}),
       {1, BrokenBlockKind::ShowHoldsTag}},
  };
  for (const BrokenCase& item : cases) {
    for (const std::size_t chunk : {1, 3, 4096}) {
      const Output out = Rewrite(item.source, {}, chunk);
      EXPECT_EQ(out.end, StreamEnd::BrokenBlock) << item.name << ", chunks of " << chunk;
      EXPECT_EQ(out.rewritten.broken, item.broken) << item.name << ", chunks of " << chunk;
    }
  }
}

// A lapsed block that no end tag closes still runs to the end of the page,
// but the rewrite says so, by the line of the tag that opened it; a block
// that lapses later, or is closed, says nothing.
TEST(ShowBlockTest, AnUnclosedLapsedBlockIsNamed) {
  struct UnclosedCase {
    const char* name;
    std::string source;
    std::optional<BrokenBlock> broken;
  };
  const std::vector<UnclosedCase> cases = {
      {"lapsed", Lines({"a", Expiry(kPast), "x"}), BrokenBlock{2, BrokenBlockKind::ExpiryUnclosed}},
      {"after a closed one", Lines({Expiry(kPast), kEnd, "a", Expiry(kPast), Expiry(kPast), "x"}),
       BrokenBlock{4, BrokenBlockKind::ExpiryUnclosed}},
      {"current", Lines({"a", Expiry(kFuture), "x"}), std::nullopt},
      {"closed", Lines({Expiry(kPast), "x", kEnd}), std::nullopt},
  };
  for (const UnclosedCase& item : cases) {
    const Output out = Rewrite(item.source);
    EXPECT_EQ(out.end, StreamEnd::Complete) << item.name;
    EXPECT_EQ(out.rewritten.broken, item.broken) << item.name;
  }
}

}  // namespace
}  // namespace lapse::text
