// The per-user settings store and the options kept in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "state/program_state.h"

namespace lapse::state {

// Text values addressed by application, section and key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or defaultValue when the key holds nothing.
  virtual std::string Get(std::string_view application, std::string_view section,
                          std::string_view key, std::string_view defaultValue) = 0;
  virtual void Set(std::string_view application, std::string_view section, std::string_view key,
                   std::string_view value) = 0;
};

// The application name under which the options are stored.
inline constexpr std::string_view kApplicationName = "Lapse";

// Reads and writes the store under one application name.
class Settings {
 public:
  // The name is kept without its surrounding spaces.
  Settings(SettingsStore& store, std::string_view appName);

  const std::string& AppName() const { return appName_; }

  // Gives the stored text, or the default when the key holds nothing. When the
  // two agree but for letter case and surrounding spaces, the default is
  // written back, so that a first read creates the key.
  std::string ReadSetting(std::string_view section, std::string_view key,
                          std::string_view defaultValue);

  void WriteSetting(std::string_view section, std::string_view key, std::string_view value);
  void WriteSetting(std::string_view section, std::string_view key, std::int16_t value);

 private:
  SettingsStore& store_;
  std::string appName_;
};

// Converts text to a 16-bit option value: surrounding spaces ignored, a
// fraction rounded to the nearest whole number (a half to the even one).
// Gives nothing for text that is no number or lies outside -32768..32767.
std::optional<std::int16_t> ToInt16(std::string_view text);

// A number with a sign position: " 1", " 0", "-1".
std::string SignedText(std::int16_t value);

// Reads the three options into state; a stored text that is no 16-bit number
// leaves the option at its default.
void LoadOptions(Settings& settings, ProgramState& state);

// Stores the three options.
void SaveOptions(Settings& settings, const ProgramState& state);

}  // namespace lapse::state
