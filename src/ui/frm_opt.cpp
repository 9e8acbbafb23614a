#include "ui/frm_opt.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <algorithm>
#include <initializer_list>
#include <optional>

#include "state/settings.h"
#include "ui/colour_scheme.h"
#include "ui/help.h"
#include "ui/message_boxes.h"
#include "ui/twips.h"

namespace lapse::ui {

namespace {

enum Tab { kGeneralTab = 0, kNewTagsTab = 1 };

// Controls on a tab are designed relative to the tab control, whose page
// starts below the row of tabs.
constexpr int kTabRowHeight = 24;

QRect OnTab(int left, int top, int width, int height) {
  return TwipsRect(left, top, width, height).translated(0, -kTabRowHeight);
}

QPushButton* MakeButton(const QString& name, const QString& caption, QRect place, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(place);
  return button;
}

QLabel* MakeLabel(const QString& name, const QString& caption, QRect place, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setGeometry(place);
  return label;
}

QLineEdit* MakeTextBox(const QString& name, QRect place, int helpTopic, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setGeometry(place);
  SetHelpTopic(*box, helpTopic);
  return box;
}

// The rows were designed for a narrower font. A row keeps its order and
// places; a text wider than its place grows and pushes the rest to the right.
void FitRow(std::initializer_list<QWidget*> row) {
  constexpr int kGap = 4;
  int nextLeft = 0;
  for (QWidget* widget : row) {
    QRect place = widget->geometry();
    place.moveLeft(std::max(place.left(), nextLeft));
    if (qobject_cast<QLineEdit*>(widget) == nullptr) {
      place.setWidth(std::max(place.width(), widget->sizeHint().width()));
    }
    widget->setGeometry(place);
    nextLeft = place.right() + 1 + kGap;
  }
}

std::optional<std::int16_t> NumberIn(const QLineEdit& box) {
  return state::ToInt16(box.text().toStdString());
}

}  // namespace

frmOpt::frmOpt(state::ProgramState& options, HelpService& help, MessageBoxes& messages,
               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      options_(options),
      help_(help),
      messages_(messages) {
  setObjectName(QStringLiteral("frmOpt"));
  setWindowTitle(QStringLiteral("Options"));
  // Window-modal, so that the help window stays usable while the dialog is up.
  setWindowModality(Qt::WindowModal);
  SetHelpTopic(*this, topic::kOptions);

  cmdOK = MakeButton(QStringLiteral("cmdOK"), QStringLiteral("OK"), TwipsRect(120, 2880, 975, 375),
                     this);
  cmdCancel = MakeButton(QStringLiteral("cmdCancel"), QStringLiteral("Cancel"),
                         TwipsRect(1200, 2880, 975, 375), this);
  cmdApply = MakeButton(QStringLiteral("cmdApply"), QStringLiteral("Apply"),
                        TwipsRect(2280, 2880, 975, 375), this);
  cmdHelp = MakeButton(QStringLiteral("cmdHelp"), QStringLiteral("Help"),
                       TwipsRect(3360, 2880, 975, 375), this);
  cmdOK->setDefault(true);

  tabOpt = new QTabWidget(this);
  tabOpt->setObjectName(QStringLiteral("tabOpt"));
  tabOpt->setGeometry(TwipsRect(120, 120, 4215, 2655));
  auto* general = new QWidget;
  general->setObjectName(QStringLiteral("tabGeneral"));
  auto* newTags = new QWidget;
  newTags->setObjectName(QStringLiteral("tabNewTags"));
  tabOpt->addTab(general, QStringLiteral("General"));
  tabOpt->addTab(newTags, QStringLiteral("New Tags"));

  lblDays = MakeLabel(QStringLiteral("lblDays"), QStringLiteral("New tags expire after"),
                      OnTab(120, 600, 1695, 255), newTags);
  lblDays2 = MakeLabel(QStringLiteral("lblDays2"), QStringLiteral("days"),
                       OnTab(2520, 600, 615, 255), newTags);
  txtDays = MakeTextBox(QStringLiteral("txtDays"), OnTab(1680, 600, 735, 285), topic::kDaysOption,
                        newTags);
  lblLines1 = MakeLabel(QStringLiteral("lblLines1"), QStringLiteral("Delete"),
                        OnTab(120, 1200, 735, 255), newTags);
  txtLines = MakeTextBox(QStringLiteral("txtLines"), OnTab(720, 1200, 615, 285),
                         topic::kLinesOption, newTags);
  lblLines2 = MakeLabel(QStringLiteral("lblLines2"), QStringLiteral("line(s) of text after tag"),
                        OnTab(1440, 1200, 2535, 255), newTags);
  chkLog = new QCheckBox(QStringLiteral("Generate Log.txt file?"), general);
  chkLog->setObjectName(QStringLiteral("chkLog"));
  chkLog->setGeometry(OnTab(360, 720, 2055, 375));
  SetHelpTopic(*chkLog, topic::kLogOption);
  // Below chkLog, as far below it as chkLog is below the top of the tab.
  chkSubfolders = new QCheckBox(QStringLiteral("Include &subfolders"), general);
  chkSubfolders->setObjectName(QStringLiteral("chkSubfolders"));
  chkSubfolders->setGeometry(OnTab(360, 1320, 2055, 375));
  SetHelpTopic(*chkSubfolders, topic::kSubfoldersOption);
  FitRow({lblDays, txtDays, lblDays2});
  FitRow({lblLines1, txtLines, lblLines2});
  FitRow({chkLog});
  FitRow({chkSubfolders});

  setTabOrder(cmdOK, cmdCancel);
  setTabOrder(cmdCancel, cmdApply);
  setTabOrder(cmdApply, cmdHelp);
  setTabOrder(cmdHelp, tabOpt);
  setTabOrder(tabOpt, txtDays);
  setTabOrder(txtDays, txtLines);
  setTabOrder(txtLines, chkLog);
  setTabOrder(chkLog, chkSubfolders);

  connect(txtDays, &QLineEdit::textChanged, this, &frmOpt::EnableApply);
  connect(txtLines, &QLineEdit::textChanged, this, &frmOpt::EnableApply);
  connect(chkLog, &QCheckBox::clicked, this, &frmOpt::EnableApply);
  connect(chkSubfolders, &QCheckBox::clicked, this, &frmOpt::EnableApply);
  connect(cmdApply, &QPushButton::clicked, this, &frmOpt::ApplyFields);
  connect(cmdOK, &QPushButton::clicked, this, &frmOpt::Ok);
  connect(cmdCancel, &QPushButton::clicked, this, &frmOpt::reject);
  connect(cmdHelp, &QPushButton::clicked, this, [this] { help_.ShowTopic(topic::kOptions, this); });

  tabOpt->setCurrentIndex(kNewTagsTab);
  setFixedSize(TwipsSize(4455, 3360));
  setGeometry(QRect(TwipsPoint(3975, 5280), size()));
  InstallContextHelp(*this, help);

  UseColourScheme(*this, *this, [this] { return ControlOrder(); });
}

std::vector<QObject*> frmOpt::ControlOrder() const {
  return {cmdOK,
          cmdCancel,
          cmdApply,
          cmdHelp,
          tabOpt,
          tabOpt->widget(kGeneralTab),
          tabOpt->widget(kNewTagsTab),
          lblDays,
          lblDays2,
          txtDays,
          lblLines1,
          txtLines,
          lblLines2,
          chkLog,
          chkSubfolders};
}

void frmOpt::reject() {
  hide();
}

void frmOpt::showEvent(QShowEvent* event) {
  // A showing by the program, not the window coming back from a minimised
  // state or from another program.
  if (!event->spontaneous()) {
    Activate();
  }
  QDialog::showEvent(event);
}

void frmOpt::Activate() {
  txtDays->setText(QString::number(options_.NewDays));
  txtLines->setText(QString::number(options_.Lines));
  chkLog->setChecked(options_.Log != 0);
  chkSubfolders->setChecked(options_.Subfolders != 0);
  cmdApply->setEnabled(false);
}

bool frmOpt::ApplyFields() {
  const auto days = NumberIn(*txtDays);
  const auto lines = NumberIn(*txtLines);
  QLineEdit* wrong = !days ? txtDays : !lines ? txtLines : nullptr;
  if (wrong != nullptr) {
    const QString field = wrong == txtDays
                              ? QStringLiteral("number of days after which new tags expire")
                              : QStringLiteral("number of lines to delete after a tag");
    messages_.Warn(QStringLiteral("The %1 must be a whole number from -32768 to 32767; \"%2\" is "
                                  "not. No option has been changed.")
                       .arg(field, wrong->text()));
    tabOpt->setCurrentIndex(kNewTagsTab);
    wrong->setFocus();
    wrong->selectAll();
    cmdApply->setEnabled(true);
    return false;
  }
  options_.NewDays = *days;
  options_.Lines = *lines;
  options_.Log = chkLog->isChecked() ? 1 : 0;
  options_.Subfolders = chkSubfolders->isChecked() ? 1 : 0;
  cmdApply->setEnabled(false);
  return true;
}

void frmOpt::Ok() {
  if (ApplyFields()) {
    hide();
  }
}

void frmOpt::EnableApply() {
  cmdApply->setEnabled(true);
}

}  // namespace lapse::ui
