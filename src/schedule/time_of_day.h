// The time of day a daily update starts at, the zone it is read in, and when
// it starts next.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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
// ("2026-12-10 00:05"). A time that a change to summer time skips starts as
// the clock reads then (an hour later).
struct NextStart {
  std::chrono::system_clock::time_point time;
  std::string text;
};
NextStart NextDailyStart(TimeOfDay at, const std::string& zone,
                         std::chrono::system_clock::time_point now);

// A point in time as the machine's local time reads it: "2026-12-08 00:05".
std::string LocalText(std::chrono::system_clock::time_point time);

// A calendar day: "2026-12-31".
std::string DayText(std::chrono::local_days day);

// Today's date in the machine's local time: "2026-12-08".
std::string LocalDayText(std::chrono::system_clock::time_point time);

}  // namespace lapse::schedule
