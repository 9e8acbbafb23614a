// The zone names every command that takes --time-zone is held to: a zone
// file of the database is taken, its tables and names that reach out of it
// are refused.
#pragma once

#include <utility>

namespace lapse::testing_support {

inline constexpr std::pair<const char*, bool> kZoneCases[] = {
    {"zone.tab", false},      {"iso3166.tab", false},
    {"tzdata.zi", false},     {"leapseconds", false},
    {"../etc/passwd", false}, {"/etc/passwd", false},
    {"Nowhere/Town", false},  {"", false},
    {"Europe/Berlin", true},  {"UTC", true},
};

}  // namespace lapse::testing_support
