// Whether a scheduled folder's updates keep to their schedule: the last
// update seen in the history against the starts the schedule has had since
// it was made. `lapse-cli schedules` and the schedule dialog say it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "schedule/history.h"
#include "schedule/schedule.h"

namespace lapse::schedule {

// How long after its time a day's update may end before it counts as
// missed. A scheduler may start it late (cron looks every quarter hour for
// another zone's time, systemd catches up only once the machine is back),
// and the history gets its line when the update ends, which on a large
// site takes minutes: an hour keeps a late but running update from being
// called missed, and still names a missed day within the day.
inline constexpr std::chrono::minutes kMissedGrace{60};

struct UpdateState {
  std::optional<HistoryEntry> last;  // the folder's newest update
  // A start of the schedule, past its grace, that no update followed.
  bool missed = false;
  // The last update exited with another status than 0: a page left as it
  // was (1), or it could not start (2).
  bool endedBadly = false;
};

// The start of the daily update at that time (by NextDailyStart's rule) at
// or before time; nothing where none is found within two days.
std::optional<std::chrono::system_clock::time_point> PreviousDailyStart(
    TimeOfDay at, const std::string& zone, std::chrono::system_clock::time_point time);

// The state of entry's folder by history (oldest first) at now.
UpdateState StateOf(const Entry& entry, const std::vector<HistoryEntry>& history,
                    std::chrono::system_clock::time_point now);

// "missed: last update 2026-12-06 00:05, 3 days ago", or "missed: no update
// since it was scheduled"; empty when nothing was missed.
std::string MissedText(const UpdateState& state, std::chrono::system_clock::time_point now);
// "the last update ended badly (exit status 2)"; empty when it did not.
std::string EndedBadlyText(const UpdateState& state);

}  // namespace lapse::schedule
