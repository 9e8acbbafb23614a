// The machine's clock and the user's regional date settings.
#pragma once

#include <string>
#include <system_error>

#include "text/date.h"

namespace lapse::platform {

// The local date of the machine's clock, at the start of the day.
text::Today LocalToday();

// Takes today's date, for the rest of the process, in the time zone of that
// IANA name ("Europe/Berlin") instead of the machine's; the error when the
// system knows no such zone.
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
