#include "schedule/time_of_day.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/clock.h"

namespace lapse::schedule {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::tm LocalParts(std::time_t time) {
  std::tm parts{};
#if defined(_WIN32)
  localtime_s(&parts, &time);
#else
  localtime_r(&time, &parts);
#endif
  return parts;
}

std::string Text(const std::tm& parts, const char* format) {
  char text[32];
  const size_t size = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, size);
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
  const std::tm today = LocalParts(nowSeconds);
  std::time_t start = 0;
  for (int days = 0; days < 3; ++days) {
    std::tm candidate = today;
    candidate.tm_mday += days;
    candidate.tm_hour = at.hour;
    candidate.tm_min = at.minute;
    candidate.tm_sec = 0;
    candidate.tm_isdst = -1;
    start = std::mktime(&candidate);
    if (start > nowSeconds) {
      break;
    }
  }
  return {std::chrono::system_clock::from_time_t(start), Text(LocalParts(start), "%Y-%m-%d %H:%M")};
}

std::string LocalText(std::chrono::system_clock::time_point time) {
  return Text(LocalParts(std::chrono::system_clock::to_time_t(time)), "%Y-%m-%d %H:%M");
}

std::string DayText(std::chrono::local_days day) {
  const std::chrono::year_month_day date{day};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::string LocalDayText(std::chrono::system_clock::time_point time) {
  return Text(LocalParts(std::chrono::system_clock::to_time_t(time)), "%Y-%m-%d");
}

}  // namespace lapse::schedule
