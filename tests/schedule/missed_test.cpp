#include "schedule/missed.h"

#include <gtest/gtest.h>

#include <chrono>

namespace lapse::schedule {
namespace {

using namespace std::chrono;

system_clock::time_point Utc(int y, unsigned m, unsigned d, int h, int min) {
  return sys_days{year{y} / month{m} / day{d}} + hours{h} + minutes{min};
}

TEST(MissedTest, ThePreviousStartIsTheLastOneAtOrBeforeTheTime) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows starts a task in the machine's own time zone, not a zone by name";
#endif
  if (!KnownZone("Europe/Berlin", "/usr/share/zoneinfo")) {
    GTEST_SKIP() << "the zone database (Debian's tzdata) is not installed";
  }
  const struct {
    const char* name;
    TimeOfDay at;
    const char* zone;
    system_clock::time_point time;
    system_clock::time_point previous;
  } cases[] = {
      {"earlier today", {0, 5}, "UTC", Utc(2026, 12, 8, 10, 0), Utc(2026, 12, 8, 0, 5)},
      {"yesterday", {12, 0}, "UTC", Utc(2026, 12, 8, 10, 0), Utc(2026, 12, 7, 12, 0)},
      {"at the time itself", {10, 0}, "UTC", Utc(2026, 12, 8, 10, 0), Utc(2026, 12, 8, 10, 0)},
      {"winter time", {0, 5}, "Europe/Berlin", Utc(2026, 12, 8, 10, 0), Utc(2026, 12, 7, 23, 5)},
      {"skipped by the change to summer time",
       {2, 30},
       "Europe/Berlin",
       Utc(2026, 3, 29, 12, 0),
       Utc(2026, 3, 29, 1, 0)},
  };
  for (const auto& item : cases) {
    EXPECT_EQ(PreviousDailyStart(item.at, item.zone, item.time), item.previous) << item.name;
  }
}

// The newest update of the entry's folder counts, whatever the order of
// the lines and the updates of other folders.
TEST(MissedTest, TheNewestUpdateOfTheFolderIsTaken) {
  Entry entry;
  entry.folder = "/srv/site";
  entry.at = {6, 30};
  entry.scheduledAt = Utc(2026, 12, 1, 0, 0);
  const auto update = [](const char* folder, system_clock::time_point time, int status) {
    HistoryEntry line;
    line.folder = folder;
    line.time = time;
    line.status = status;
    return line;
  };
  const std::vector<HistoryEntry> history{
      update("/srv/site", Utc(2026, 12, 8, 6, 31), 0),
      update("/srv/site", Utc(2026, 12, 7, 6, 31), 2),
      update("/srv/other", Utc(2026, 12, 9, 6, 31), 2),
  };
  UpdateState state = StateOf(entry, history, Utc(2026, 12, 8, 12, 0));
  ASSERT_TRUE(state.last.has_value());
  EXPECT_EQ(state.last->time, Utc(2026, 12, 8, 6, 31));
  EXPECT_FALSE(state.missed);
  EXPECT_FALSE(state.endedBadly);
  state = StateOf(entry, history, Utc(2026, 12, 9, 7, 31));
  EXPECT_TRUE(state.missed);
  EXPECT_EQ(MissedText(state, Utc(2026, 12, 9, 7, 31)).rfind("missed: last update ", 0), 0u);
  EXPECT_EQ(EndedBadlyText(state), "");
}

}  // namespace
}  // namespace lapse::schedule
