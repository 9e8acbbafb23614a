// A settings store in memory that records its writes.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "state/settings.h"

namespace lapse::testing_support {

class MemorySettingsStore final : public state::SettingsStore {
 public:
  using Address = std::tuple<std::string, std::string, std::string>;

  std::string Get(std::string_view application, std::string_view section, std::string_view key,
                  std::string_view defaultValue) override {
    if (onGet) {
      onGet();
    }
    const auto found = values.find(Address(application, section, key));
    return found == values.end() ? std::string(defaultValue) : found->second;
  }
  void Set(std::string_view application, std::string_view section, std::string_view key,
           std::string_view value) override {
    writes.push_back(std::string(section) + "/" + std::string(key) + "=" + std::string(value));
    values[Address(application, section, key)] = value;
  }
  // The value stored for the application "Lapse", or "<none>".
  std::string At(const char* section, const char* key) const {
    const auto found = values.find(Address("Lapse", section, key));
    return found == values.end() ? std::string("<none>") : found->second;
  }

  std::map<Address, std::string> values;
  std::vector<std::string> writes;
  std::function<void()> onGet;  // called on every read, before it is answered
};

}  // namespace lapse::testing_support
