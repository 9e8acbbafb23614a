// The machine's local date and the user's regional date settings.
#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#endif

namespace lapse::platform {

using text::DateLocale;
using text::DateOrderFromFormat;
using text::EnglishDateLocale;
using text::Today;

namespace {

enum class Zone { Local, Utc };

std::tm PartsOf(std::time_t time, Zone zone) {
  std::tm parts{};
#if defined(_WIN32)
  (zone == Zone::Utc ? gmtime_s : localtime_s)(&parts, &time);
#else
  (zone == Zone::Utc ? gmtime_r : localtime_r)(&time, &parts);
#endif
  return parts;
}

#if defined(_WIN32)
std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return {};
  }
  std::string result(static_cast<std::size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  return result;
}

std::string LocaleText(const wchar_t* localeName, LCTYPE type) {
  wchar_t buffer[128] = {};
  if (GetLocaleInfoEx(localeName, type, buffer, 128) == 0) {
    return {};
  }
  return Narrow(buffer);
}
#endif

}  // namespace

#if defined(_WIN32)
DateLocale WindowsDateLocale(const wchar_t* localeName) {
  DateLocale locale = EnglishDateLocale();
  locale.order = DateOrderFromFormat(LocaleText(localeName, LOCALE_SSHORTDATE));
  for (std::size_t m = 0; m < 12; ++m) {
    const std::string full = LocaleText(localeName, static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + m));
    const std::string abbreviated =
        LocaleText(localeName, static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + m));
    if (!full.empty())
      locale.monthNames[m] = full;
    if (!abbreviated.empty())
      locale.shortMonthNames[m] = abbreviated;
  }
  return locale;
}
#endif

DateLocale UserDateLocale() {
#if defined(_WIN32)
  return WindowsDateLocale(LOCALE_NAME_USER_DEFAULT);
#else
  DateLocale locale = EnglishDateLocale();
  // A locale object of its own leaves the process's global locale untouched.
  locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) {
    return locale;
  }
  static constexpr nl_item kMonths[] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                        MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  static constexpr nl_item kShortMonths[] = {ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                             ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                             ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  locale.order = DateOrderFromFormat(nl_langinfo_l(D_FMT, user));
  for (std::size_t m = 0; m < 12; ++m) {
    locale.monthNames[m] = nl_langinfo_l(kMonths[m], user);
    locale.shortMonthNames[m] = nl_langinfo_l(kShortMonths[m], user);
  }
  freelocale(user);
  return locale;
#endif
}

std::filesystem::path ZoneDatabase() {
  const char* database = std::getenv("TZDIR");
  return database != nullptr && *database != '\0' ? std::filesystem::path(database)
                                                  : std::filesystem::path("/usr/share/zoneinfo");
}

bool IsZone(std::string_view name, const std::filesystem::path& database) {
  if (name.empty() || name.size() > 255 || name.front() == '/' || name.back() == '/' ||
      name.front() == '-') {
    return false;
  }
  // Letters, digits, _, - and + between single slashes: no step can leave
  // the database, and no name reaches TZ's other forms (",", "<", ":").
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' ||
           c == '_' || c == '-' || c == '+';
  });
  if (!plain || name.find("//") != std::string_view::npos) {
    return false;
  }
  std::ifstream file(database / std::filesystem::path(std::string(name)), std::ios::binary);
  char magic[4] = {};
  return file.read(magic, sizeof magic) && std::string_view(magic, sizeof magic) == "TZif";
}

std::error_code UseTimeZone(const std::string& zone) {
#if defined(_WIN32)
  (void)zone;
  return std::make_error_code(std::errc::not_supported);
#else
  if (!IsZone(zone, ZoneDatabase())) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  if (::setenv("TZ", (":" + zone).c_str(), 1) != 0) {
    return std::error_code(errno, std::generic_category());
  }
  ::tzset();
  return {};
#endif
}

Today LocalToday() {
  return DayOf(LocalParts(std::time(nullptr)));
}

std::tm LocalParts(std::time_t time) {
  return PartsOf(time, Zone::Local);
}

std::tm UtcParts(std::time_t time) {
  return PartsOf(time, Zone::Utc);
}

Today DayOf(const std::tm& parts) {
  using namespace std::chrono;
  return local_days{year{parts.tm_year + 1900} / month{static_cast<unsigned>(parts.tm_mon + 1)} /
                    day{static_cast<unsigned>(parts.tm_mday)}};
}

std::string PartsText(const std::tm& parts, const char* format) {
  char text[64];
  const size_t size = std::strftime(text, sizeof text, format, &parts);
  return std::string(text, size);
}

std::string LocalMinuteText(std::time_t time) {
  return PartsText(LocalParts(time), "%Y-%m-%d %H:%M");
}

std::string UtcText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(time);
  const auto day = floor<days>(seconds);
  const year_month_day date{day};
  const hh_mm_ss clock{seconds - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

}  // namespace lapse::platform
