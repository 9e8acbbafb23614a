#include "platform/clock.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace lapse::platform {
namespace {

using namespace std::chrono;
using text::DateLocale;
using text::DateOrder;
using text::EnglishDateLocale;
using text::ParseDate;
using text::TagDate;

constexpr auto MDY = DateOrder::MonthDayYear;

#if defined(_WIN32)

constexpr auto DMY = DateOrder::DayMonthYear;
constexpr auto YMD = DateOrder::YearMonthDay;

TagDate At(int y, unsigned m, unsigned d) {
  return TagDate{local_days{year{y} / month{m} / day{d}}};
}

struct WindowsLocaleCase {
  const wchar_t* name;
  DateOrder order;
  const char* march;             // the full name, in UTF-8
  const char* firstOfMarch2027;  // as a user of the locale writes it
  friend void PrintTo(const WindowsLocaleCase& c, std::ostream* os) {
    for (const wchar_t* letter = c.name; *letter != L'\0'; ++letter) {
      *os << static_cast<char>(*letter);
    }
  }
};

class WindowsLocaleTest : public testing::TestWithParam<WindowsLocaleCase> {};

TEST_P(WindowsLocaleTest, GivesTheShortDateOrderAndTheMonthNames) {
  const DateLocale locale = WindowsDateLocale(GetParam().name);
  EXPECT_EQ(locale.order, GetParam().order);
  EXPECT_EQ(locale.monthNames[2], GetParam().march);
  EXPECT_EQ(ParseDate(GetParam().firstOfMarch2027, locale), At(2027, 3, 1));
}

INSTANTIATE_TEST_SUITE_P(Locales, WindowsLocaleTest,
                         testing::Values(WindowsLocaleCase{L"en-US", MDY, "March", "3/1/27"},
                                         WindowsLocaleCase{L"en-GB", DMY, "March", "1/3/27"},
                                         WindowsLocaleCase{L"de-DE", DMY, "M\u00e4rz",
                                                           "1. M\u00e4rz 2027"},
                                         WindowsLocaleCase{L"fr-FR", DMY, "mars", "1 mars 2027"},
                                         WindowsLocaleCase{L"ja-JP", YMD, "3\u6708", "27/03/01"},
                                         // An unknown name leaves the English locale in place.
                                         WindowsLocaleCase{L"xx-NOWHERE", MDY, "March", "3/1/27"}));

TEST(UserDateLocaleTest, ReadsTheUsersRegionalSettings) {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  ASSERT_NE(GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH), 0);
  const DateLocale user = UserDateLocale();
  const DateLocale named = WindowsDateLocale(name);
  EXPECT_EQ(user.order, named.order);
  EXPECT_EQ(user.monthNames, named.monthNames);
  EXPECT_EQ(user.shortMonthNames, named.shortMonthNames);
}

#else

// ctest runs this program in the C locale.
TEST(UserDateLocaleTest, CLocaleIsMonthFirstInEnglish) {
  const DateLocale user = UserDateLocale();
  EXPECT_EQ(user.order, MDY);
  EXPECT_EQ(user.monthNames, EnglishDateLocale().monthNames);
  EXPECT_EQ(user.shortMonthNames, EnglishDateLocale().shortMonthNames);
}

#endif

// The one check of a zone the user names: a file of the database that is a
// zone file by its first bytes. The database's tables, which the C library
// would read as UTC, are refused like names that reach out of it.
class IsZoneTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    std::filesystem::create_directories(dir_ / "zoneinfo" / "Europe");
    Write(dir_ / "zoneinfo" / "Europe" / "Berlin", "TZif2...");
    Write(dir_ / "zoneinfo" / "UTC", "TZif2...");
    Write(dir_ / "zoneinfo" / "Short", "TZi");
    for (const char* table : {"zone.tab", "iso3166.tab", "tzdata.zi", "leapseconds"}) {
      Write(dir_ / "zoneinfo" / table, "# tz table\n");
    }
    Write(dir_ / "passwd", "TZif2, but outside the database");
  }
};

TEST_F(IsZoneTest, OnlyZoneFilesOfTheDatabaseAreZones) {
  const std::pair<std::string, bool> cases[] = {
      {"Europe/Berlin", true},   {"UTC", true},
      {"zone.tab", false},       {"iso3166.tab", false},
      {"tzdata.zi", false},      {"leapseconds", false},
      {"../passwd", false},      {(dir_ / "passwd").string(), false},
      {"Nowhere/Town", false},   {"", false},
      {"Europe", false},         {"Short", false},
      {"Europe//Berlin", false}, {"Europe/Berlin ", false},
      {"./UTC", false},
  };
  for (const auto& [zone, known] : cases) {
    EXPECT_EQ(IsZone(zone, dir_ / "zoneinfo"), known) << '"' << zone << '"';
  }
}

#if !defined(_WIN32)

// UseTimeZone makes that check in the database the C library reads, so
// that no name is quietly read as UTC.
TEST(UseTimeZoneTest, TakesOnlyZonesOfTheDatabase) {
  if (!IsZone("Europe/Berlin", ZoneDatabase()) || !IsZone("UTC", ZoneDatabase())) {
    GTEST_SKIP() << "this system has no zone database";
  }
  const std::pair<const char*, bool> cases[] = {
      {"Europe/Berlin", true},  {"UTC", true},
      {"zone.tab", false},      {"iso3166.tab", false},
      {"tzdata.zi", false},     {"leapseconds", false},
      {"../etc/passwd", false}, {"/etc/passwd", false},
      {"Nowhere/Town", false},  {"", false},
  };
  for (const auto& [zone, known] : cases) {
    const std::error_code error = UseTimeZone(zone);
    EXPECT_EQ(!error, known) << '"' << zone << '"';
    if (!known) {
      EXPECT_EQ(error, std::errc::invalid_argument) << '"' << zone << '"';
    }
  }
}

TEST(TimeTextTest, UtcTimesAreWrittenToTheSecond) {
  struct Case {
    sys_seconds time;
    milliseconds more;
    const char* utc;
    const char* fields;  // PartsText of UtcParts: "%Y-%m-%d %H:%M"
  };
  const Case cases[] = {
      {sys_days{1970y / 1 / 1}, {}, "1970-01-01T00:00:00Z", "1970-01-01 00:00"},
      {sys_days{2024y / 2 / 29} + 23h + 59min + 59s, 999ms, "2024-02-29T23:59:59Z",
       "2024-02-29 23:59"},
      {sys_days{2026y / 12 / 31} + 9h + 5min + 3s, {}, "2026-12-31T09:05:03Z", "2026-12-31 09:05"},
      {sys_days{2038y / 1 / 19} + 3h + 14min + 8s, {}, "2038-01-19T03:14:08Z", "2038-01-19 03:14"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utc);
    EXPECT_EQ(UtcText(c.time + c.more), c.utc);
    const std::tm parts = UtcParts(system_clock::to_time_t(c.time));
    EXPECT_EQ(PartsText(parts, "%Y-%m-%d %H:%M"), c.fields);
    EXPECT_EQ(DayOf(parts), local_days{floor<days>(c.time).time_since_epoch()});
  }
}

// A zone is a name of the system's zone database, and nothing else; today is
// taken in it from then on. The zones 26 hours apart never share a date.
TEST(UseTimeZoneTest, TakesTodayInTheZoneNamed) {
  for (const char* unknown : {"Nowhere/Land", "../../etc/passwd", "/usr/share/zoneinfo/UTC", "",
                              "Europe", "Europe/Berlin\n"}) {
    EXPECT_TRUE(UseTimeZone(unknown)) << unknown;
  }
  if (UseTimeZone("Pacific/Kiritimati")) {
    GTEST_SKIP() << "this system has no zone database";
  }
  const text::Today east = LocalToday();
  ASSERT_FALSE(UseTimeZone("Etc/GMT+12"));
  const text::Today west = LocalToday();
  EXPECT_GE(east - west, days{1});
  EXPECT_LE(east - west, days{2});
}

#else

TEST(UseTimeZoneTest, ZonesByNameAreNotKnownOnWindows) {
  EXPECT_EQ(UseTimeZone("Europe/Berlin"), std::errc::not_supported);
}

#endif

}  // namespace
}  // namespace lapse::platform
