// The drive, directory and file lists of the main window.
#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QString>
#include <vector>

#include "front/drive_table.h"

namespace lapse::ui {

struct Drive {
  QString root;   // "/", "/media/stick", "C:/"
  QString label;  // the volume's name, when it has one
};

// The mounted volumes that hold real file systems, each by its root.
std::vector<Drive> MountedDrives();

// Why directory cannot be listed, or an empty text when it can.
QString ListingError(const QString& directory);

// Picks a drive. Each drive has a current directory: the process's current
// directory for the drive that holds it, the root for every other.
class DriveList final : public QComboBox {
  Q_OBJECT
 public:
  explicit DriveList(QWidget* parent);

  // Lists the drives of table, its start folder's drive chosen.
  void SetTable(const front::DriveTable& table);
  // Shows the drive of that root without announcing a choice.
  void ShowDrive(const QString& root);

 signals:
  void driveChosen(const QString& root);
};

// The open directory's ancestors from the root down, then its
// subdirectories, hidden ones left out. A click only highlights; a double
// click or Enter opens.
class DirectoryList final : public QListWidget {
  Q_OBJECT
 public:
  explicit DirectoryList(QWidget* parent);

  QString Path() const { return path_; }
  // Opens directory; when it cannot be listed the list stays as it was and
  // the result says why. An empty result means it is open.
  QString SetPath(const QString& directory);
  // Lists the open directory again, or its nearest ancestor that still exists.
  void Refresh();

 signals:
  void pathChanged(const QString& path);
  // Opening a directory chosen in the list failed; message says why.
  void openFailed(const QString& message);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OpenItem(QListWidgetItem* item);
  void Fill();

  QString path_;
};

// Every file of one directory but the hidden ones; for viewing only.
class FileList final : public QListWidget {
  Q_OBJECT
 public:
  explicit FileList(QWidget* parent);

  QString Path() const { return path_; }
  void SetPath(const QString& directory);

 private:
  QString path_;
};

}  // namespace lapse::ui
