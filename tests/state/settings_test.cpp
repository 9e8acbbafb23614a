#include "state/settings.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/memory_settings_store.h"

namespace lapse::state {
namespace {

using MemoryStore = testing_support::MemorySettingsStore;

TEST(SettingsTest, AppNameLosesSurroundingSpaces) {
  MemoryStore store;
  EXPECT_EQ(Settings(store, "  Lapse ").AppName(), "Lapse");
}

TEST(SettingsTest, FirstStartWritesTheDefaultsBack) {
  MemoryStore store;
  Settings settings(store, kApplicationName);
  ProgramState state;
  state.NewDays = state.Lines = state.Log = 0;
  LoadOptions(settings, state);
  EXPECT_EQ(state.NewDays, 30);
  EXPECT_EQ(state.Lines, 1);
  EXPECT_EQ(state.Log, 1);
  EXPECT_EQ(store.writes,
            (std::vector<std::string>{"New/Days=30", "New/Lines=1", "General/Log=1", "General/Subfolders=0"}));
}

struct StoredCase {
  const char* stored;
  std::int16_t loaded;
  const char* afterLoad;  // what the store holds once the options are read
  friend void PrintTo(const StoredCase& c, std::ostream* os) { *os << '"' << c.stored << '"'; }
};

class StoredDays : public testing::TestWithParam<StoredCase> {};

TEST_P(StoredDays, LoadsAndIsRewrittenOnlyWhenEqualToTheDefault) {
  MemoryStore store;
  store.values[{"Lapse", "New", "Days"}] = GetParam().stored;
  Settings settings(store, kApplicationName);
  ProgramState state;
  LoadOptions(settings, state);
  EXPECT_EQ(state.NewDays, GetParam().loaded);
  EXPECT_EQ(store.At("New", "Days"), GetParam().afterLoad);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredDays,
    testing::Values(StoredCase{" 30 ", 30, "30"}, StoredCase{"045", 45, "045"},
                    StoredCase{"-5", -5, "-5"}, StoredCase{"0", 0, "0"},
                    StoredCase{"2.5", 2, "2.5"}, StoredCase{"3.5", 4, "3.5"},
                    StoredCase{"2.51", 3, "2.51"}, StoredCase{"-0.5", 0, "-0.5"},
                    // A hand-edited store falls back to the default and is left alone.
                    StoredCase{"", 30, ""}, StoredCase{"abc", 30, "abc"},
                    StoredCase{"32768", 30, "32768"},
                    StoredCase{"99999999999999", 30, "99999999999999"},
                    StoredCase{"1 2", 30, "1 2"}, StoredCase{"\t7", 30, "\t7"}));

TEST(SettingsTest, LogIsWrittenWithASignPositionAndReadBack) {
  MemoryStore store;
  Settings settings(store, kApplicationName);
  ProgramState state;
  state.NewDays = 45;
  state.Lines = 2;
  state.Log = 0;
  SaveOptions(settings, state);
  EXPECT_EQ(store.At("New", "Days"), "45");
  EXPECT_EQ(store.At("New", "Lines"), "2");
  EXPECT_EQ(store.At("General", "Log"), " 0");

  // " 0" differs from the default "1" and stays as it is.
  LoadOptions(settings, state);
  EXPECT_EQ(state.Log, 0);
  EXPECT_EQ(store.At("General", "Log"), " 0");

  // " 1" equals the default "1" once normalised, so it is rewritten as "1".
  state.Log = 1;
  SaveOptions(settings, state);
  EXPECT_EQ(store.At("General", "Log"), " 1");
  LoadOptions(settings, state);
  EXPECT_EQ(state.Log, 1);
  EXPECT_EQ(store.At("General", "Log"), "1");
}

TEST(SettingsTest, ReadSettingComparesWithoutCaseAndSpaces) {
  MemoryStore store;
  Settings settings(store, kApplicationName);
  store.values[{"Lapse", "S", "K"}] = "  yes ";
  EXPECT_EQ(settings.ReadSetting("S", "K", "YES"), "  yes ");
  EXPECT_EQ(store.At("S", "K"), "YES");
  store.values[{"Lapse", "S", "K"}] = "y es";
  EXPECT_EQ(settings.ReadSetting("S", "K", "YES"), "y es");
  EXPECT_EQ(store.At("S", "K"), "y es");
}

TEST(ToInt16Test, RangeAndRounding) {
  EXPECT_EQ(ToInt16("32767"), 32767);
  EXPECT_EQ(ToInt16("-32768"), -32768);
  EXPECT_EQ(ToInt16("32767.5"), std::nullopt);  // rounds to 32768
  EXPECT_EQ(ToInt16("-32768.5"), -32768);       // rounds to the even -32768
  EXPECT_EQ(ToInt16("32766.5"), 32766);
  EXPECT_EQ(ToInt16("+7"), 7);
  EXPECT_EQ(ToInt16(".5"), 0);
  EXPECT_EQ(ToInt16("1.5"), 2);
  EXPECT_EQ(ToInt16("-"), std::nullopt);
  EXPECT_EQ(ToInt16("."), std::nullopt);
  EXPECT_EQ(ToInt16("1.2.3"), std::nullopt);
  EXPECT_EQ(SignedText(-3), "-3");
}

}  // namespace
}  // namespace lapse::state
