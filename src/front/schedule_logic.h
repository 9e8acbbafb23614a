// What the schedule dialog does, without drawing: it shows whether the
// folder the lists show is updated automatically, at which time and with
// subfolders or not, the next day on which something lapses there and how
// the last update went, scheduled or run by hand; Schedule registers or
// changes the daily update, Stop removes it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "schedule/schedule.h"

namespace lapse::front {

// The next day on which content lapses in a folder (and its subfolders when
// recursive); nothing when no current tag will lapse.
using NextChangeDay = std::function<std::optional<std::chrono::local_days>(
    const std::filesystem::path& folder, bool recursive)>;

// What the dialog reaches outside itself: the machine's schedulers (made
// when the dialog opens) and the next change day. The main window gives the
// next change day of its own options where none is set here.
struct ScheduleServices {
  std::function<schedule::Host()> host = schedule::DesktopHost;
  NextChangeDay nextChange = nullptr;
  // What a new schedule's update removes by: the main window's options and
  // date order. Without a date order, the user's locale's is taken, since
  // the scheduler runs the update with the system's locale.
  schedule::UpdateOptions options = {};
};

// The fields the user edits.
struct ScheduleFields {
  std::string at;  // HH:MM
  bool subfolders = false;
};

// The dialog's texts beside its fields.
struct ScheduleState {
  std::string folder;
  // "Updated automatically every day at 00:05, by systemd. Update options:
  // dates day first."
  std::string status;
  std::string nextChange;  // "2026-12-31", or "none found"
  // The history's last update, which it does not tell from one run by
  // hand: "2026-12-08 00:05: 3 pages rewritten", or "none yet", with
  // " (ended badly)" after an update that exited with status 1 or 2; for a
  // scheduled folder whose update was missed, "Missed: last update
  // 2026-12-06 00:05, 3 days ago." instead.
  std::string lastUpdate;
  bool scheduled = false;
  bool missed = false;
  bool endedBadly = false;
};

class ScheduleView {
 public:
  virtual ~ScheduleView() = default;
  virtual void Show(const ScheduleState& state) = 0;
  virtual void SetFields(const ScheduleFields& fields) = 0;
  virtual ScheduleFields Fields() const = 0;
  virtual void EnableStop(bool enabled) = 0;
  // An OK button and no icon.
  virtual void Tell(const std::string& text) = 0;
  // An OK button and the warning icon: something could not be done, or a
  // saved schedule will not run.
  virtual void Warn(const std::string& text) = 0;
  // Focuses the time's box with its text selected.
  virtual void SelectTime() = 0;
  virtual void Hide() = 0;
};

class ScheduleLogic {
 public:
  ScheduleLogic(ScheduleView& view, ScheduleServices services)
      : view_(view), services_(std::move(services)) {}

  // The dialog opens on folder; subfolders is the options' choice, which an
  // existing schedule's own overrides.
  void Activate(const std::filesystem::path& folder, bool subfolders);
  void SubfoldersChanged();
  // Registers the daily update as the fields say, replacing the folder's.
  void Schedule();
  // Ends the folder's daily update.
  void Stop();
  void Close();

 private:
  void ShowState();
  // The last update's line, and whether it was missed or ended badly.
  std::string LastUpdateText(ScheduleState& state) const;

  ScheduleView& view_;
  ScheduleServices services_;
  std::optional<schedule::Host> host_;
  std::filesystem::path folder_;
  std::optional<schedule::Entry> entry_;
};

}  // namespace lapse::front
