// The message boxes of the program, behind an interface that tests answer.
#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace lapse::ui {

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Yes and No with the question icon, Yes the default; true for Yes.
  virtual bool AskYesNo(const QString& text) = 0;
  // An OK button alone and no icon.
  virtual void Tell(const QString& text) = 0;
  // An OK button and the warning icon: something could not be done.
  virtual void Warn(const QString& text) = 0;
};

// Modal boxes over the active window, captioned "Lapse".
class QtMessageBoxes final : public MessageBoxes {
 public:
  bool AskYesNo(const QString& text) override;
  void Tell(const QString& text) override;
  void Warn(const QString& text) override;
};

}  // namespace lapse::ui
