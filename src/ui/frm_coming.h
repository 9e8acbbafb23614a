// The "Coming up" window: every dated tag of the folder the lists show that
// is due or will change, by its day, and the selected row's page on a chosen
// day beside the page as it is now.
#pragma once

#include <QDialog>
#include <filesystem>
#include <vector>

#include "front/coming_logic.h"

class QDateEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace lapse::ui {

class EditorLauncher;
class HelpService;
class MessageBoxes;

class frmComing final : public QDialog {
  Q_OBJECT
 public:
  frmComing(platform::Disk& disk, std::filesystem::path folder, front::ComingSettings settings,
            text::Today today, HelpService& help, MessageBoxes& messages, EditorLauncher& editor,
            QWidget* parent);

  std::vector<QObject*> ControlOrder() const;

  // Escape, Close and the window's close button: the window goes.
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowRows();
  void RowChosen();
  void DayChosen();
  void ShowPreview();
  void OpenInEditor();

  MessageBoxes& messages_;
  EditorLauncher& editor_;
  front::ComingLogic logic_;

  QLabel* lblDate = nullptr;
  QDateEdit* txtDate = nullptr;
  QLabel* lblNoRows = nullptr;
  QTreeWidget* lstRows = nullptr;
  QLabel* lblNow = nullptr;
  QListWidget* lstNow = nullptr;
  QLabel* lblOnDay = nullptr;
  QListWidget* lstOnDay = nullptr;
  QLabel* lblNote = nullptr;
  QPushButton* cmdEdit = nullptr;
  QPushButton* cmdClose = nullptr;
};

}  // namespace lapse::ui
