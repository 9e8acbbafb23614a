// The about box: the program icon, its name and version.
#pragma once

#include <QDialog>
#include <vector>

class QLabel;
class QPushButton;

namespace lapse::ui {

class HelpService;

class frmAbout final : public QDialog {
  Q_OBJECT
 public:
  frmAbout(HelpService& help, QWidget* parent);

  // The controls in the order the colour scheme visits them.
  std::vector<QObject*> ControlOrder() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPushButton* cmdOK;
  QLabel* imgAbout;
  QLabel* Label1;
};

}  // namespace lapse::ui
