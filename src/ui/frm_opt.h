// The options dialog: the days a new tag stays new, the lines removed after a
// lapsed one, and whether a run writes its log.
#pragma once

#include <QDialog>
#include <vector>

#include "front/options_logic.h"
#include "state/program_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace lapse::ui {

class HelpService;
class MessageBoxes;

class frmOpt final : public QDialog, private front::OptionsView {
  Q_OBJECT
 public:
  frmOpt(state::ProgramState& options, HelpService& help, MessageBoxes& messages, QWidget* parent);

  std::vector<QObject*> ControlOrder() const;

  // Hides the dialog; nothing is applied.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetFields(const front::OptionFields& fields) override;
  front::OptionFields Fields() const override;
  void EnableApply(bool enabled) override;
  void Warn(const std::string& text) override;
  void SelectField(messages::OptionNumber field) override;
  void Hide() override;

  HelpService& help_;
  MessageBoxes& messages_;
  front::OptionsLogic logic_;

  QPushButton* cmdOK;
  QPushButton* cmdCancel;
  QPushButton* cmdApply;
  QPushButton* cmdHelp;
  QTabWidget* tabOpt;
  QLabel* lblDays;
  QLabel* lblDays2;
  QLineEdit* txtDays;
  QLabel* lblLines1;
  QLineEdit* txtLines;
  QLabel* lblLines2;
  QCheckBox* chkLog;
  QCheckBox* chkSubfolders;
};

}  // namespace lapse::ui
