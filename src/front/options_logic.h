// What the options dialog does, without drawing: it shows the options as
// they stand each time it opens, enables Apply once a field changes, and
// sets all of the options from its fields or, when a number cannot be
// taken, none of them.
#pragma once

#include <string>

#include "messages/messages.h"
#include "state/program_state.h"

namespace lapse::front {

// The dialog's fields as the user sees them.
struct OptionFields {
  std::string days;
  std::string lines;
  bool log = false;
  bool subfolders = false;
};

class OptionsView {
 public:
  virtual ~OptionsView() = default;
  virtual void SetFields(const OptionFields& fields) = 0;
  virtual OptionFields Fields() const = 0;
  virtual void EnableApply(bool enabled) = 0;
  virtual void Warn(const std::string& text) = 0;
  // Shows the field of that number on its tab, focused, its text selected.
  virtual void SelectField(messages::OptionNumber field) = 0;
  virtual void Hide() = 0;
};

class OptionsLogic {
 public:
  OptionsLogic(OptionsView& view, state::ProgramState& options) : view_(view), options_(options) {}

  // The dialog is being shown by the program (not restored from a minimised
  // state): its fields show the options as they stand, and Apply is off.
  void Activate();
  void FieldChanged();
  // Sets the options from the fields; false, after telling the user, when a
  // text is not a 16-bit whole number.
  bool Apply();
  void Ok();
  // Hides the dialog; nothing is applied.
  void Cancel();

 private:
  OptionsView& view_;
  state::ProgramState& options_;
};

}  // namespace lapse::front
