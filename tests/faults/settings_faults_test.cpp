// Hand-edited settings: whatever text a key holds, the options load, and a
// text that is no 16-bit number gives the option's default.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "state/settings.h"

namespace lapse::state {
namespace {

class EditedStore final : public SettingsStore {
 public:
  std::string Get(std::string_view, std::string_view section, std::string_view key,
                  std::string_view defaultValue) override {
    const auto found = values.find({std::string(section), std::string(key)});
    return found == values.end() ? std::string(defaultValue) : found->second;
  }
  void Set(std::string_view, std::string_view section, std::string_view key,
           std::string_view value) override {
    values[{std::string(section), std::string(key)}] = value;
  }
  std::map<std::pair<std::string, std::string>, std::string> values;
};

struct Key {
  const char* section;
  const char* key;
  std::int16_t ProgramState::*option;
  std::int16_t defaultValue;
  friend void PrintTo(const Key& key, std::ostream* os) { *os << key.key; }
};

struct Edit {
  const char* name;
  std::string stored;
  std::optional<std::int16_t> value;  // nothing: the default
  friend void PrintTo(const Edit& edit, std::ostream* os) { *os << edit.name; }
};

const Key kKeys[] = {{"New", "Days", &ProgramState::NewDays, kDefaultNewDays},
                     {"New", "Lines", &ProgramState::Lines, kDefaultLines},
                     {"General", "Log", &ProgramState::Log, kDefaultLog}};

const Edit kEdits[] = {
    {"Empty", "", std::nullopt},
    {"Spaces", "   ", std::nullopt},
    {"Letters", "yes", std::nullopt},
    {"SpaceThenOne", " 1", 1},
    {"Negative", "-7", -7},
    {"Lowest", "-32768", -32768},
    {"BelowRange", "-32769", std::nullopt},
    {"AboveRange", "32768", std::nullopt},
    {"Huge", std::string(100'000, '9'), std::nullopt},
    {"HugeFraction", "1." + std::string(100'000, '9'), 2},
    {"Exponent", "1e3", std::nullopt},
    {"Hexadecimal", "0x10", std::nullopt},
    {"Comma", "1,5", std::nullopt},
    {"SignOnly", "+", std::nullopt},
    {"TwoSigns", "--1", std::nullopt},
    {"NullByte",
     std::string("1\0"
                 "2",
                 3),
     std::nullopt},
    {"FullWidthDigit", "\xef\xbc\x91", std::nullopt},
    {"LineBreak", "5\r\n", std::nullopt},
};

class HandEditedSetting : public testing::TestWithParam<std::tuple<Key, Edit>> {};

TEST_P(HandEditedSetting, LoadsAsTheValueOrTheDefault) {
  const auto& [key, edit] = GetParam();
  EditedStore store;
  store.values[{key.section, key.key}] = edit.stored;
  Settings settings(store, kApplicationName);
  ProgramState state;
  LoadOptions(settings, state);
  EXPECT_EQ(state.*key.option, edit.value.value_or(key.defaultValue));
  // The other two options are untouched by the edit.
  for (const Key& other : kKeys) {
    if (other.option != key.option) {
      EXPECT_EQ(state.*other.option, other.defaultValue) << other.key;
    }
  }
  // Saving after such a load writes numbers the next load reads back.
  SaveOptions(settings, state);
  ProgramState reloaded;
  LoadOptions(settings, reloaded);
  EXPECT_EQ(reloaded.*key.option, state.*key.option);
}

INSTANTIATE_TEST_SUITE_P(Cases, HandEditedSetting,
                         testing::Combine(testing::ValuesIn(kKeys), testing::ValuesIn(kEdits)),
                         [](const testing::TestParamInfo<std::tuple<Key, Edit>>& info) {
                           return std::string(std::get<0>(info.param).key) + "_" +
                                  std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace lapse::state
