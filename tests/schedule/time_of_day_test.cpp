#include "schedule/time_of_day.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace lapse::schedule {
namespace {

using namespace std::chrono;

TEST(TimeOfDayTest, OnlyTimesOfDayAsHHMMAreTaken) {
  const std::pair<const char*, std::optional<TimeOfDay>> cases[] = {
      {"00:00", TimeOfDay{0, 0}},  {"00:05", TimeOfDay{0, 5}}, {"23:59", TimeOfDay{23, 59}},
      {"07:30", TimeOfDay{7, 30}}, {"25:00", std::nullopt},    {"24:00", std::nullopt},
      {"12:60", std::nullopt},     {"7pm", std::nullopt},      {"7:5", std::nullopt},
      {"7:05", std::nullopt},      {"07:5", std::nullopt},     {"", std::nullopt},
      {"07:300", std::nullopt},    {" 7:30", std::nullopt},    {"07-30", std::nullopt},
      {"ab:cd", std::nullopt},     {"-1:30", std::nullopt},
  };
  for (const auto& [text, time] : cases) {
    EXPECT_EQ(ParseTimeOfDay(text), time) << '"' << text << '"';
  }
  EXPECT_EQ(FormatTimeOfDay({7, 5}), "07:05");
}

class ZoneTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    std::filesystem::create_directories(dir_ / "zoneinfo" / "Europe");
    Write(dir_ / "zoneinfo" / "Europe" / "Berlin", "TZif2...");
    Write(dir_ / "zoneinfo" / "UTC", "TZif2...");
    Write(dir_ / "zoneinfo" / "notes", "plain text");
    Write(dir_ / "zoneinfo" / "zone.tab", "# tz zone descriptions\n");
    Write(dir_ / "secret", "TZif2 outside the database");
  }
};

TEST_F(ZoneTest, ZonesAreNamesOfZoneFilesInTheDatabase) {
  const std::pair<const char*, bool> cases[] = {
      {"Europe/Berlin", true},   {"UTC", true},
      {"Nowhere/City", false},   {"Europe", false},
      {"notes", false},          {"../secret", false},
      {"Europe/../UTC", false},  {"./UTC", false},
      {"Europe//Berlin", false}, {"/UTC", false},
      {"UTC/", false},           {"", false},
      {"Europe/Berlin ", false}, {"Europe/Berlin\n", false},
      {"-UTC", false},           {"zone.tab", false},
  };
  for (const auto& [zone, known] : cases) {
    EXPECT_EQ(KnownZone(zone, dir_ / "zoneinfo"), known) << '"' << zone << '"';
  }
  EXPECT_FALSE(KnownZone((dir_ / "secret").string(), dir_ / "zoneinfo"));
}

#if !defined(_WIN32)
system_clock::time_point Utc(int y, unsigned m, unsigned d, int h, int min) {
  return sys_days{year{y} / month{m} / day{d}} + hours{h} + minutes{min};
}

class NextStartTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!KnownZone("Europe/Berlin", "/usr/share/zoneinfo") ||
        !KnownZone("Asia/Tokyo", "/usr/share/zoneinfo")) {
      GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
    }
  }
};

TEST_F(NextStartTest, TheNextStartIsTheTimeInTheZoneAfterNow) {
  struct Case {
    const char* name;
    TimeOfDay at;
    const char* zone;
    system_clock::time_point now;
    system_clock::time_point next;
    const char* text;
  };
  const Case cases[] = {
      {"later today",
       {12, 0},
       "UTC",
       Utc(2026, 12, 8, 10, 0),
       Utc(2026, 12, 8, 12, 0),
       "2026-12-08 12:00"},
      {"tomorrow",
       {0, 5},
       "UTC",
       Utc(2026, 12, 8, 10, 0),
       Utc(2026, 12, 9, 0, 5),
       "2026-12-09 00:05"},
      {"at the time itself: the day after",
       {10, 0},
       "UTC",
       Utc(2026, 12, 8, 10, 0),
       Utc(2026, 12, 9, 10, 0),
       "2026-12-09 10:00"},
      {"ahead of UTC",
       {0, 5},
       "Asia/Tokyo",
       Utc(2026, 12, 8, 10, 0),
       Utc(2026, 12, 8, 15, 5),
       "2026-12-09 00:05"},
      {"winter time",
       {0, 5},
       "Europe/Berlin",
       Utc(2026, 12, 8, 10, 0),
       Utc(2026, 12, 8, 23, 5),
       "2026-12-09 00:05"},
      {"summer time",
       {0, 5},
       "Europe/Berlin",
       Utc(2026, 7, 8, 10, 0),
       Utc(2026, 7, 8, 22, 5),
       "2026-07-09 00:05"},
      {"skipped by the change to summer time: the first moment after it",
       {2, 30},
       "Europe/Berlin",
       Utc(2026, 3, 28, 12, 0),
       Utc(2026, 3, 29, 1, 0),
       "2026-03-29 03:00"},
  };
  for (const Case& item : cases) {
    const NextStart next = NextDailyStart(item.at, item.zone, item.now);
    EXPECT_EQ(next.time, item.next) << item.name;
    EXPECT_EQ(next.text, item.text) << item.name;
  }
}

// Berlin's clocks go from 02:00 to 03:00 on 28 March 2027 (at 01:00 UTC)
// and from 03:00 back to 02:00 on 31 October 2027 (at 01:00 UTC). An update
// at 02:30 starts at 03:00 on the first day, once at the first 02:30 on the
// second; what the user is told and when cron's look starts it agree.
struct ChangeDay {
  const char* name;
  TimeOfDay at;
  system_clock::time_point dayBefore;  // noon UTC the day before
  system_clock::time_point start;
  const char* text;
  system_clock::time_point after;  // the start of the day after
  friend void PrintTo(const ChangeDay& c, std::ostream* os) { *os << c.name; }
};

class ClockChangeTest : public NextStartTest, public testing::WithParamInterface<ChangeDay> {};

TEST_P(ClockChangeTest, TheUpdateStartsOnceThatDay) {
  const ChangeDay& day = GetParam();
  const NextStart next = NextDailyStart(day.at, "Europe/Berlin", day.dayBefore);
  EXPECT_EQ(next.time, day.start);
  EXPECT_EQ(next.text, day.text);
  EXPECT_EQ(NextDailyStart(day.at, "Europe/Berlin", day.start).time, day.after);
  EXPECT_EQ(NextDailyStart(day.at, "Europe/Berlin", day.start - minutes{1}).time, day.start);

  // cron looks each quarter hour from the day before to the day after: the
  // looks that start the update are the two starts, and no other.
  std::vector<system_clock::time_point> due;
  for (system_clock::time_point look = day.dayBefore; look < day.after + hours{1};
       look += minutes{15}) {
    if (DueAt(day.at, "Europe/Berlin", look, kCronLook)) {
      due.push_back(look);
    }
  }
  EXPECT_EQ(due, (std::vector<system_clock::time_point>{day.start, day.after}));
}

INSTANTIATE_TEST_SUITE_P(
    Berlin2027, ClockChangeTest,
    testing::Values(ChangeDay{"an ordinary summer day",
                              {2, 30},
                              Utc(2027, 6, 14, 12, 0),
                              Utc(2027, 6, 15, 0, 30),
                              "2027-06-15 02:30",
                              Utc(2027, 6, 16, 0, 30)},
                    ChangeDay{"to summer time: 02:30 is skipped and starts at 03:00",
                              {2, 30},
                              Utc(2027, 3, 27, 12, 0),
                              Utc(2027, 3, 28, 1, 0),
                              "2027-03-28 03:00",
                              Utc(2027, 3, 29, 0, 30)},
                    ChangeDay{"to summer time: 02:00 is skipped too",
                              {2, 0},
                              Utc(2027, 3, 27, 12, 0),
                              Utc(2027, 3, 28, 1, 0),
                              "2027-03-28 03:00",
                              Utc(2027, 3, 29, 0, 0)},
                    ChangeDay{"to summer time: 03:00 is there",
                              {3, 0},
                              Utc(2027, 3, 27, 12, 0),
                              Utc(2027, 3, 28, 1, 0),
                              "2027-03-28 03:00",
                              Utc(2027, 3, 29, 1, 0)},
                    ChangeDay{"to winter time: 02:30 comes twice and starts at the first",
                              {2, 30},
                              Utc(2027, 10, 30, 12, 0),
                              Utc(2027, 10, 31, 0, 30),
                              "2027-10-31 02:30",
                              Utc(2027, 11, 1, 1, 30)},
                    ChangeDay{"to winter time: 02:00 comes twice too",
                              {2, 0},
                              Utc(2027, 10, 30, 12, 0),
                              Utc(2027, 10, 31, 0, 0),
                              "2027-10-31 02:00",
                              Utc(2027, 11, 1, 1, 0)}),
    [](const testing::TestParamInfo<ChangeDay>& info) { return std::to_string(info.index); });

// cron's quarter hours fall on the zone's minute, and a look that comes a
// few seconds early is the look at the minute; one that is not on a
// quarter hour of the time after a skipped time is the first after it.
TEST_F(NextStartTest, CronsLookStartsTheUpdateOnceAQuarterHourFromItsStart) {
  const struct {
    TimeOfDay at;
    system_clock::time_point look;
    bool due;
  } cases[] = {
      {{2, 30}, Utc(2027, 6, 15, 0, 30) - seconds{2}, true},
      {{2, 30}, Utc(2027, 6, 15, 0, 30) + seconds{20}, true},
      {{2, 30}, Utc(2027, 6, 15, 0, 15), false},
      {{2, 30}, Utc(2027, 6, 15, 0, 45), false},
      {{0, 5}, Utc(2027, 6, 14, 22, 5), true},
      {{0, 5}, Utc(2027, 6, 15, 22, 5), true},
      {{2, 20}, Utc(2027, 3, 28, 0, 50), false},
      {{2, 20}, Utc(2027, 3, 28, 1, 5), true},
      {{2, 20}, Utc(2027, 3, 28, 1, 20), false},
  };
  for (const auto& item : cases) {
    EXPECT_EQ(DueAt(item.at, "Europe/Berlin", item.look, kCronLook), item.due)
        << FormatTimeOfDay(item.at) << " at " << LocalText(item.look);
  }
}

TEST_F(NextStartTest, SkippedStartsAreTheDaysWithoutTheTime) {
  const system_clock::time_point from = Utc(2026, 12, 8, 10, 0);
  const std::vector<std::string> skipped =
      SkippedStarts({2, 30}, "Europe/Berlin", from, days{3 * 365});
  EXPECT_EQ(skipped, (std::vector<std::string>{"2027-03-28 03:00:00", "2028-03-26 03:00:00",
                                               "2029-03-25 03:00:00"}));
  EXPECT_TRUE(SkippedStarts({3, 0}, "Europe/Berlin", from, days{3 * 365}).empty());
  EXPECT_TRUE(SkippedStarts({2, 30}, "UTC", from, days{3 * 365}).empty());
  EXPECT_TRUE(SkippedStarts({2, 30}, "Europe/Berlin", Utc(2027, 3, 28, 1, 0), days{300}).empty());
}

TEST_F(NextStartTest, TheProcessKeepsItsOwnZone) {
  ::setenv("TZ", "Asia/Tokyo", 1);
  NextDailyStart({0, 5}, "Europe/Berlin", Utc(2026, 12, 8, 10, 0));
  ASSERT_NE(std::getenv("TZ"), nullptr);
  EXPECT_STREQ(std::getenv("TZ"), "Asia/Tokyo");
  EXPECT_EQ(LocalText(Utc(2026, 12, 8, 10, 0)), "2026-12-08 19:00");
  ::unsetenv("TZ");
  NextDailyStart({0, 5}, "Europe/Berlin", Utc(2026, 12, 8, 10, 0));
  EXPECT_EQ(std::getenv("TZ"), nullptr);
}
#endif

}  // namespace
}  // namespace lapse::schedule
