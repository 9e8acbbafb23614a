#include "text/date.h"

#include <gtest/gtest.h>

#include <optional>

namespace lapse::text {
namespace {

using namespace std::chrono;

TagDate At(int y, unsigned m, unsigned d, int hh = 0, int mm = 0, int ss = 0) {
  return TagDate{local_days{year{y} / month{m} / day{d}}} + hours{hh} + minutes{mm} + seconds{ss};
}

DateLocale Locale(DateOrder order) {
  DateLocale locale = EnglishDateLocale();
  locale.order = order;
  return locale;
}

struct Accepted {
  const char* text;
  DateOrder order;
  TagDate expected;
  friend void PrintTo(const Accepted& c, std::ostream* os) { *os << '"' << c.text << '"'; }
};

class AcceptedDate : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedDate, ParsesTo) {
  const auto parsed = ParseDate(GetParam().text, Locale(GetParam().order));
  ASSERT_TRUE(parsed.has_value()) << GetParam().text;
  EXPECT_EQ(*parsed, GetParam().expected) << GetParam().text;
}

constexpr auto MDY = DateOrder::MonthDayYear;
constexpr auto DMY = DateOrder::DayMonthYear;
constexpr auto YMD = DateOrder::YearMonthDay;

INSTANTIATE_TEST_SUITE_P(
    Numeric, AcceptedDate,
    testing::Values(
        Accepted{"12/31/26", MDY, At(2026, 12, 31)}, Accepted{"  12/31/26 ", MDY, At(2026, 12, 31)},
        Accepted{"\t1/5/2027\t", MDY, At(2027, 1, 5)},
        Accepted{"31.12.2026", DMY, At(2026, 12, 31)}, Accepted{"5-1-27", DMY, At(2027, 1, 5)},
        Accepted{"2026-12-31", MDY, At(2026, 12, 31)}, Accepted{"2026/1/5", DMY, At(2026, 1, 5)},
        Accepted{"26/12/31", YMD, At(2026, 12, 31)},
        // Impossible in the locale's order, valid with day and month swapped.
        Accepted{"31/12/26", MDY, At(2026, 12, 31)}, Accepted{"12/31/26", DMY, At(2026, 12, 31)},
        // Two-digit years fall in 1950..2049.
        Accepted{"1/1/49", MDY, At(2049, 1, 1)}, Accepted{"1/1/50", MDY, At(1950, 1, 1)},
        Accepted{"1/1/00", MDY, At(2000, 1, 1)}, Accepted{"1/1/1000", MDY, At(1000, 1, 1)},
        Accepted{"2/29/2028", MDY, At(2028, 2, 29)}));

INSTANTIATE_TEST_SUITE_P(MonthNames, AcceptedDate,
                         testing::Values(Accepted{"31 Dec 2026", MDY, At(2026, 12, 31)},
                                         Accepted{"31-Dec-26", MDY, At(2026, 12, 31)},
                                         Accepted{"Dec 31 2026", DMY, At(2026, 12, 31)},
                                         Accepted{"Dec 31, 2026", MDY, At(2026, 12, 31)},
                                         Accepted{"december 31, 2026", MDY, At(2026, 12, 31)},
                                         Accepted{"5 JANUARY 27", MDY, At(2027, 1, 5)},
                                         Accepted{"Sep. 3, 2027", MDY, At(2027, 9, 3)}));

INSTANTIATE_TEST_SUITE_P(
    TimesOfDay, AcceptedDate,
    testing::Values(Accepted{"12/31/26 17:05", MDY, At(2026, 12, 31, 17, 5)},
                    Accepted{"12/31/26 9:05:30", MDY, At(2026, 12, 31, 9, 5, 30)},
                    Accepted{"12/31/26 5:05 pm", MDY, At(2026, 12, 31, 17, 5)},
                    Accepted{"12/31/26 12:00AM", MDY, At(2026, 12, 31, 0, 0)},
                    Accepted{"12/31/26 12:30 PM", MDY, At(2026, 12, 31, 12, 30)},
                    Accepted{"31 Dec 2026 23:59:59", MDY, At(2026, 12, 31, 23, 59, 59)}));

class RefusedDate : public testing::TestWithParam<const char*> {};

TEST_P(RefusedDate, IsNoDate) {
  EXPECT_FALSE(ParseDate(GetParam(), Locale(MDY)).has_value()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Refused, RefusedDate,
                         testing::Values("", "   ", "12/31/26-", "12/31", "Dec 31", "17:00",
                                         "12/31/2", "12/31/202", "1/1/026", "2/29/2026", "13/13/26",
                                         "0/1/26", "1/0/26", "12/31-26", "12 31 26",
                                         "12/31/26 24:00", "12/31/26 9:60", "12/31/26 13:00 PM",
                                         "12/31/26 9:5", "12/31/26 9:05 XM", "12/31/26 9:05 PM x",
                                         "12/31/26 -->", "1/1/0999", "Foo 31 2026", "31 Dec Jan",
                                         "<!-- 12/31/26", "Dec 31,, 2026", "123/1/26",
                                         "12/31/26:00"));

// A year longer than any int once overflowed while being read; the asan build
// stops on that, the others refuse the text as they should.
TEST(ParseDateTest, OverlongYearIsRefused) {
  for (const DateOrder order : {MDY, DMY, YMD}) {
    for (const char* text : {"1/1/99999999999", "31 Dec 99999999999", "Dec 31, 4294967296",
                             "99999999999/1/1", "4294969322-12-31"}) {
      EXPECT_FALSE(ParseDate(text, Locale(order)).has_value()) << text;
    }
  }
}

// Each order with a date that fits it, one that fits only the other order
// of day and month, and one that fits none: a named order reads the first
// alone; one taken from the locale reads the second too, and says so.
struct OrderCase {
  DateOrder order;
  const char* text;
  std::optional<TagDate> fromLocale;  // read so with the locale's order
  bool otherOrder;                    // ... and in the other order of day and month
  std::optional<TagDate> given;       // read so with the order named
  friend void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << DateOrderName(c.order) << " \"" << c.text << '"';
  }
};

class DateOrderInForce : public testing::TestWithParam<OrderCase> {};

TEST_P(DateOrderInForce, ReadsOneWayOrSaysSo) {
  for (const bool given : {false, true}) {
    DateLocale locale = Locale(GetParam().order);
    locale.orderGiven = given;
    const std::optional<TagDate> expected = given ? GetParam().given : GetParam().fromLocale;
    const std::optional<DateReading> reading = ReadDate(GetParam().text, locale);
    EXPECT_EQ(ParseDate(GetParam().text, locale), expected) << "given: " << given;
    ASSERT_EQ(reading.has_value(), expected.has_value()) << "given: " << given;
    if (reading) {
      EXPECT_EQ(reading->date, *expected);
      EXPECT_EQ(reading->otherOrder, !given && GetParam().otherOrder);
    }
  }
}

constexpr std::optional<TagDate> kNoDate;

INSTANTIATE_TEST_SUITE_P(
    EveryOrder, DateOrderInForce,
    testing::Values(OrderCase{MDY, "12/31/26", At(2026, 12, 31), false, At(2026, 12, 31)},
                    OrderCase{MDY, "31/12/26", At(2026, 12, 31), true, kNoDate},
                    OrderCase{MDY, "31/31/26", kNoDate, false, kNoDate},
                    OrderCase{DMY, "31.12.26", At(2026, 12, 31), false, At(2026, 12, 31)},
                    OrderCase{DMY, "12/31/99", At(1999, 12, 31), true, kNoDate},
                    OrderCase{DMY, "31/31/26", kNoDate, false, kNoDate},
                    OrderCase{YMD, "26/12/31", At(2026, 12, 31), false, At(2026, 12, 31)},
                    OrderCase{YMD, "26/31/12", At(2026, 12, 31), true, kNoDate},
                    OrderCase{YMD, "26/31/31", kNoDate, false, kNoDate},
                    // A date that fits both ways is read in the order in force.
                    OrderCase{DMY, "12/01/26", At(2026, 1, 12), false, At(2026, 1, 12)},
                    // A four-digit year first, and a month name, fit any order.
                    OrderCase{DMY, "2026-12-31", At(2026, 12, 31), false, At(2026, 12, 31)},
                    OrderCase{MDY, "31 Dec 2026", At(2026, 12, 31), false, At(2026, 12, 31)},
                    // The time of day goes with the date either way.
                    OrderCase{MDY, "31/12/26 17:05", At(2026, 12, 31, 17, 5), true, kNoDate}));

TEST(DateLocaleTest, OrderFollowsTheFormat) {
  EXPECT_EQ(DateOrderFromFormat("%m/%d/%y"), MDY);
  EXPECT_EQ(DateOrderFromFormat("%d.%m.%Y"), DMY);
  EXPECT_EQ(DateOrderFromFormat("%e/%m/%y"), DMY);
  EXPECT_EQ(DateOrderFromFormat("%Y-%m-%d"), YMD);
  EXPECT_EQ(DateOrderFromFormat("%F"), YMD);
  EXPECT_EQ(DateOrderFromFormat("%D"), MDY);
  EXPECT_EQ(DateOrderFromFormat("dd/MM/yyyy"), DMY);
  EXPECT_EQ(DateOrderFromFormat("M/d/yyyy"), MDY);
  EXPECT_EQ(DateOrderFromFormat("yyyy-MM-dd"), YMD);
  EXPECT_EQ(DateOrderFromFormat(""), MDY);
}

TEST(DateLocaleTest, LocaleMonthNamesAreRead) {
  DateLocale german = Locale(DMY);
  german.monthNames[11] = "Dezember";
  german.shortMonthNames[11] = "Dez.";
  EXPECT_EQ(ParseDate("31. Dezember 2026", german), At(2026, 12, 31));
  EXPECT_EQ(ParseDate("31 dez 2026", german), At(2026, 12, 31));
  EXPECT_EQ(ParseDate("31 Dec 2026", german), At(2026, 12, 31));
}

TEST(DateFormatTest, TagDatesReadBack) {
  EXPECT_EQ(FormatTagDate(At(2026, 1, 5)), "2026-01-05");
  EXPECT_EQ(FormatTagDate(At(2026, 1, 5, 17, 30)), "2026-01-05 17:30");
}

}  // namespace
}  // namespace lapse::text
