#include "ui/frm_schedule.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "ui/colour_scheme.h"
#include "ui/help.h"
#include "ui/message_boxes.h"
#include "ui/twips.h"

namespace lapse::ui {

namespace {

QLabel* MakeLabel(const QString& name, const QString& caption, QRect place, QWidget* parent,
                  bool wrapped = false) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setGeometry(place);
  label->setWordWrap(wrapped);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(const QString& name, const QString& caption, QRect place, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(place);
  return button;
}

}  // namespace

frmSchedule::frmSchedule(front::ScheduleServices services, HelpService& help,
                         MessageBoxes& messages, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      help_(help),
      messages_(messages),
      logic_(*this, std::move(services)) {
  setObjectName(QStringLiteral("frmSchedule"));
  setWindowTitle(QStringLiteral("Schedule"));
  // Window-modal, so that the help window stays usable while it is up.
  setWindowModality(Qt::WindowModal);
  CarryHelpTopic(*this);

  lblFolder = MakeLabel(QStringLiteral("lblFolder"), QStringLiteral("Folder:"),
                        TwipsRect(120, 120, 2100, 255), this);
  txtFolder = MakeLabel(QStringLiteral("txtFolder"), {}, TwipsRect(2280, 120, 3600, 255), this);
  txtFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblStatus =
      MakeLabel(QStringLiteral("lblStatus"), {}, TwipsRect(120, 720, 5760, 480), this, true);
  lblTime = MakeLabel(QStringLiteral("lblTime"), QStringLiteral("Update every day &at"),
                      TwipsRect(120, 1350, 2100, 255), this);
  txtTime = new QLineEdit(this);
  txtTime->setObjectName(QStringLiteral("txtTime"));
  txtTime->setGeometry(TwipsRect(2280, 1320, 735, 285));
  txtTime->setMaxLength(5);
  lblTime->setBuddy(txtTime);
  lblTimeForm =
      MakeLabel(QStringLiteral("lblTimeForm"), QStringLiteral("(HH:MM, this computer's time)"),
                TwipsRect(3120, 1350, 2760, 255), this);
  chkSubfolders = new QCheckBox(QStringLiteral("Include &subfolders"), this);
  chkSubfolders->setObjectName(QStringLiteral("chkSubfolders"));
  chkSubfolders->setGeometry(TwipsRect(2280, 1740, 3600, 375));
  CarryHelpTopic(*chkSubfolders);
  lblNextLapse = MakeLabel(QStringLiteral("lblNextLapse"), QStringLiteral("Next change here:"),
                           TwipsRect(120, 2280, 2100, 255), this);
  txtNextLapse =
      MakeLabel(QStringLiteral("txtNextLapse"), {}, TwipsRect(2280, 2280, 3600, 255), this);
  lblLastUpdate = MakeLabel(QStringLiteral("lblLastUpdate"), QStringLiteral("Last update:"),
                            TwipsRect(120, 2640, 2100, 255), this);
  txtLastUpdate =
      MakeLabel(QStringLiteral("txtLastUpdate"), {}, TwipsRect(2280, 2640, 3600, 480), this, true);
  cmdSchedule = MakeButton(QStringLiteral("cmdSchedule"), QStringLiteral("&Schedule"),
                           TwipsRect(120, 3300, 1335, 375), this);
  cmdStop = MakeButton(QStringLiteral("cmdStop"), QStringLiteral("S&top"),
                       TwipsRect(1560, 3300, 1335, 375), this);
  cmdClose = MakeButton(QStringLiteral("cmdClose"), QStringLiteral("Close"),
                        TwipsRect(3000, 3300, 1335, 375), this);
  cmdHelp = MakeButton(QStringLiteral("cmdHelp"), QStringLiteral("Help"),
                       TwipsRect(4440, 3300, 1335, 375), this);
  cmdSchedule->setDefault(true);

  setTabOrder(txtTime, chkSubfolders);
  setTabOrder(chkSubfolders, cmdSchedule);
  setTabOrder(cmdSchedule, cmdStop);
  setTabOrder(cmdStop, cmdClose);
  setTabOrder(cmdClose, cmdHelp);

  connect(chkSubfolders, &QCheckBox::clicked, this, [this] { logic_.SubfoldersChanged(); });
  connect(cmdSchedule, &QPushButton::clicked, this, [this] { logic_.Schedule(); });
  connect(cmdStop, &QPushButton::clicked, this, [this] { logic_.Stop(); });
  connect(cmdClose, &QPushButton::clicked, this, [this] { logic_.Close(); });
  connect(cmdHelp, &QPushButton::clicked, this,
          [this] { help_.ShowTopic(topic::kSchedule, this); });

  setFixedSize(TwipsSize(6000, 3795));
  for (QObject* control : ControlOrder()) {
    auto* widget = static_cast<QWidget*>(control);
    designed_.push_back({widget, widget->geometry()});
  }
  InstallContextHelp(*this, help);
  UseColourScheme(*this, *this, [this] { return ControlOrder(); });
}

void frmSchedule::Load(const std::filesystem::path& folder, bool subfolders) {
  logic_.Activate(folder, subfolders);
  txtTime->setFocus();
  txtTime->selectAll();
}

void frmSchedule::Open(const std::filesystem::path& folder, bool subfolders) {
  Load(folder, subfolders);
  exec();
}

std::vector<QObject*> frmSchedule::ControlOrder() const {
  return {lblFolder,     txtFolder,     lblStatus,    lblTime,      txtTime,
          lblTimeForm,   chkSubfolders, lblNextLapse, txtNextLapse, lblLastUpdate,
          txtLastUpdate, cmdSchedule,   cmdStop,      cmdClose,     cmdHelp};
}

void frmSchedule::reject() {
  logic_.Close();
}

void frmSchedule::Show(const front::ScheduleState& state) {
  // A long path shows with "..." in its middle, and whole as its tip.
  const QString folder = QString::fromStdString(state.folder);
  txtFolder->setText(
      txtFolder->fontMetrics().elidedText(folder, Qt::ElideMiddle, txtFolder->width()));
  txtFolder->setToolTip(folder);
  lblStatus->setText(QString::fromStdString(state.status));
  txtNextLapse->setText(QString::fromStdString(state.nextChange));
  txtLastUpdate->setText(QString::fromStdString(state.lastUpdate));
  FitTexts();
}

void frmSchedule::FitTexts() {
  // The places as designed hold two lines of each wrapped text; a longer
  // text pushes down what is below it, and the dialog grows.
  const auto growth = [this](const QLabel* label) {
    const QRect designed = PlaceOf(label);
    return std::max(0, label->heightForWidth(designed.width()) - designed.height());
  };
  const int statusGrowth = growth(lblStatus);
  const int lastUpdateGrowth = growth(txtLastUpdate);
  const int statusBottom = PlaceOf(lblStatus).bottom();
  const int lastUpdateBottom = PlaceOf(txtLastUpdate).bottom();
  for (const auto& [widget, designed] : designed_) {
    QRect place = designed;
    if (designed.top() > statusBottom) {
      place.translate(0, statusGrowth);
    }
    if (designed.top() > lastUpdateBottom) {
      place.translate(0, lastUpdateGrowth);
    }
    if (widget == lblStatus) {
      place.setHeight(place.height() + statusGrowth);
    } else if (widget == txtLastUpdate) {
      place.setHeight(place.height() + lastUpdateGrowth);
    }
    widget->setGeometry(place);
  }
  setFixedSize(TwipsSize(6000, 3795) + QSize(0, statusGrowth + lastUpdateGrowth));
}

QRect frmSchedule::PlaceOf(const QWidget* widget) const {
  for (const auto& [control, designed] : designed_) {
    if (control == widget) {
      return designed;
    }
  }
  return widget->geometry();
}

void frmSchedule::SetFields(const front::ScheduleFields& fields) {
  txtTime->setText(QString::fromStdString(fields.at));
  chkSubfolders->setChecked(fields.subfolders);
}

front::ScheduleFields frmSchedule::Fields() const {
  return {txtTime->text().trimmed().toStdString(), chkSubfolders->isChecked()};
}

void frmSchedule::EnableStop(bool enabled) {
  cmdStop->setEnabled(enabled);
}

void frmSchedule::Tell(const std::string& text) {
  messages_.Tell(QString::fromStdString(text));
}

void frmSchedule::Warn(const std::string& text) {
  messages_.Warn(QString::fromStdString(text));
}

void frmSchedule::SelectTime() {
  txtTime->setFocus();
  txtTime->selectAll();
}

void frmSchedule::Hide() {
  hide();
}

}  // namespace lapse::ui
