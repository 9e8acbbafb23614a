#include "text/tags.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace lapse::text {
namespace {

using namespace std::chrono;

TagDate At(int y, unsigned m, unsigned d) {
  return TagDate{local_days{year{y} / month{m} / day{d}}};
}
Today Day(int y, unsigned m, unsigned d) {
  return local_days{year{y} / month{m} / day{d}};
}

TEST(TagRecognition, PrefixInColumnOneSameCase) {
  EXPECT_TRUE(IsExpiryTag("<!--LAPSE 12/31/26 -->"));
  EXPECT_TRUE(IsExpiryTag("<!--LAPSE"));
  EXPECT_FALSE(IsExpiryTag(" <!--LAPSE 12/31/26"));
  EXPECT_FALSE(IsExpiryTag("<!--lapse 12/31/26"));
  EXPECT_TRUE(IsEndTag("<!--ENDL-->"));
  EXPECT_TRUE(IsEndTag("<!--ENDLESS"));  // the prefix alone decides
  EXPECT_FALSE(IsEndTag("<!--endl-->"));
  EXPECT_FALSE(IsEndTag(" <!--ENDL-->"));
  EXPECT_TRUE(IsNewTag("<!--LNEW 1/5/26 -->"));
  EXPECT_FALSE(IsNewTag("<!--LNE"));
}

struct TagDateCase {
  const char* line;
  std::optional<TagDate> expected;
  friend void PrintTo(const TagDateCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }
};

class TagDateReading : public testing::TestWithParam<TagDateCase> {};

TEST_P(TagDateReading, ReadsTheDateField) {
  const DateLocale locale = EnglishDateLocale();
  const std::string line = GetParam().line;
  EXPECT_EQ(ReadTagDate(line, locale), GetParam().expected) << line;
  // Only the head of a line takes part.
  EXPECT_EQ(ReadTagDate(std::string_view(line).substr(0, kLineHeadLength), locale),
            GetParam().expected)
      << line;
}

INSTANTIATE_TEST_SUITE_P(Cases, TagDateReading,
                         testing::Values(
                             // The nine-character candidate: a blank and an eight-character date.
                             TagDateCase{"<!--LAPSE 12/31/26 -->", At(2026, 12, 31)},
                             // Written without a blank, the date starts right after the prefix.
                             TagDateCase{"<!--LAPSE12/31/26-->", At(2026, 12, 31)},
                             // A new-content tag's column 9 is never read.
                             TagDateCase{"<!--LNEW 12/31/26 -->", At(2026, 12, 31)},
                             TagDateCase{"<!--LNEW-12/31/26 -->", At(2026, 12, 31)},
                             // Ten-character dates after a blank are read whole at length 11.
                             TagDateCase{"<!--LAPSE 12/31/2026 -->", At(2026, 12, 31)},
                             TagDateCase{"<!--LAPSE 2026-12-31 -->", At(2026, 12, 31)},
                             TagDateCase{"<!--LAPSE 5 Jan 2027-->", At(2027, 1, 5)},
                             TagDateCase{"<!--LNEW 2026-12-31 -->", At(2026, 12, 31)},
                             TagDateCase{"<!--LNEW 12/31/2026", At(2026, 12, 31)},
                             // Nine and eight give "1/5/26 1", which is no date; six is taken.
                             TagDateCase{"<!--LAPSE1/5/26 1", At(2026, 1, 5)},
                             TagDateCase{"<!--LAPSE 1/5/26-->", At(2026, 1, 5)},
                             TagDateCase{"<!--LNEW 1/5/26 12:00", At(2026, 1, 5)},
                             // Every candidate of a three-digit year cuts it or keeps all of it.
                             TagDateCase{"<!--LAPSE1/5/261", std::nullopt},
                             // A date cut in two is no reading: the year would be 2020.
                             TagDateCase{"<!--LAPSE 12/31/20261", std::nullopt},
                             // The date's first digit in column 9 would be lost.
                             TagDateCase{"<!--LNEW11/5/26", std::nullopt},
                             TagDateCase{"<!--LAPSE", std::nullopt},
                             TagDateCase{"<!--LNEW", std::nullopt},
                             TagDateCase{"<!--LNEW ", std::nullopt},
                             TagDateCase{"<!--LAPSE soon -->", std::nullopt},
                             TagDateCase{"<!--LAPSE 2/30/26 -->", std::nullopt}));

// What a message names of a tag's date: the date as written where it is
// read, and what stands in its place where it is not.
TEST(TagDateText, NamesTheDateAsWritten) {
  DateLocale dayFirst = EnglishDateLocale();
  dayFirst.order = DateOrder::DayMonthYear;
  const struct {
    const char* line;
    std::optional<std::string_view> read;  // the text of a date read
    bool otherOrder;
    std::string_view field;  // what stands where the date should
  } cases[] = {
      {"<!--LAPSE 12/31/99 -->", "12/31/99", true, "12/31/99"},
      {"<!--LNEW 12/01/26 -->", "12/01/26", false, "12/01/26"},
      {"<!--LAPSE 31/12/2026 -->", "31/12/2026", false, "31/12/2026"},
      {"<!--LAPSE 31/31/26 -->", std::nullopt, false, "31/31/26"},
      {"<!--LAPSE 31/31/26-->", std::nullopt, false, "31/31/26"},
      {"<!--LAPSE 31/31/2026 -->", std::nullopt, false, "31/31/2026"},
      {"<!--LAPSE soon", std::nullopt, false, "soon"},
      {"<!--LAPSE -->", std::nullopt, false, ""},
      {"<!--LAPSE", std::nullopt, false, ""},
      {"<!--LAPSE 31-Dex-26 -->", std::nullopt, false, "31-Dex-26"},
  };
  for (const auto& c : cases) {
    const auto reading = ReadTagDateAsWritten(c.line, dayFirst);
    ASSERT_EQ(reading.has_value(), c.read.has_value()) << c.line;
    if (reading) {
      EXPECT_EQ(reading->text, *c.read) << c.line;
      EXPECT_EQ(reading->otherOrder, c.otherOrder) << c.line;
    }
    EXPECT_EQ(TagDateField(c.line), c.field) << c.line;
  }
}

TEST(LapseTests, ExpiryTagLapsesTheDayAfterItsDate) {
  const Today today = Day(2026, 12, 8);
  EXPECT_FALSE(ExpiryTagLapsed(At(2026, 12, 8), today));
  EXPECT_FALSE(ExpiryTagLapsed(At(2026, 12, 8) + hours{23}, today));
  EXPECT_TRUE(ExpiryTagLapsed(At(2026, 12, 7), today));
  EXPECT_TRUE(ExpiryTagLapsed(At(2026, 12, 7) + hours{23} + minutes{59}, today));
  EXPECT_FALSE(ExpiryTagLapsed(At(2027, 1, 1), today));
}

TEST(LapseTests, NewTagCountsNewDays) {
  // Dated the 1st of a 31-day month, with 30 days: current to the 31st.
  EXPECT_FALSE(NewTagLapsed(At(2026, 12, 1), 30, Day(2026, 12, 31)));
  EXPECT_TRUE(NewTagLapsed(At(2026, 12, 1), 30, Day(2027, 1, 1)));
  EXPECT_FALSE(NewTagLapsed(At(2026, 12, 8), 0, Day(2026, 12, 8)));
  EXPECT_TRUE(NewTagLapsed(At(2026, 12, 7), 0, Day(2026, 12, 8)));
  EXPECT_TRUE(NewTagLapsed(At(2026, 12, 8), -1, Day(2026, 12, 8)));
  EXPECT_FALSE(NewTagLapsed(At(9999, 12, 31), 32767, Day(2026, 12, 8)));
  EXPECT_TRUE(NewTagLapsed(At(1000, 1, 1), -32768, Day(2026, 12, 8)));
}

}  // namespace
}  // namespace lapse::text
