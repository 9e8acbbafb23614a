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
class NextStartTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!KnownZone("Europe/Berlin", "/usr/share/zoneinfo") ||
        !KnownZone("Asia/Tokyo", "/usr/share/zoneinfo")) {
      GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
    }
  }
  static system_clock::time_point Utc(int y, unsigned m, unsigned d, int h, int min) {
    return sys_days{year{y} / month{m} / day{d}} + hours{h} + minutes{min};
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
      {"skipped by the change to summer time",
       {2, 30},
       "Europe/Berlin",
       Utc(2026, 3, 28, 12, 0),
       Utc(2026, 3, 29, 1, 30),
       "2026-03-29 03:30"},
  };
  for (const Case& item : cases) {
    const NextStart next = NextDailyStart(item.at, item.zone, item.now);
    EXPECT_EQ(next.time, item.next) << item.name;
    EXPECT_EQ(next.text, item.text) << item.name;
  }
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
