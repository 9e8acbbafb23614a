#include "engine/page_format.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/rewriter.h"
#include "engine/tags.h"
#include "support/fake_disk.h"
#include "support/memory_streams.h"

namespace lapse::engine {
namespace {

using testing_support::FakeDisk;
using testing_support::MemorySink;
using testing_support::MemorySource;

constexpr Today kToday = std::chrono::local_days{std::chrono::year{2026} / 12 / 8};

// text (ASCII here) as UTF-16 units of the given order, with the mark.
std::string Utf16(std::u16string_view text, ByteOrder order) {
  std::string bytes = order == ByteOrder::LittleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += order == ByteOrder::LittleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

std::string Gzip(std::string_view text) {
  MemorySink out;
  GzipSink gzip(out);
  EXPECT_TRUE(gzip.Write(text) && gzip.Finish());
  return out.text;
}

std::string Gunzip(const std::string& bytes) {
  MemorySource raw(bytes, 5);
  GzipSource gzip(raw);
  std::string text;
  std::vector<char> buffer(7);
  while (const std::size_t count = gzip.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  EXPECT_FALSE(gzip.Error()) << gzip.Error().message();
  return text;
}

struct PageCase {
  const char* name;
  std::string page;
  std::string copy;
  std::string log;
  friend void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }
};

// A tag on the first line, a lapsed block, lines ending in lone LF and CR.
constexpr std::u16string_view kPage16 = u"<!--LAPSE 1/1/20\nold \u00e4\U0001F600\r<!--ENDL\r\nkept \xd800!\n";
constexpr std::u16string_view kCopy16 = u"kept \xd800!\r\n";
const std::string kLog16 = "\r\na.htm\r\n<!--LAPSE 1/1/20\r\nold \xC3\xA4\xF0\x9F\x98\x80\r\n<!--ENDL\r\n";
const std::string kPage8 = "<!--LAPSE 1/1/20\nold\r\n<!--ENDL\nkept\n";
const std::string kLog8 = "\r\na.htm\r\n<!--LAPSE 1/1/20\r\nold\r\n<!--ENDL\r\n";

class PageFormatTest : public testing::TestWithParam<PageCase> {
 protected:
  FileReport Rewrite(const std::string& name, const std::string& page) {
    disk_.AddFile("/site/" + name, page);
    auto sources = disk_.OpenFolder("/site/");
    disk_.AddFolder("/site/New");
    auto copies = disk_.OpenFolder("/site/New/");
    FileRewriter rewriter(disk_, {}, EnglishDateLocale(), [] { return kToday; });
    return rewriter.ProcessFile(**sources, **copies, name);
  }
  FakeDisk disk_;
};

TEST_P(PageFormatTest, IsRewrittenInItsOwnEncodingAndCompression) {
  const PageCase& c = GetParam();
  ASSERT_EQ(Rewrite("a.htm", c.page).outcome, FileOutcome::Rewritten);
  EXPECT_EQ(disk_.Content("/site/New/a.htm"), c.copy);
  EXPECT_EQ(disk_.Content("/site/New/Log.txt"), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageFormatTest,
    testing::Values(
        PageCase{"EightBit", kPage8, "kept\r\n", kLog8},
        PageCase{"Utf8Mark", "\xEF\xBB\xBF" + kPage8, "\xEF\xBB\xBFkept\r\n", kLog8},
        PageCase{"Utf16LittleEndian", Utf16(kPage16, ByteOrder::LittleEndian),
                 Utf16(kCopy16, ByteOrder::LittleEndian), kLog16},
        PageCase{"Utf16BigEndian", Utf16(kPage16, ByteOrder::BigEndian),
                 Utf16(kCopy16, ByteOrder::BigEndian), kLog16},
        PageCase{"Gzip", Gzip(kPage8), Gzip("kept\r\n"), kLog8},
        PageCase{"GzipOfUtf16", Gzip(Utf16(kPage16, ByteOrder::LittleEndian)),
                 Gzip(Utf16(kCopy16, ByteOrder::LittleEndian)), kLog16},
        // A mark anywhere but at the start is text.
        PageCase{"MarkLater", "a\n\xEF\xBB\xBF<!--LAPSE 1/1/20\n", "a\r\n\xEF\xBB\xBF<!--LAPSE 1/1/20\r\n",
                 ""}),
    [](const testing::TestParamInfo<PageCase>& info) { return info.param.name; });

// What cannot be rewritten whole leaves no copy: a copy of an earlier run goes.
TEST_F(PageFormatTest, DamagedPagesAndOtherCompressionsGetNoCopy) {
  const std::string gzip = Gzip(kPage8);
  const struct {
    std::string name;
    std::string page;
    FileOutcome outcome;
    std::error_code error;
  } cases[] = {
      {"cut.htm.gz", gzip.substr(0, gzip.size() - 3), FileOutcome::Failed, TruncatedGzipError()},
      {"bad.htm.gz", std::string(gzip).replace(12, 4, "junk"), FileOutcome::Failed,
       DamagedGzipError()},
      {"odd.htm", Utf16(u"a\n", ByteOrder::BigEndian) + "x", FileOutcome::Failed,
       HalfUnitError()},
      {"a.htm.zst", "\x28\xB5\x2F\xFD" + kPage8, FileOutcome::LeftAsItIs, {}},
      {"a.htm.bz2", "BZh9" + kPage8, FileOutcome::LeftAsItIs, {}},
      {"a.htm.xz", std::string("\xFD\x37\x7A\x58\x5A\x00", 6) + kPage8, FileOutcome::LeftAsItIs, {}},
      {"a.htm.zip", "PK\x03\x04" + kPage8, FileOutcome::LeftAsItIs, {}},
      {"a.html.br", kPage8, FileOutcome::LeftAsItIs, {}},
  };
  for (const auto& c : cases) {
    disk_.AddFile("/site/New/" + c.name, "a copy of an earlier run");
    const FileReport report = Rewrite(c.name, c.page);
    EXPECT_EQ(report.outcome, c.outcome) << c.name;
    EXPECT_EQ(report.failure.error, c.error) << c.name;
    EXPECT_FALSE(disk_.Content("/site/New/" + c.name)) << c.name;
    EXPECT_EQ(disk_.Content("/site/" + c.name), c.page) << c.name;
  }
}

// Every unit, lone surrogates included, comes back as it was, whatever the
// sizes of the reads and writes.
TEST(Utf16, EveryUnitComesBackUnchanged) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    std::u16string units;
    for (int i = 0; i < 200; ++i) {
      const int pick = static_cast<int>(random() % 4);
      units += pick == 0 ? static_cast<char16_t>(random() % 0x80)
               : pick == 1 ? static_cast<char16_t>(0xD800 + random() % 0x800)
                           : static_cast<char16_t>(random() % 0x10000);
    }
    for (const ByteOrder order : {ByteOrder::LittleEndian, ByteOrder::BigEndian}) {
      const std::string page = Utf16(units, order);
      MemorySource raw(page.substr(2), 1 + round % 5);
      Utf16Source source(raw, order);
      MemorySink out;
      Utf16Sink sink(out, order);
      std::vector<char> buffer(1 + round % 7);
      while (const std::size_t count = source.Read(buffer)) {
        sink.Write(std::string_view(buffer.data(), count));
      }
      ASSERT_TRUE(sink.Flush());
      ASSERT_EQ(page.substr(0, 2) + out.text, page) << "round " << round;
    }
  }
}

TEST(Gzip, StreamsOfSeveralMembersReadAsOne) {
  EXPECT_EQ(Gunzip(Gzip("first ") + Gzip("second")), "first second");
  EXPECT_EQ(Gunzip(Gzip(std::string(300000, 'x'))), std::string(300000, 'x'));
}

// The date field is counted in the page's own characters: in UTF-8 bytes
// the eleven characters of " 15 März 26" would be twelve.
TEST(TagColumns, AUtf16PageCountsCharacters) {
  DateLocale german = EnglishDateLocale();
  german.order = DateOrder::DayMonthYear;
  german.monthNames[2] = "M\xC3\xA4rz";
  const std::string line = "<!--LAPSE 15 M\xC3\xA4rz 26";
  EXPECT_FALSE(ReadTagDate(line, german, TextUnits::Bytes));
  const auto date = ReadTagDate(line, german, TextUnits::Utf8Characters);
  ASSERT_TRUE(date);
  EXPECT_EQ(std::chrono::floor<std::chrono::days>(*date),
            std::chrono::local_days{std::chrono::year{2026} / 3 / 15});
}

}  // namespace
}  // namespace lapse::engine
