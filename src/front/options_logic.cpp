#include "front/options_logic.h"

#include <optional>

#include "state/settings.h"

namespace lapse::front {

void OptionsLogic::Activate() {
  view_.SetFields({std::to_string(options_.NewDays), std::to_string(options_.Lines),
                   options_.Log != 0, options_.Subfolders != 0});
  view_.EnableApply(false);
}

void OptionsLogic::FieldChanged() {
  view_.EnableApply(true);
}

bool OptionsLogic::Apply() {
  const OptionFields fields = view_.Fields();
  const std::optional<std::int16_t> days = state::ToInt16(fields.days);
  const std::optional<std::int16_t> lines = state::ToInt16(fields.lines);
  if (!days || !lines) {
    const auto wrong = !days ? messages::OptionNumber::Days : messages::OptionNumber::Lines;
    view_.Warn(messages::NotAnOptionNumber(wrong, !days ? fields.days : fields.lines));
    view_.SelectField(wrong);
    view_.EnableApply(true);
    return false;
  }
  options_.NewDays = *days;
  options_.Lines = *lines;
  options_.Log = fields.log ? 1 : 0;
  options_.Subfolders = fields.subfolders ? 1 : 0;
  view_.EnableApply(false);
  return true;
}

void OptionsLogic::Ok() {
  if (Apply()) {
    view_.Hide();
  }
}

void OptionsLogic::Cancel() {
  view_.Hide();
}

}  // namespace lapse::front
