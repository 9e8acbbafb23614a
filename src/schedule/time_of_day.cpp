#include "schedule/time_of_day.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/clock.h"

namespace lapse::schedule {

namespace {

using platform::DayOf;
using platform::LocalParts;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The C library reads local time through TZ: while one of these lives, local
// time is the zone's. Only the thread that asks uses the clock meanwhile.
class ZoneAsLocal {
 public:
  explicit ZoneAsLocal(const std::string& zone) : active_(!zone.empty()) {
#if defined(_WIN32)
    active_ = false;  // Windows knows no IANA zones; zones are refused there.
#else
    if (!active_) {
      return;
    }
    if (const char* previous = std::getenv("TZ")) {
      previous_ = previous;
    }
    ::setenv("TZ", (":" + zone).c_str(), 1);
    ::tzset();
#endif
  }
  ~ZoneAsLocal() {
#if !defined(_WIN32)
    if (!active_) {
      return;
    }
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
#endif
  }
  ZoneAsLocal(const ZoneAsLocal&) = delete;
  ZoneAsLocal& operator=(const ZoneAsLocal&) = delete;

 private:
  bool active_;
  std::optional<std::string> previous_;
};

constexpr std::int64_t kDaySeconds = std::int64_t{24} * 60 * 60;

std::chrono::local_days LocalDay(std::time_t time) {
  return DayOf(LocalParts(time));
}

// What the clock reads at time, in seconds as though every day had 24
// hours: a later reading is a larger number, whatever the clocks did.
std::int64_t ReadingAt(std::time_t time) {
  const std::tm parts = LocalParts(time);
  return DayOf(parts).time_since_epoch().count() * kDaySeconds +
         std::int64_t{parts.tm_hour} * 3600 + std::int64_t{parts.tm_min} * 60 + parts.tm_sec;
}

std::int64_t Reading(TimeOfDay at, std::chrono::local_days day) {
  return day.time_since_epoch().count() * kDaySeconds + std::int64_t{at.hour} * 3600 +
         std::int64_t{at.minute} * 60;
}

// The C library's moment for the reading; on a day the clocks skip or
// repeat it, one near it, which it chooses.
std::time_t NearMoment(TimeOfDay at, std::chrono::local_days day) {
  const std::chrono::year_month_day date{day};
  std::tm parts{};
  parts.tm_year = static_cast<int>(date.year()) - 1900;
  parts.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  parts.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  parts.tm_hour = at.hour;
  parts.tm_min = at.minute;
  parts.tm_isdst = -1;
  return std::mktime(&parts);
}

// Whether the clock reads the time that day (on a day it skips it, never).
bool ReadsOn(TimeOfDay at, std::chrono::local_days day) {
  return ReadingAt(NearMoment(at, day)) == Reading(at, day);
}

// The first moment the clock reads the time that day or later: the time
// itself, its first occurrence where the clocks repeat it, the moment they
// skip past it where they skip it. No change moves the clocks by three
// hours, so that it lies within three hours of the C library's guess;
// looked for a minute at a time from before, then to the second.
std::time_t FirstReading(TimeOfDay at, std::chrono::local_days day) {
  constexpr std::time_t kReach = std::time_t{3} * 60 * 60;
  const std::int64_t wanted = Reading(at, day);
  const std::time_t guess = NearMoment(at, day);
  std::time_t before = guess - kReach;
  if (ReadingAt(before) >= wanted) {
    return guess;
  }
  std::time_t after = before + 60;
  for (; ReadingAt(after) < wanted; after += 60) {
    if (after > guess + kReach) {
      return guess;
    }
    before = after;
  }
  while (after - before > 1) {
    const std::time_t middle = before + (after - before) / 2;
    (ReadingAt(middle) >= wanted ? after : before) = middle;
  }
  return after;
}

}  // namespace

std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text) {
  if (text.size() != 5 || text[2] != ':' || !IsDigit(text[0]) || !IsDigit(text[1]) ||
      !IsDigit(text[3]) || !IsDigit(text[4])) {
    return std::nullopt;
  }
  const TimeOfDay time{(text[0] - '0') * 10 + (text[1] - '0'),
                       (text[3] - '0') * 10 + (text[4] - '0')};
  if (time.hour > 23 || time.minute > 59) {
    return std::nullopt;
  }
  return time;
}

std::string FormatTimeOfDay(TimeOfDay time) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", time.hour % 100, time.minute % 100);
  return text;
}

bool KnownZone(std::string_view name, const std::filesystem::path& zoneInfo) {
  return platform::IsZone(name, zoneInfo);
}

NextStart NextDailyStart(TimeOfDay at, const std::string& zone,
                         std::chrono::system_clock::time_point now) {
  const ZoneAsLocal local(zone);
  const std::time_t nowSeconds = std::chrono::system_clock::to_time_t(now);
  const std::chrono::local_days today = LocalDay(nowSeconds);
  std::time_t start = nowSeconds;
  // From yesterday: a start the clocks pushed past midnight may be ahead.
  for (int days = -1; days < 3; ++days) {
    start = FirstReading(at, today + std::chrono::days{days});
    if (start > nowSeconds) {
      break;
    }
  }
  return {std::chrono::system_clock::from_time_t(start), platform::LocalMinuteText(start)};
}

bool DueAt(TimeOfDay at, const std::string& zone, std::chrono::system_clock::time_point now,
           std::chrono::minutes every) {
  const ZoneAsLocal local(zone);
  // A look a few seconds early is the look at the minute.
  const std::time_t look = std::chrono::system_clock::to_time_t(now + std::chrono::seconds{30});
  const std::chrono::local_days today = LocalDay(look);
  const auto window = static_cast<std::time_t>(std::chrono::seconds{every}.count());
  for (const std::chrono::local_days day : {today - std::chrono::days{1}, today}) {
    const std::time_t start = FirstReading(at, day);
    if (start <= look && look < start + window) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> SkippedStarts(TimeOfDay at, const std::string& zone,
                                       std::chrono::system_clock::time_point from,
                                       std::chrono::days ahead) {
  const ZoneAsLocal local(zone);
  const std::time_t fromSeconds = std::chrono::system_clock::to_time_t(from);
  const std::chrono::local_days first = LocalDay(fromSeconds);
  std::vector<std::string> starts;
  for (std::chrono::local_days day = first; day < first + ahead; day += std::chrono::days{1}) {
    if (ReadsOn(at, day)) {
      continue;
    }
    const std::time_t start = FirstReading(at, day);
    if (start > fromSeconds) {
      starts.push_back(platform::PartsText(LocalParts(start), "%Y-%m-%d %H:%M:%S"));
    }
  }
  return starts;
}

std::string LocalText(std::chrono::system_clock::time_point time) {
  return platform::LocalMinuteText(std::chrono::system_clock::to_time_t(time));
}

std::string DayText(std::chrono::local_days day) {
  return text::FormatDay(day);
}

std::string LocalDayText(std::chrono::system_clock::time_point time) {
  return platform::PartsText(LocalParts(std::chrono::system_clock::to_time_t(time)), "%Y-%m-%d");
}

}  // namespace lapse::schedule
