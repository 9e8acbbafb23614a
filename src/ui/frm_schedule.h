// The schedule dialog: whether the folder the lists show is updated
// automatically every day, at which time, with its subfolders or not; the
// next day something lapses there and how the last update went.
#pragma once

#include <QDialog>
#include <QRect>
#include <filesystem>
#include <utility>
#include <vector>

#include "front/schedule_logic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lapse::ui {

class HelpService;
class MessageBoxes;

class frmSchedule final : public QDialog, private front::ScheduleView {
  Q_OBJECT
 public:
  frmSchedule(front::ScheduleServices services, HelpService& help, MessageBoxes& messages,
              QWidget* parent);

  // Shows the dialog for folder until the user closes it; subfolders is the
  // options' choice.
  void Open(const std::filesystem::path& folder, bool subfolders);
  // Fills the dialog for folder without showing it.
  void Load(const std::filesystem::path& folder, bool subfolders);

  std::vector<QObject*> ControlOrder() const;

  void reject() override;

 private:
  void Show(const front::ScheduleState& state) override;
  void SetFields(const front::ScheduleFields& fields) override;
  front::ScheduleFields Fields() const override;
  void EnableStop(bool enabled) override;
  void Tell(const std::string& text) override;
  void Warn(const std::string& text) override;
  void SelectTime() override;
  void Hide() override;
  // Gives the wrapped texts the lines they take.
  void FitTexts();
  // Where the widget was designed to be.
  QRect PlaceOf(const QWidget* widget) const;

  HelpService& help_;
  MessageBoxes& messages_;
  front::ScheduleLogic logic_;

  QLabel* lblFolder;
  QLabel* txtFolder;
  QLabel* lblStatus;
  QLabel* lblTime;
  QLineEdit* txtTime;
  QLabel* lblTimeForm;
  QCheckBox* chkSubfolders;
  QLabel* lblNextLapse;
  QLabel* txtNextLapse;
  QLabel* lblLastUpdate;
  QLabel* txtLastUpdate;
  QPushButton* cmdSchedule;
  QPushButton* cmdStop;
  QPushButton* cmdClose;
  QPushButton* cmdHelp;
  std::vector<std::pair<QWidget*, QRect>> designed_;
};

}  // namespace lapse::ui
