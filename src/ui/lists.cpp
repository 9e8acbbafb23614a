#include "ui/lists.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "front/folder_chain.h"
#include "ui/paths.h"

namespace lapse::ui {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;
constexpr int kIndentPerLevel = 8;

// Memory-only file systems and packed images hold no files of the user's.
bool HoldsUserFiles(const QStorageInfo& volume) {
  static const QByteArray kNotUserFileSystems[] = {"tmpfs", "ramfs", "devtmpfs", "squashfs"};
  const QByteArray type = volume.fileSystemType();
  return std::none_of(std::begin(kNotUserFileSystems), std::end(kNotUserFileSystems),
                      [&type](const QByteArray& other) { return type == other; });
}

QString CleanDirectory(const QString& directory) {
  return QDir::cleanPath(QDir(directory).absolutePath());
}

// Indents each directory by its depth below the root, icon included.
class IndentingDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem indented(option);
    indented.rect.setLeft(option.rect.left() + Indent(index));
    QStyledItemDelegate::paint(painter, indented, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(Indent(index), 0);
  }

 private:
  static int Indent(const QModelIndex& index) {
    return index.data(kDepthRole).toInt() * kIndentPerLevel;
  }
};

}  // namespace

std::vector<Drive> MountedDrives() {
  std::vector<Drive> drives;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady() || !HoldsUserFiles(volume) ||
        !QFileInfo(volume.rootPath()).isDir()) {
      continue;
    }
    drives.push_back({volume.rootPath(), volume.name()});
  }
  return drives;
}

QString ListingError(const QString& directory) {
  std::error_code error;
  const std::filesystem::directory_iterator listing(ToPath(directory), error);
  if (!error) {
    return {};
  }
  return QStringLiteral("Cannot open the folder %1: %2.")
      .arg(QDir::toNativeSeparators(directory), QString::fromLocal8Bit(error.message()));
}

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this,
          [this](int index) { emit driveChosen(itemData(index).toString()); });
}

void DriveList::SetTable(const front::DriveTable& table) {
  const QSignalBlocker quiet(this);
  clear();
  for (const front::Drive& drive : table.Drives()) {
    const QString caption =
        QString::fromStdString(front::DriveTable::Caption(drive, QDir::separator().toLatin1()));
    addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), caption,
            QString::fromStdString(drive.root));
  }
  setCurrentIndex(findData(QString::fromStdString(table.DriveOf(table.StartFolder()))));
}

void DriveList::ShowDrive(const QString& root) {
  const QSignalBlocker quiet(this);
  setCurrentIndex(findData(root));
}

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new IndentingDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this, &DirectoryList::OpenItem);
}

QString DirectoryList::SetPath(const QString& directory) {
  const QString clean = CleanDirectory(directory);
  QString error = ListingError(clean);
  if (!error.isEmpty()) {
    return error;
  }
  path_ = clean;
  Fill();
  emit pathChanged(path_);
  return {};
}

void DirectoryList::Refresh() {
  const std::vector<std::string> chain = front::FolderChain(path_.toStdString());
  for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder) {
    if (SetPath(QString::fromStdString(*folder)).isEmpty()) {
      return;
    }
  }
}

void DirectoryList::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      currentItem() != nullptr) {
    OpenItem(currentItem());
    return;
  }
  QListWidget::keyPressEvent(event);
}

void DirectoryList::OpenItem(QListWidgetItem* item) {
  const QString error = SetPath(item->data(kPathRole).toString());
  if (!error.isEmpty()) {
    emit openFailed(error);
  }
}

void DirectoryList::Fill() {
  clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  int depth = 0;
  QListWidgetItem* current = nullptr;
  for (const std::string& folder : front::FolderChain(path_.toStdString())) {
    const QString ancestor = QString::fromStdString(folder);
    const QString name = QDir(ancestor).isRoot() ? QDir::toNativeSeparators(ancestor)
                                                 : QFileInfo(ancestor).fileName();
    current = new QListWidgetItem(open, name, this);
    current->setData(kPathRole, ancestor);
    current->setData(kDepthRole, depth++);
  }
  const QDir directory(path_);
  const QStringList subdirectories = directory.entryList(
      QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  for (const QString& name : subdirectories) {
    auto* item = new QListWidgetItem(closed, name, this);
    item->setData(kPathRole, directory.absoluteFilePath(name));
    item->setData(kDepthRole, depth);
  }
  setCurrentItem(current);
  scrollToItem(current);
}

FileList::FileList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void FileList::SetPath(const QString& directory) {
  path_ = directory;
  clear();
  addItems(
      QDir(directory).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware));
}

}  // namespace lapse::ui
