#include "ui/frm_coming.h"

#include <QDateEdit>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QStringDecoder>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>

#include "front/help_topics.h"
#include "messages/messages.h"
#include "ui/colour_scheme.h"
#include "ui/editor.h"
#include "ui/help.h"
#include "ui/message_boxes.h"
#include "ui/paths.h"

namespace lapse::ui {

namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// A line of a page: UTF-8 where it is valid UTF-8, else 8-bit text, so
// that neither kind turns into replacement characters.
QString LineText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  return text;
}

QDate DateOf(text::Today day) {
  const std::chrono::year_month_day date{day};
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day()))};
}

text::Today DayOf(const QDate& date) {
  return std::chrono::local_days{std::chrono::year{date.year()} /
                                 std::chrono::month{static_cast<unsigned>(date.month())} /
                                 std::chrono::day{static_cast<unsigned>(date.day())}};
}

QLabel* MakeLabel(const QString& name, const QString& caption, QWidget* parent) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  return label;
}

QListWidget* MakePreviewList(const QString& name, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setObjectName(name);
  list->setUniformItemSizes(true);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return list;
}

void AddLine(QListWidget& list, const front::PreviewLine& line) {
  auto* item = new QListWidgetItem(
      QStringLiteral("%1  %2").arg(line.number, 5).arg(LineText(line.text)), &list);
  item->setData(Qt::UserRole, static_cast<int>(line.mark));
  item->setData(Qt::UserRole + 1, static_cast<qulonglong>(line.number));
  // A long line ends in "..." in the list and shows whole as its tip.
  item->setToolTip(LineText(line.text));
  if (line.mark == front::PreviewMark::Kept) {
    return;
  }
  const bool goes = line.mark == front::PreviewMark::Goes;
  item->setForeground(EmphasisColour(goes ? Emphasis::Goes : Emphasis::Appears, list.palette()));
  QFont font = list.font();
  font.setStrikeOut(goes);
  font.setBold(!goes);
  item->setFont(font);
  item->setToolTip(Text(front::MarkName(line.mark)) + QStringLiteral(": ") + LineText(line.text));
}

}  // namespace

frmComing::frmComing(platform::Disk& disk, std::filesystem::path folder,
                     front::ComingSettings settings, text::Today today, HelpService& help,
                     MessageBoxes& messages, EditorLauncher& editor, QWidget* parent)
    : QDialog(parent, Qt::Window),
      messages_(messages),
      editor_(editor),
      logic_(disk, std::move(folder), std::move(settings), today) {
  setObjectName(QStringLiteral("frmComing"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Text(front::ComingTitle(logic_.Folder())));
  CarryHelpTopic(*this);

  lblDate = MakeLabel(QStringLiteral("lblDate"), Text(front::LookAtLabel()), this);
  txtDate = new QDateEdit(DateOf(today), this);
  txtDate->setObjectName(QStringLiteral("txtDate"));
  txtDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  txtDate->setCalendarPopup(true);
  lblDate->setBuddy(txtDate);

  lblNoRows = MakeLabel(QStringLiteral("lblNoRows"), {}, this);
  lblNoRows->setWordWrap(true);
  lstRows = new QTreeWidget(this);
  lstRows->setObjectName(QStringLiteral("lstRows"));
  lstRows->setRootIsDecorated(false);
  lstRows->setUniformRowHeights(true);
  lstRows->setAllColumnsShowFocus(true);
  QStringList headings;
  for (std::size_t column = 0; column < front::kComingColumns; ++column) {
    headings.push_back(Text(front::ComingColumnHeading(column)));
  }
  lstRows->setHeaderLabels(headings);

  auto* previewArea = new QWidget(this);
  lblNow = MakeLabel(QStringLiteral("lblNow"), Text(front::NowHeading()), previewArea);
  lstNow = MakePreviewList(QStringLiteral("lstNow"), previewArea);
  lblOnDay = MakeLabel(QStringLiteral("lblOnDay"), Text(front::OnDayHeading(today)), previewArea);
  lstOnDay = MakePreviewList(QStringLiteral("lstOnDay"), previewArea);
  lblNote = MakeLabel(QStringLiteral("lblNote"), {}, this);
  lblNote->setWordWrap(true);

  cmdEdit = new QPushButton(Text(front::OpenInEditorLabel()), this);
  cmdEdit->setObjectName(QStringLiteral("cmdEdit"));
  cmdEdit->setDefault(true);
  cmdClose = new QPushButton(Text(front::CloseLabel()), this);
  cmdClose->setObjectName(QStringLiteral("cmdClose"));

  auto* dateRow = new QHBoxLayout;
  dateRow->addWidget(lblDate);
  dateRow->addWidget(txtDate);
  dateRow->addStretch();

  auto* previewLayout = new QGridLayout(previewArea);
  previewLayout->setContentsMargins(0, 0, 0, 0);
  previewLayout->addWidget(lblNow, 0, 0);
  previewLayout->addWidget(lblOnDay, 0, 1);
  previewLayout->addWidget(lstNow, 1, 0);
  previewLayout->addWidget(lstOnDay, 1, 1);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(lstRows);
  splitter->addWidget(previewArea);
  splitter->setChildrenCollapsible(false);
  splitter->setStretchFactor(0, 2);
  splitter->setStretchFactor(1, 3);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lblNote, 1);
  buttons->addWidget(cmdEdit);
  buttons->addWidget(cmdClose);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(dateRow);
  layout->addWidget(lblNoRows);
  layout->addWidget(splitter, 1);
  layout->addLayout(buttons);

  setTabOrder(txtDate, lstRows);
  setTabOrder(lstRows, lstNow);
  setTabOrder(lstNow, lstOnDay);
  setTabOrder(lstOnDay, cmdEdit);
  setTabOrder(cmdEdit, cmdClose);

  connect(lstRows, &QTreeWidget::currentItemChanged, this, [this] { RowChosen(); });
  connect(lstRows, &QTreeWidget::itemDoubleClicked, this, [this] { OpenInEditor(); });
  connect(txtDate, &QDateEdit::dateChanged, this, [this] { DayChosen(); });
  connect(cmdEdit, &QPushButton::clicked, this, [this] { OpenInEditor(); });
  connect(cmdClose, &QPushButton::clicked, this, &frmComing::reject);

  resize(760, 540);
  setMinimumSize(480, 360);
  InstallContextHelp(*this, help);
  UseColourScheme(*this, *this, [this] { return ControlOrder(); });

  logic_.Load();
  ShowRows();
  // The first row's page shows at once, and the arrow keys go on from it.
  lstRows->setFocus();
  if (lstRows->topLevelItemCount() > 0) {
    lstRows->setCurrentItem(lstRows->topLevelItem(0));
  }
  ShowPreview();
}

std::vector<QObject*> frmComing::ControlOrder() const {
  return {lblDate,  txtDate,  lblNoRows, lstRows, lblNow,  lstNow,
          lblOnDay, lstOnDay, lblNote,   cmdEdit, cmdClose};
}

void frmComing::reject() {
  QDialog::reject();
  deleteLater();
}

void frmComing::keyPressEvent(QKeyEvent* event) {
  // Enter opens the page wherever the focus is but on a button, which
  // presses it; Escape closes the window, as the dialog's reject would.
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
      qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
    OpenInEditor();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmComing::ShowRows() {
  lstRows->clear();
  const front::ComingList& list = logic_.List();
  const text::Today today = logic_.Today();
  const QColor faultColour = EmphasisColour(Emphasis::Goes, lstRows->palette());
  QList<QTreeWidgetItem*> items;
  for (std::size_t at = 0; at < list.rows.size(); ++at) {
    const front::ComingRow& row = list.rows[at];
    QStringList cells;
    for (std::size_t column = 0; column < front::kComingColumns; ++column) {
      cells.push_back(column == 5 ? LineText(front::ComingCell(row, column, today))
                                  : Text(front::ComingCell(row, column, today)));
    }
    auto* item = new QTreeWidgetItem(cells);
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(at));
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    if (row.fault != front::ComingFault::None) {
      for (int column = 0; column < static_cast<int>(front::kComingColumns); ++column) {
        item->setForeground(column, faultColour);
      }
      item->setToolTip(1, Text(front::FaultName(row)));
    }
    items.push_back(item);
  }
  lstRows->addTopLevelItems(items);
  for (int column = 0; column + 1 < static_cast<int>(front::kComingColumns); ++column) {
    lstRows->resizeColumnToContents(column);
  }
  const std::string none = front::NoRowsText(list, logic_.Folder());
  lblNoRows->setText(Text(none));
  lblNoRows->setVisible(!none.empty());
  cmdEdit->setEnabled(false);
}

void frmComing::RowChosen() {
  const QTreeWidgetItem* item = lstRows->currentItem();
  logic_.Select(item == nullptr
                    ? std::nullopt
                    : std::optional<std::size_t>(item->data(0, Qt::UserRole).toULongLong()));
  ShowPreview();
}

void frmComing::DayChosen() {
  if (!txtDate->date().isValid()) {
    return;
  }
  logic_.LookAt(DayOf(txtDate->date()));
  lblOnDay->setText(Text(front::OnDayHeading(logic_.LookAt())));
  ShowPreview();
}

void frmComing::ShowPreview() {
  lstNow->clear();
  lstOnDay->clear();
  const std::optional<front::Preview>& preview = logic_.Shown();
  cmdEdit->setEnabled(logic_.SelectedFile().has_value());
  if (!preview) {
    lblNote->clear();
    return;
  }
  for (const front::PreviewLine& line : preview->lines) {
    AddLine(*lstNow, line);
    if (line.mark != front::PreviewMark::Goes) {
      AddLine(*lstOnDay, line);
    }
  }
  lblNote->setText(Text(front::PreviewNote(*preview)));
  // The selected tag's line shows in both lists.
  const std::uint64_t tag = logic_.SelectedLine();
  if (tag > 0 && tag <= static_cast<std::uint64_t>(lstNow->count())) {
    lstNow->scrollToItem(lstNow->item(static_cast<int>(tag - 1)),
                         QAbstractItemView::PositionAtCenter);
  }
  for (int at = 0; at < lstOnDay->count(); ++at) {
    if (lstOnDay->item(at)->data(Qt::UserRole + 1).toULongLong() >= tag) {
      lstOnDay->scrollToItem(lstOnDay->item(at), QAbstractItemView::PositionAtCenter);
      break;
    }
  }
}

void frmComing::OpenInEditor() {
  const std::optional<std::filesystem::path> file = logic_.SelectedFile();
  if (!file) {
    return;
  }
  if (!editor_.OpenAt(*file, logic_.SelectedLine())) {
    messages_.Warn(Text(messages::CannotOpenPage(*file)));
  }
}

}  // namespace lapse::ui
