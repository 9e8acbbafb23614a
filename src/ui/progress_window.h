// A small modal window that shows how far a long run or replace has come.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <filesystem>

#include "batch/batch.h"

namespace lapse::ui {

// Shows itself once the work has taken about a second; until then, and for
// short work, nothing shows. It takes no input, and the windows below it
// repaint while it is up.
class ProgressWindow final : public batch::Progress {
 public:
  explicit ProgressWindow(QWidget* owner);
  ~ProgressWindow() override;
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  void Advance(std::uint64_t done, std::uint64_t listed,
               const std::filesystem::path& current) override;
  // Closes the window before the final message.
  void Close();

 private:
  QWidget* owner_;
  QPointer<QProgressDialog> dialog_;
  QElapsedTimer started_;
  QElapsedTimer painted_;
};

}  // namespace lapse::ui
