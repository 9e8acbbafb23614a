#include "front/shown_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace lapse::front {
namespace {

constexpr TextEncoding kUtf8 = TextEncoding::Utf8;
constexpr TextEncoding kEightBit = TextEncoding::EightBit;

struct Piece {
  std::string bytes;
  TextEncoding encoding;
  bool operator==(const Piece&) const = default;
};

struct Case {
  const char* name;
  std::string text;
  bool more;
  std::vector<Piece> runs;
  bool cut;
};

std::ostream& operator<<(std::ostream& out, const Piece& run) {
  return out << (run.encoding == kUtf8 ? "UTF-8 " : "8-bit ") << testing::PrintToString(run.bytes);
}

class TextToShowTest : public testing::TestWithParam<Case> {};

TEST_P(TextToShowTest, EachLineIsReadInTheEncodingItIsValidIn) {
  const Case& c = GetParam();
  const ShownText shown = TextToShow(c.text, c.more);
  std::vector<Piece> runs;
  for (const TextRun& run : shown.runs) {
    runs.push_back({std::string(run.bytes), run.encoding});
  }
  EXPECT_EQ(runs, c.runs);
  EXPECT_EQ(shown.cut, c.cut);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, TextToShowTest,
    testing::Values(
        Case{"Empty", "", false, {}, false},
        Case{"AsciiReadsAsUtf8", "a.htm\r\nold\r\n", false, {{"a.htm\r\nold\r\n", kUtf8}}, false},
        Case{"Latin1Page",
             "a.htm\r\nCaf\xE9\r\n",
             false,
             {{"a.htm\r\nCaf\xE9\r\n", kEightBit}},
             false},
        Case{"Utf8Page", "Caf\xC3\xA9\r\n", false, {{"Caf\xC3\xA9\r\n", kUtf8}}, false},
        Case{"LastLineWithoutBreak", "ok\r\nCaf\xE9", false, {{"ok\r\nCaf\xE9", kEightBit}}, false},
        // Pages of both kinds in one log: each keeps its own encoding, and
        // the ASCII lines between them go with the run before.
        Case{"MixedLog",
             "a.htm\r\nCaf\xE9\r\n\r\nb.htm\r\nCaf\xC3\xA9\r\nend\r\n",
             false,
             {{"a.htm\r\nCaf\xE9\r\n\r\nb.htm\r\n", kEightBit}, {"Caf\xC3\xA9\r\nend\r\n", kUtf8}},
             false},
        // Bytes that only look like the start of UTF-8.
        Case{"LoneContinuationByte", "x\x80y\n", false, {{"x\x80y\n", kEightBit}}, false},
        Case{"LeadByteWithoutItsFollowers", "\xC3 \n", false, {{"\xC3 \n", kEightBit}}, false},
        Case{"OverlongSlash", "\xC0\xAF\n", false, {{"\xC0\xAF\n", kEightBit}}, false},
        Case{"Surrogate", "\xED\xA0\x80\n", false, {{"\xED\xA0\x80\n", kEightBit}}, false},
        Case{"BeyondTheLastCodePoint",
             "\xF4\x90\x80\x80\n",
             false,
             {{"\xF4\x90\x80\x80\n", kEightBit}},
             false},
        Case{"FourByteCharacter",
             "\xF0\x9F\x98\x80\n",
             false,
             {{"\xF0\x9F\x98\x80\n", kUtf8}},
             false},
        // Cut short: the last, partial line is left out, so that a
        // character split by the cut does not turn its line into 8-bit text.
        Case{"CutInsideACharacter", "one\r\ntwo Caf\xC3", true, {{"one\r\n", kUtf8}}, true},
        Case{"CutWithoutALineBreak",
             "Caf\xC3\xA9 Caf\xE9",
             true,
             {{"Caf\xC3\xA9 Caf\xE9", kEightBit}},
             true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The caption names the file first and its folder as the system writes it,
// on one line whatever the folder's name holds.
TEST(TextWindowTitleTest, NamesTheFileThenItsFolder) {
  const std::string slash(1, static_cast<char>(std::filesystem::path::preferred_separator));
  const struct {
    std::filesystem::path file;
    std::string title;
  } cases[] = {
      {std::filesystem::path("site") / "New" / "Log.txt", "Log.txt in site" + slash + "New"},
      {std::filesystem::path("my site") / "Log.txt", "Log.txt in my site"},
      {std::filesystem::path("two\nlines") / "Log.txt", "Log.txt in two\\nlines"},
      {std::filesystem::path("Log.txt"), "Log.txt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextWindowTitle(c.file), c.title) << c.file;
  }
}

}  // namespace
}  // namespace lapse::front
