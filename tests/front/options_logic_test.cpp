#include "front/options_logic.h"

#include <gtest/gtest.h>

namespace lapse::front {
namespace {

class FieldsView final : public OptionsView {
 public:
  void SetFields(const OptionFields& shown) override { fields = shown; }
  OptionFields Fields() const override { return fields; }
  void EnableApply(bool enabled) override { applyEnabled = enabled; }
  void Warn(const std::string& text) override { warnings.push_back(text); }
  void SelectField(messages::OptionNumber field) override { selected = field; }
  void Hide() override { hidden = true; }

  OptionFields fields;
  bool applyEnabled = true;
  std::vector<std::string> warnings;
  std::optional<messages::OptionNumber> selected;
  bool hidden = false;
};

class OptionsLogicTest : public testing::Test {
 protected:
  OptionsLogicTest() : logic_(view_, options_) {
    options_.NewDays = 10;
    options_.Lines = 2;
    options_.Log = 1;
    logic_.Activate();
  }

  state::ProgramState options_;
  FieldsView view_;
  OptionsLogic logic_;
};

TEST_F(OptionsLogicTest, ActivateShowsTheOptionsAsTheyStandWithApplyOff) {
  EXPECT_EQ(view_.fields.days, "10");
  EXPECT_EQ(view_.fields.lines, "2");
  EXPECT_TRUE(view_.fields.log);
  EXPECT_FALSE(view_.fields.subfolders);
  EXPECT_FALSE(view_.applyEnabled);
  logic_.FieldChanged();
  EXPECT_TRUE(view_.applyEnabled);
}

TEST_F(OptionsLogicTest, OkSetsEveryOptionAndHides) {
  view_.fields = {" 7.5 ", "-3", false, true};
  logic_.Ok();
  EXPECT_EQ(options_.NewDays, 8);
  EXPECT_EQ(options_.Lines, -3);
  EXPECT_EQ(options_.Log, 0);
  EXPECT_EQ(options_.Subfolders, 1);
  EXPECT_FALSE(view_.applyEnabled);
  EXPECT_TRUE(view_.hidden);
}

struct WrongNumber {
  const char* name;
  const char* days;
  const char* lines;
  messages::OptionNumber wrong;
  const char* warning;
};

class WrongNumberTest : public OptionsLogicTest, public testing::WithParamInterface<WrongNumber> {};

TEST_P(WrongNumberTest, ChangesNoOptionAndPointsAtTheField) {
  view_.fields = {GetParam().days, GetParam().lines, false, true};
  logic_.FieldChanged();
  logic_.Ok();
  EXPECT_EQ(view_.warnings, std::vector<std::string>{GetParam().warning});
  EXPECT_EQ(view_.selected, GetParam().wrong);
  EXPECT_TRUE(view_.applyEnabled);
  EXPECT_FALSE(view_.hidden);
  EXPECT_EQ(options_.NewDays, 10);
  EXPECT_EQ(options_.Lines, 2);
  EXPECT_EQ(options_.Log, 1);
  EXPECT_EQ(options_.Subfolders, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, WrongNumberTest,
    testing::Values(
        WrongNumber{"DaysNotANumber", "ten", "1", messages::OptionNumber::Days,
                    "The number of days after which new tags expire must be a whole number from "
                    "-32768 to 32767; \"ten\" is not. No option has been changed."},
        WrongNumber{"LinesTooLarge", "5", "32768", messages::OptionNumber::Lines,
                    "The number of lines to delete after a tag must be a whole number from "
                    "-32768 to 32767; \"32768\" is not. No option has been changed."},
        WrongNumber{"BothWrongDaysFirst", "", "x", messages::OptionNumber::Days,
                    "The number of days after which new tags expire must be a whole number from "
                    "-32768 to 32767; \"\" is not. No option has been changed."}),
    [](const testing::TestParamInfo<WrongNumber>& info) { return std::string(info.param.name); });

TEST_F(OptionsLogicTest, CancelHidesAndAppliesNothing) {
  view_.fields = {"99", "99", false, true};
  logic_.Cancel();
  EXPECT_TRUE(view_.hidden);
  EXPECT_EQ(options_.NewDays, 10);
}

}  // namespace
}  // namespace lapse::front
