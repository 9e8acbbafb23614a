// The per-user settings store over QSettings: the registry on Windows, an INI
// file in the user's configuration folder elsewhere.
#pragma once

#include <QString>

#include "state/settings.h"

namespace lapse::ui {

class QtSettingsStore final : public state::SettingsStore {
 public:
  std::string Get(std::string_view application, std::string_view section, std::string_view key,
                  std::string_view defaultValue) override;
  void Set(std::string_view application, std::string_view section, std::string_view key,
           std::string_view value) override;

  // True once a write has not reached the store.
  bool WriteFailed() const { return writeFailed_; }
  // Where the options of application are kept, for messages.
  static QString Location(std::string_view application);

 private:
  bool writeFailed_ = false;
};

}  // namespace lapse::ui
