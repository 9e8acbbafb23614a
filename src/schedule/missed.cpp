#include "schedule/missed.h"

#include <algorithm>

namespace lapse::schedule {

namespace {

using Clock = std::chrono::system_clock;

// "3 days ago", "5 hours ago", "40 minutes ago".
std::string AgoText(Clock::duration elapsed) {
  using std::chrono::duration_cast;
  const auto count = [](long long number, const char* one, const char* many) {
    return std::to_string(number) + " " + (number == 1 ? one : many) + " ago";
  };
  if (const auto days = duration_cast<std::chrono::days>(elapsed).count(); days > 0) {
    return count(days, "day", "days");
  }
  if (const auto hours = duration_cast<std::chrono::hours>(elapsed).count(); hours > 0) {
    return count(hours, "hour", "hours");
  }
  return count(std::max<long long>(duration_cast<std::chrono::minutes>(elapsed).count(), 0),
               "minute", "minutes");
}

}  // namespace

std::optional<Clock::time_point> PreviousDailyStart(TimeOfDay at, const std::string& zone,
                                                    Clock::time_point time) {
  // Two days back there is a start before time on every day the clocks
  // keep; each next start is taken until the one after lies past time.
  std::optional<Clock::time_point> found;
  Clock::time_point from = time - std::chrono::hours{49};
  for (int step = 0; step < 4; ++step) {
    const Clock::time_point next = NextDailyStart(at, zone, from).time;
    if (next > time || next <= from) {
      break;
    }
    found = next;
    from = next;
  }
  return found;
}

UpdateState StateOf(const Entry& entry, const std::vector<HistoryEntry>& history,
                    Clock::time_point now) {
  UpdateState state;
  for (const HistoryEntry& update : history) {
    if (update.folder == entry.folder && (!state.last || update.time >= state.last->time)) {
      state.last = update;
    }
  }
  state.endedBadly = state.last && state.last->status != 0;
  const std::optional<Clock::time_point> due =
      PreviousDailyStart(entry.at, entry.zone, now - kMissedGrace);
  // A schedule made after its time of day has not been due yet. An entry
  // written before Lapse recorded when, is taken as due.
  if (!due || (entry.scheduledAt && *due < *entry.scheduledAt)) {
    return state;
  }
  state.missed = !state.last || state.last->time < *due;
  return state;
}

std::string MissedText(const UpdateState& state, Clock::time_point now) {
  if (!state.missed) {
    return {};
  }
  if (!state.last) {
    return "missed: no update since it was scheduled";
  }
  return "missed: last update " + LocalText(state.last->time) + ", " +
         AgoText(now - state.last->time);
}

std::string EndedBadlyText(const UpdateState& state) {
  if (!state.endedBadly) {
    return {};
  }
  return "the last update ended badly (exit status " + std::to_string(state.last->status) + ")";
}

}  // namespace lapse::schedule
