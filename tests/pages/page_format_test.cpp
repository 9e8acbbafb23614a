#include "pages/page_format.h"

#include <gtest/gtest.h>

#include <random>

#include "pages/gzip.h"
#include "pages/utf16.h"
#include "support/memory_streams.h"
#include "text/tags.h"

namespace lapse::pages {
namespace {

using testing_support::MemorySink;
using testing_support::MemorySource;

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

// Every unit, lone surrogates included, comes back as it was, whatever the
// sizes of the reads and writes.
TEST(Utf16, EveryUnitComesBackUnchanged) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    std::u16string units;
    for (int i = 0; i < 200; ++i) {
      const int pick = static_cast<int>(random() % 4);
      units += pick == 0   ? static_cast<char16_t>(random() % 0x80)
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
  using namespace text;
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

// What a file is goes by its first bytes, whatever its name says; text
// may begin with anything else, letters that also begin a magic number
// among them.
TEST(PageContent, FirstBytesTellWhatIsNoText) {
  const struct {
    std::string head;
    Content content;
  } cases[] = {
      {"<!DOCTYPE html>", Content::Text},
      {"", Content::Text},
      {"PK", Content::Text},
      {"GIF", Content::Text},
      {"%PDF-1.4\n", Content::Pdf},
      {"\x89PNG\r\n\x1A\n", Content::Image},
      {"\xFF\xD8\xFF\xE0", Content::Image},
      {"GIF89a", Content::Image},
      {std::string("RIFF\0\0\0\0WEBPVP8 ", 16), Content::Image},
      {"RIFF....WAVE", Content::Text},
      {"PK\x03\x04", Content::Archive},
      {"7z\xBC\xAF\x27\x1C", Content::Archive},
      {"BZh9", Content::Compressed},
      {std::string("\x1F\x8B\x08\0\0\0\0\0", 8), Content::Text},
  };
  for (const auto& c : cases) {
    MemorySource raw(c.head, 3);
    PageSource page(raw);
    EXPECT_EQ(page.content(), c.content) << c.head;
  }
}

// A NUL byte in the first block says a file is no 8-bit text, whatever
// the sizes of the reads that bring the block in; the block is the first
// 8 KiB (of what gzip holds, for a gzip page), and a NUL past it is not
// looked for. UTF-16 behind its mark is text, NULs and all. Whatever the
// look finds, the page then reads whole, as it would without it.
TEST(PageContent, ANulByteInTheFirstBlockIsNoText) {
  const std::string elf(
      "\x7F"
      "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3E\0",
      20);
  const std::string sqlite =
      std::string("SQLite format 3\0", 16) + std::string("\x10\0\x01\x01", 4);
  const std::string woff = std::string("wOFF\0\x01\0\0\0\0\x05\x24", 12) + "<html>";
  const std::string utf16NoMark("<\0h\0t\0m\0l\0>\0\n\0", 14);
  const std::string utf16BigNoMark("\0<\0h\0t\0m\0l\0>\0\n", 14);
  const std::string block(PeekingSource::kFirstBlock - 1, 'x');
  const struct {
    std::string name;
    std::string page;
    Content content;
    std::string text;  // what the page reads as
  } cases[] = {
      {"elf", elf, Content::Binary, elf},
      {"sqlite", sqlite, Content::Binary, sqlite},
      {"woff", woff, Content::Binary, woff},
      {"utf16 without a mark", utf16NoMark, Content::Binary, utf16NoMark},
      {"utf16 big-endian without a mark", utf16BigNoMark, Content::Binary, utf16BigNoMark},
      {"utf8 mark then a NUL",
       std::string("\xEF\xBB\xBF"
                   "a\0b",
                   6),
       Content::Binary, std::string("a\0b", 3)},
      {"utf16 with its mark", Utf16(u"<p>\n", ByteOrder::LittleEndian), Content::Text, "<p>\n"},
      {"utf16 big-endian with its mark", Utf16(u"<p>\n", ByteOrder::BigEndian), Content::Text,
       "<p>\n"},
      {"NUL as the block's last byte", block + '\0' + "y", Content::Binary, block + '\0' + "y"},
      {"NUL just past the block", block + "x" + '\0', Content::Text, block + "x" + '\0'},
      {"gzip of an elf", Gzip(elf), Content::Binary, elf},
      {"gzip of text", Gzip("<p>\n"), Content::Text, "<p>\n"},
      {"gzip of a NUL past the block", Gzip(block + "x" + '\0'), Content::Text, block + "x" + '\0'},
      {"a magic number goes first", std::string("\x89PNG\r\n\x1A\n\0\0", 10), Content::Image,
       std::string("\x89PNG\r\n\x1A\n\0\0", 10)},
  };
  for (const auto& c : cases) {
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{3}, std::size_t{5000}, std::size_t{1} << 20}) {
      MemorySource raw(c.page, chunk);
      PageSource page(raw);
      EXPECT_EQ(page.content(), c.content) << c.name << ", reads of " << chunk;
      std::string text;
      std::vector<char> buffer(777);
      while (const std::size_t count = page.Read(buffer)) {
        text.append(buffer.data(), count);
      }
      EXPECT_EQ(text, c.text) << c.name << ", reads of " << chunk;
      EXPECT_FALSE(page.Error()) << c.name;
    }
  }
}

}  // namespace
}  // namespace lapse::pages
