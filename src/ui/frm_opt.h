// The options dialog: the days a new tag stays new, the lines removed after a
// lapsed one, and whether a run writes its log.
#pragma once

#include <QDialog>
#include <vector>

#include "state/program_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace lapse::ui {

class HelpService;
class MessageBoxes;

class frmOpt final : public QDialog {
  Q_OBJECT
 public:
  frmOpt(state::ProgramState& options, HelpService& help, MessageBoxes& messages, QWidget* parent);

  std::vector<QObject*> ControlOrder() const;

  // Hides the dialog; nothing is applied.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Activate();
  // Sets the three options from the fields, or none of them when a text is
  // not a 16-bit whole number; false then, after telling the user.
  bool ApplyFields();
  void Ok();
  void EnableApply();

  state::ProgramState& options_;
  HelpService& help_;
  MessageBoxes& messages_;

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
