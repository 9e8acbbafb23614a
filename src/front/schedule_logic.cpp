#include "front/schedule_logic.h"

#include "messages/messages.h"
#include "platform/clock.h"
#include "schedule/history.h"
#include "schedule/missed.h"

namespace lapse::front {

void ScheduleLogic::Activate(const std::filesystem::path& folder, bool subfolders) {
  host_.emplace(services_.host());
  folder_ = folder;
  entry_ = schedule::FindSchedule(*host_, folder_);
  view_.SetFields({schedule::FormatTimeOfDay(entry_ ? entry_->at : schedule::kDefaultTime),
                   entry_ ? entry_->recursive : subfolders});
  ShowState();
}

void ScheduleLogic::SubfoldersChanged() {
  ShowState();
}

void ScheduleLogic::ShowState() {
  ScheduleState state;
  state.folder = schedule::TextOf(folder_);
  state.scheduled = entry_.has_value();
  if (!entry_) {
    state.status = "Not updated automatically.";
  } else if (entry_->enabled) {
    state.status = "Updated automatically " + schedule::WhenText(*entry_) + ", by " +
                   std::string(schedule::SchedulerTitle(entry_->scheduler)) + ".";
  } else {
    state.status = "Scheduled " + schedule::WhenText(*entry_) + ", but " +
                   schedule::NotStartedText(*entry_) + ".";
  }
  if (entry_) {
    state.status += " Update options: " + messages::UpdateOptionsInWords(entry_->options) + ".";
  }
  const std::optional<std::chrono::local_days> lapse =
      services_.nextChange ? services_.nextChange(folder_, view_.Fields().subfolders)
                           : std::nullopt;
  state.nextChange = lapse ? schedule::DayText(*lapse) : "none found";
  state.lastUpdate = LastUpdateText(state);
  view_.Show(state);
  view_.EnableStop(state.scheduled);
}

std::string ScheduleLogic::LastUpdateText(ScheduleState& state) const {
  if (!entry_) {
    const std::optional<schedule::HistoryEntry> last =
        schedule::LastUpdate(folder_, schedule::HistoryFile(host_->stateFolder));
    // Run by hand, or by a schedule since stopped: the history does not
    // tell which, and it is told as a scheduled one is.
    if (!last) {
      return "none yet";
    }
    state.endedBadly = last->status != 0;
    return schedule::Summary(*last) + (state.endedBadly ? " (ended badly)" : "");
  }
  const std::chrono::system_clock::time_point now = host_->now();
  const schedule::UpdateState update = schedule::StateOf(
      *entry_, schedule::ReadHistory(schedule::HistoryFile(host_->stateFolder)), now);
  state.missed = update.missed;
  state.endedBadly = update.endedBadly;
  // A missed update says so in place of what the last one did, which is
  // older news.
  if (update.missed) {
    std::string text = schedule::MissedText(update, now);
    text.front() = 'M';
    return text + (update.endedBadly ? ", and it ended badly." : ".");
  }
  if (!update.last) {
    return "none yet";
  }
  return schedule::Summary(*update.last) + (update.endedBadly ? " (ended badly)" : "");
}

void ScheduleLogic::Schedule() {
  const ScheduleFields fields = view_.Fields();
  schedule::Request request;
  request.folder = schedule::TextOf(folder_);
  request.at = fields.at;
  request.recursive = fields.subfolders;
  // A schedule made with lapse-cli keeps its zone, its scheduler and its
  // options.
  request.options = services_.options;
  if (entry_) {
    request.zone = entry_->zone;
    request.scheduler = std::string(schedule::SchedulerName(entry_->scheduler));
    request.options = entry_->options;
  }
  if (request.options.dateOrder.empty()) {
    request.options.dateOrder = std::string(text::DateOrderName(platform::UserDateLocale().order));
  }
  const schedule::Outcome outcome = schedule::Schedule(*host_, request);
  if (outcome.status == schedule::Status::Failed) {
    view_.Warn(schedule::ProblemText(outcome));
    if (outcome.problem == schedule::Problem::BadTime) {
      view_.SelectTime();
    }
    return;
  }
  entry_ = schedule::FindSchedule(*host_, folder_);
  ShowState();
  if (outcome.problem == schedule::Problem::WillNotRun) {
    view_.Warn(messages::ScheduleNotStarted(outcome));
  } else if (outcome.status == schedule::Status::Partly) {
    view_.Warn(schedule::ProblemText(*host_, outcome));
  }
}

void ScheduleLogic::Stop() {
  const schedule::Outcome outcome = schedule::Unschedule(*host_, schedule::TextOf(folder_));
  entry_ = schedule::FindSchedule(*host_, folder_);
  ShowState();
  if (outcome.problem != schedule::Problem::None) {
    view_.Warn(schedule::ProblemText(outcome));
  }
}

void ScheduleLogic::Close() {
  view_.Hide();
}

}  // namespace lapse::front
