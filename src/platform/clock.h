// The machine's clock and the user's regional date settings.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "text/date.h"

namespace lapse::platform {

// The local date of the machine's clock, at the start of the day.
text::Today LocalToday();

// time broken into its fields: in the machine's local time (the zone of
// UseTimeZone where it took one), and in UTC.
std::tm LocalParts(std::time_t time);
std::tm UtcParts(std::time_t time);
// The day those fields fall on.
text::Today DayOf(const std::tm& parts);
// The fields as strftime writes them in format ("%H:%M").
std::string PartsText(const std::tm& parts, const char* format);
// time as the machine's local time reads it: "2026-12-08 00:05".
std::string LocalMinuteText(std::time_t time);
// time in UTC, to the second: "2026-12-08T00:05:03Z".
std::string UtcText(std::chrono::system_clock::time_point time);

// The zone database that the C library reads zones from: $TZDIR where it is
// set, else /usr/share/zoneinfo.
std::filesystem::path ZoneDatabase();

// Whether name is a zone of the zone database in the folder database: an
// IANA name ("Europe/Berlin", "UTC") whose file there is a zone file, one
// that begins with "TZif". A name that could reach out of the database
// (empty, absolute, with a step up) or holds a character no zone's name has
// is refused before any file is looked at; so are the database's own tables
// (zone.tab, tzdata.zi, leapseconds), which the C library would quietly read
// as UTC. Every check of a zone the user names is this one.
bool IsZone(std::string_view name, const std::filesystem::path& database);

// Takes today's date, for the rest of the process, in the time zone of that
// IANA name ("Europe/Berlin") instead of the machine's; invalid_argument
// where IsZone refuses the name in ZoneDatabase(), not_supported on Windows.
std::error_code UseTimeZone(const std::string& zone);

// Builds the date locale from the user's regional settings.
text::DateLocale UserDateLocale();

#if defined(_WIN32)
// The date locale of a Windows locale name ("de-DE"): the order of its short
// date and its month names. A null name reads the user's regional settings,
// with the user's own changes to them; an unknown name gives the English one.
text::DateLocale WindowsDateLocale(const wchar_t* localeName);
#endif

}  // namespace lapse::platform
