#include "ui/frm_opt.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <algorithm>
#include <initializer_list>

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

QLineEdit* MakeTextBox(const QString& name, QRect place, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setGeometry(place);
  CarryHelpTopic(*box);
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

}  // namespace

frmOpt::frmOpt(state::ProgramState& options, HelpService& help, MessageBoxes& messages,
               QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      help_(help),
      messages_(messages),
      logic_(*this, options) {
  setObjectName(QStringLiteral("frmOpt"));
  setWindowTitle(QStringLiteral("Options"));
  // Window-modal, so that the help window stays usable while the dialog is up.
  setWindowModality(Qt::WindowModal);
  CarryHelpTopic(*this);

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
  txtDays = MakeTextBox(QStringLiteral("txtDays"), OnTab(1680, 600, 735, 285), newTags);
  lblLines1 = MakeLabel(QStringLiteral("lblLines1"), QStringLiteral("Delete"),
                        OnTab(120, 1200, 735, 255), newTags);
  txtLines = MakeTextBox(QStringLiteral("txtLines"), OnTab(720, 1200, 615, 285), newTags);
  lblLines2 = MakeLabel(QStringLiteral("lblLines2"), QStringLiteral("line(s) of text after tag"),
                        OnTab(1440, 1200, 2535, 255), newTags);
  chkLog = new QCheckBox(QStringLiteral("Generate Log.txt file?"), general);
  chkLog->setObjectName(QStringLiteral("chkLog"));
  chkLog->setGeometry(OnTab(360, 720, 2055, 375));
  CarryHelpTopic(*chkLog);
  // Below chkLog, as far below it as chkLog is below the top of the tab.
  chkSubfolders = new QCheckBox(QStringLiteral("Include &subfolders"), general);
  chkSubfolders->setObjectName(QStringLiteral("chkSubfolders"));
  chkSubfolders->setGeometry(OnTab(360, 1320, 2055, 375));
  CarryHelpTopic(*chkSubfolders);
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

  const auto changed = [this] { logic_.FieldChanged(); };
  connect(txtDays, &QLineEdit::textChanged, this, changed);
  connect(txtLines, &QLineEdit::textChanged, this, changed);
  connect(chkLog, &QCheckBox::clicked, this, changed);
  connect(chkSubfolders, &QCheckBox::clicked, this, changed);
  connect(cmdApply, &QPushButton::clicked, this, [this] { logic_.Apply(); });
  connect(cmdOK, &QPushButton::clicked, this, [this] { logic_.Ok(); });
  connect(cmdCancel, &QPushButton::clicked, this, [this] { logic_.Cancel(); });
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
  logic_.Cancel();
}

void frmOpt::showEvent(QShowEvent* event) {
  // A showing by the program, not the window coming back from a minimised
  // state or from another program.
  if (!event->spontaneous()) {
    logic_.Activate();
  }
  QDialog::showEvent(event);
}

void frmOpt::SetFields(const front::OptionFields& fields) {
  txtDays->setText(QString::fromStdString(fields.days));
  txtLines->setText(QString::fromStdString(fields.lines));
  chkLog->setChecked(fields.log);
  chkSubfolders->setChecked(fields.subfolders);
}

front::OptionFields frmOpt::Fields() const {
  return {txtDays->text().toStdString(), txtLines->text().toStdString(), chkLog->isChecked(),
          chkSubfolders->isChecked()};
}

void frmOpt::EnableApply(bool enabled) {
  cmdApply->setEnabled(enabled);
}

void frmOpt::Warn(const std::string& text) {
  messages_.Warn(QString::fromStdString(text));
}

void frmOpt::SelectField(messages::OptionNumber field) {
  QLineEdit* box = field == messages::OptionNumber::Days ? txtDays : txtLines;
  tabOpt->setCurrentIndex(kNewTagsTab);
  box->setFocus();
  box->selectAll();
}

void frmOpt::Hide() {
  hide();
}

}  // namespace lapse::ui
