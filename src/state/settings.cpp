#include "state/settings.h"

#include <algorithm>

namespace lapse::state {

namespace {

constexpr std::string_view kNewSection = "New";
constexpr std::string_view kGeneralSection = "General";

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Letter case and surrounding spaces do not make two setting texts differ.
std::string Normalised(std::string_view text) {
  std::string upper(TrimSpaces(text));
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return upper;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::int16_t ReadOption(Settings& settings, std::string_view section, std::string_view key,
                        std::int16_t defaultValue) {
  const std::string text = settings.ReadSetting(section, key, std::to_string(defaultValue));
  return ToInt16(text).value_or(defaultValue);
}

}  // namespace

Settings::Settings(SettingsStore& store, std::string_view appName)
    : store_(store), appName_(TrimSpaces(appName)) {}

std::string Settings::ReadSetting(std::string_view section, std::string_view key,
                                  std::string_view defaultValue) {
  std::string value = store_.Get(appName_, section, key, defaultValue);
  if (Normalised(value) == Normalised(defaultValue)) {
    store_.Set(appName_, section, key, defaultValue);
  }
  return value;
}

void Settings::WriteSetting(std::string_view section, std::string_view key,
                            std::string_view value) {
  store_.Set(appName_, section, key, value);
}

void Settings::WriteSetting(std::string_view section, std::string_view key, std::int16_t value) {
  WriteSetting(section, key, std::to_string(value));
}

std::optional<std::int16_t> ToInt16(std::string_view text) {
  text = TrimSpaces(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  const auto allDigits = [](std::string_view part) {
    for (const char c : part) {
      if (!IsDigit(c))
        return false;
    }
    return true;
  };
  if (whole.empty() && fraction.empty()) {
    return std::nullopt;
  }
  if (!allDigits(whole) || !allDigits(fraction)) {
    return std::nullopt;
  }
  // Anything past six digits is out of range already; stop counting there.
  long magnitude = 0;
  for (const char c : whole) {
    magnitude = std::min(magnitude * 10 + (c - '0'), 1'000'000L);
  }
  if (!fraction.empty()) {
    const bool restNonZero = fraction.find_first_not_of('0', 1) != std::string_view::npos;
    const char first = fraction.front();
    if (first > '5' || (first == '5' && (restNonZero || magnitude % 2 == 1))) {
      ++magnitude;
    }
  }
  const long value = negative ? -magnitude : magnitude;
  if (value < -32768 || value > 32767) {
    return std::nullopt;
  }
  return static_cast<std::int16_t>(value);
}

std::string SignedText(std::int16_t value) {
  // A blank where the sign would stand; GCC 12 warns wrongly on " " + text.
  std::string text = std::to_string(value);
  if (value >= 0) {
    text.insert(text.begin(), ' ');
  }
  return text;
}

void LoadOptions(Settings& settings, ProgramState& state) {
  state.NewDays = ReadOption(settings, kNewSection, "Days", kDefaultNewDays);
  state.Lines = ReadOption(settings, kNewSection, "Lines", kDefaultLines);
  state.Log = ReadOption(settings, kGeneralSection, "Log", kDefaultLog);
  state.Subfolders = ReadOption(settings, kGeneralSection, "Subfolders", kDefaultSubfolders);
}

void SaveOptions(Settings& settings, const ProgramState& state) {
  settings.WriteSetting(kNewSection, "Days", state.NewDays);
  settings.WriteSetting(kNewSection, "Lines", state.Lines);
  settings.WriteSetting(kGeneralSection, "Log", SignedText(state.Log));
  settings.WriteSetting(kGeneralSection, "Subfolders", SignedText(state.Subfolders));
}

}  // namespace lapse::state
