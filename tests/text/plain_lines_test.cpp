#include "text/plain_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace lapse::text {
namespace {

struct Case {
  const char* name;
  std::string text;
  std::size_t plain;        // of the lines that end in CR LF
  std::size_t plainLf = 0;  // of the lines that end in a lone LF
  // ctest shows the case by its name.
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class PlainLinesTest : public testing::TestWithParam<Case> {};

TEST_P(PlainLinesTest, BothSearchesFindTheWholePlainLines) {
  const Case& c = GetParam();
  EXPECT_EQ(PlainLinesPrefixByLine(c.text, LineEnding::CrLf), c.plain);
  EXPECT_EQ(PlainLinesPrefix(c.text, LineEnding::CrLf), c.plain);
  EXPECT_EQ(PlainLinesPrefixByLine(c.text, LineEnding::Lf), c.plainLf);
  EXPECT_EQ(PlainLinesPrefix(c.text, LineEnding::Lf), c.plainLf);
}

const std::string kLine62 = std::string(62, 'x') + "\r\n";  // ends at byte 63 of a block
const std::string kLfLine63 = std::string(63, 'x') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainLinesTest,
    testing::Values(
        Case{"Empty", "", 0}, Case{"OneLine", "a\r\n", 3}, Case{"EmptyLines", "\r\n\r\n", 4},
        Case{"UnfinishedLastLine", "a\r\nb", 3}, Case{"CrAtTheEnd", "a\r\nb\r", 3},
        Case{"TagLine", "a\r\n<!--LAPSE\r\n", 3}, Case{"TagFirst", "<!--ENDL\r\na\r\n", 0},
        Case{"CommentLikeButNoTagStart", "<!-x\r\n<p>\r\n<!\r\n", 15},
        Case{"TagStartInsideALine", "a <!--LAPSE\r\n", 13}, Case{"LoneLf", "a\r\nb\nc\r\n", 3},
        Case{"LoneCr", "a\r\nb\rc\r\n", 3}, Case{"LfCr", "a\n\r", 0, 2},
        Case{"WholeBlock", kLine62 + kLine62, 128},
        Case{"CrLfAcrossBlocks", std::string(63, 'x') + "\r\n" + "b\r\n", 68},
        Case{"LoneCrAtBlockEnd", std::string(63, 'x') + "\ry\r\n", 0},
        Case{"TagAtBlockStart", kLine62 + "<!--LNEW\r\n", 64},
        Case{"TagAcrossBlocks", std::string(61, 'x') + "\r\n<!--ENDL\r\n", 63},
        Case{"LessThanAtBlockEnd", std::string(61, 'x') + "\r\n<p>\r\n", 68},
        Case{"LfLines", "a\n\nb\nc", 0, 5}, Case{"LfThenCrLf", "a\nb\r\n", 0, 2},
        Case{"LfThenLoneCr", "a\nb\rc\n", 0, 2}, Case{"LfThenTag", "a\n<!--ENDL\n", 0, 2},
        Case{"LfWholeBlocks", kLfLine63 + kLfLine63, 0, 128},
        Case{"LfTagAcrossBlocks", std::string(63, 'x') + "\n<!--LNEW\n", 0, 64},
        Case{"LfCrAtBlockEnd", std::string(63, 'x') + "\n" + std::string(63, 'y') + "\r\n", 0, 64}),
    [](const auto& info) { return info.param.name; });

// The block search must give the line-by-line answer wherever line ends and
// tag starts fall: random texts made of the bytes that matter.
TEST(PlainLinesPrefix, AgreesWithTheSearchByLineOnRandomTexts) {
  std::mt19937 random(20261208);
  // Dense: breaks everywhere. Sparse: long runs of plain lines between them.
  const std::string dense = "xxxxxxxxxx<!-\r\n\r\n\r\n";
  const std::string sparse = std::string(200, 'x') + "<<!\n\r" + std::string(30, '\n');
  std::uniform_int_distribution<std::size_t> length(0, 400);
  for (int round = 0; round < 40000; ++round) {
    const std::string& alphabet = round % 2 == 0 ? dense : sparse;
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text(length(random), ' ');
    for (char& byte : text) {
      byte = alphabet[pick(random)];
      // Most line feeds of the sparse texts end a plain line (of CR LF in
      // half of them).
      if (byte == '\n' && &alphabet == &sparse && &byte != text.data() && round % 4 == 1 &&
          pick(random) % 4 != 0) {
        (&byte)[-1] = '\r';
      }
    }
    for (const LineEnding ending : {LineEnding::CrLf, LineEnding::Lf}) {
      ASSERT_EQ(PlainLinesPrefix(text, ending), PlainLinesPrefixByLine(text, ending))
          << testing::PrintToString(text);
    }
  }
}

// Long runs of plain lines with one tag or one lone line end at every offset.
TEST(PlainLinesPrefix, FindsTheEndOfLongRunsAtEveryOffset) {
  for (const std::string stop : {"<!--LAPSE 12/31/26\r\n", "lone\n", "lone\rx\r\n"}) {
    for (std::size_t lineLength = 2; lineLength < 70; lineLength += 7) {
      const std::string line = std::string(lineLength - 2, 'x') + "\r\n";
      std::string text;
      while (text.size() < 300) {
        ASSERT_EQ(PlainLinesPrefix(text + stop + line, LineEnding::CrLf), text.size())
            << text.size();
        text += line;
      }
    }
  }
  for (const std::string stop : {"<!--LAPSE 12/31/26\n", "crlf\r\n", "lone\rx\n"}) {
    for (std::size_t lineLength = 1; lineLength < 70; lineLength += 7) {
      const std::string line = std::string(lineLength - 1, 'x') + "\n";
      std::string text;
      while (text.size() < 300) {
        ASSERT_EQ(PlainLinesPrefix(text + stop + line, LineEnding::Lf), text.size()) << text.size();
        text += line;
      }
    }
  }
}

// Past the 255 blocks a byte can count, and in every tail a block leaves.
TEST(CountLineFeeds, CountsEveryLineFeedOfAnyLength) {
  for (const std::size_t size : {0, 1, 15, 16, 17, 4079, 4080, 4081, 9000}) {
    for (const std::size_t every : {1, 3, 100}) {
      std::string text(size, 'x');
      for (std::size_t at = 0; at < size; at += every) {
        text[at] = '\n';
      }
      ASSERT_EQ(CountLineFeeds(text),
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')))
          << size << " bytes, an LF every " << every;
    }
  }
}

}  // namespace
}  // namespace lapse::text
