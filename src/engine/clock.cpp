// The machine's local date and the user's regional date settings.
#include <cstdio>
#include <ctime>

#include "engine/date.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

namespace lapse::engine {

namespace {

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

std::string LocaleText(LCTYPE type) {
  wchar_t buffer[128] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 128) == 0) {
    return {};
  }
  return Narrow(buffer);
}
#endif

}  // namespace

DateLocale UserDateLocale() {
  DateLocale locale = EnglishDateLocale();
#if defined(_WIN32)
  locale.order = DateOrderFromFormat(LocaleText(LOCALE_SSHORTDATE));
  for (std::size_t m = 0; m < 12; ++m) {
    const std::string full = LocaleText(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + m));
    const std::string abbreviated = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + m));
    if (!full.empty())
      locale.monthNames[m] = full;
    if (!abbreviated.empty())
      locale.shortMonthNames[m] = abbreviated;
  }
#else
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
#endif
  return locale;
}

Today LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  using namespace std::chrono;
  return local_days{year{local.tm_year + 1900} / month{static_cast<unsigned>(local.tm_mon + 1)} /
                    day{static_cast<unsigned>(local.tm_mday)}};
}

std::string FormatDay(Today value) {
  const std::chrono::year_month_day date{value};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

std::string FormatTagDate(TagDate date) {
  const auto day = std::chrono::floor<std::chrono::days>(date);
  const auto timeOfDay = std::chrono::duration_cast<std::chrono::minutes>(date - day);
  std::string text = FormatDay(day);
  if (timeOfDay.count() != 0) {
    char clock[8];
    std::snprintf(clock, sizeof clock, " %02d:%02d", static_cast<int>(timeOfDay.count() / 60),
                  static_cast<int>(timeOfDay.count() % 60));
    text += clock;
  }
  return text;
}

}  // namespace lapse::engine
