#include "ui/progress_window.h"

#include <QCoreApplication>
#include <QLabel>

#include "text/names.h"

namespace lapse::ui {

namespace {

constexpr qint64 kShowAfterMilliseconds = 1000;
constexpr qint64 kRepaintEveryMilliseconds = 50;

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner) : owner_(owner) {
  started_.start();
  painted_.start();
}

ProgressWindow::~ProgressWindow() {
  Close();
}

void ProgressWindow::Advance(std::uint64_t done, std::uint64_t listed,
                             const std::filesystem::path& current) {
  if (started_.elapsed() < kShowAfterMilliseconds ||
      (dialog_ && painted_.elapsed() < kRepaintEveryMilliseconds)) {
    return;
  }
  if (!dialog_) {
    dialog_ =
        new QProgressDialog(owner_, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog_->setObjectName(QStringLiteral("frmProgress"));
    dialog_->setWindowTitle(QStringLiteral("Lapse"));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setCancelButton(nullptr);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumWidth(360);
    dialog_->show();
  }
  // A count past int's range shows as a share of a thousand.
  const bool large = listed > 1'000'000;
  dialog_->setMaximum(static_cast<int>(large ? 1000 : listed));
  dialog_->setValue(static_cast<int>(large ? done * 1000 / listed : done));
  const std::string name = text::DisplayName(current);
  dialog_->setLabelText(
      QStringLiteral("%1 of %2 files\n%3")
          .arg(done)
          .arg(listed)
          .arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))));
  painted_.restart();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressWindow::Close() {
  if (dialog_) {
    dialog_->close();
    delete dialog_;
  }
}

}  // namespace lapse::ui
