// The time of day a daily update starts at, the zone it is read in, and when
// it starts next.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lapse::schedule {

struct TimeOfDay {
  int hour = 0;
  int minute = 5;
  bool operator==(const TimeOfDay&) const = default;
};

// Five past midnight: the day's lapsed content goes soon after it lapsed,
// away from the full hour that other jobs take.
inline constexpr TimeOfDay kDefaultTime{0, 5};

// "HH:MM" with two digits each, 00:00 to 23:59; nothing for anything else.
std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text);
std::string FormatTimeOfDay(TimeOfDay time);

// Whether name is a zone of the zone database in zoneInfo
// (/usr/share/zoneinfo): an IANA name such as "Europe/Berlin" or "UTC" whose
// file there is a zone file. The one check that update, run and check make
// too (platform::IsZone): relative steps, absolute paths and other
// characters are refused before any file is looked at.
bool KnownZone(std::string_view name, const std::filesystem::path& zoneInfo);

// The next start of a daily update at that time after now, in zone (empty
// for the machine's local time), and its day and time as that zone reads it
// ("2026-12-10 00:05"). One rule for every scheduler and for what the user
// is told: a day's update starts at the time itself; on a day the clocks
// skip it (02:30 when they go from 02:00 to 03:00), at the first moment
// after it (03:00); on a day they read it twice, once, at the first.
struct NextStart {
  std::chrono::system_clock::time_point time;
  std::string text;
};
NextStart NextDailyStart(TimeOfDay at, const std::string& zone,
                         std::chrono::system_clock::time_point now);

// How often cron looks at the clock for an update in another zone than the
// machine's: each quarter hour, since zones lie whole quarter hours apart.
inline constexpr std::chrono::minutes kCronLook{15};

// Whether a scheduler that looks at the clock every so often, and looks at
// now, should start the day's update: now is the first look at or after
// the day's start (by NextDailyStart's rule), so that it starts once a day,
// on the days the clocks skip or repeat the time too.
bool DueAt(TimeOfDay at, const std::string& zone, std::chrono::system_clock::time_point now,
           std::chrono::minutes every);

// The starts after from, within the days ahead, that take the place of a
// time the clocks of zone skip, as the zone reads them ("2027-03-28
// 03:00:00"): systemd lets a daily time that day does not have pass.
std::vector<std::string> SkippedStarts(TimeOfDay at, const std::string& zone,
                                       std::chrono::system_clock::time_point from,
                                       std::chrono::days ahead);

// A point in time as the machine's local time reads it: "2026-12-08 00:05".
std::string LocalText(std::chrono::system_clock::time_point time);

// A calendar day: "2026-12-31".
std::string DayText(std::chrono::local_days day);

// Today's date in the machine's local time: "2026-12-08".
std::string LocalDayText(std::chrono::system_clock::time_point time);

}  // namespace lapse::schedule
