#include "front/help_topics.h"

#include <algorithm>
#include <string>
#include <utility>

namespace lapse::front {

namespace {

constexpr std::pair<std::string_view, int> kTopicOfName[] = {
    {"frmMain", topic::kMain},
    {"cmdGo", topic::kRun},
    {"cmdLog", topic::kViewLog},
    {"cmdReplace", topic::kReplace},
    {"mnuOpt", topic::kOptions},
    {"mnuExit", topic::kExit},
    {"mnuUndo", topic::kUndo},
    {"mnuCont", topic::kContents},
    {"mnuAbout", topic::kAbout},
    {"frmOpt", topic::kOptions},
    {"frmAbout", topic::kAbout},
    {"chkLog", topic::kLogOption},
    {"txtDays", topic::kDaysOption},
    {"txtLines", topic::kLinesOption},
    {"chkSubfolders", topic::kSubfoldersOption},
    {"mnuSchedule", topic::kSchedule},
    {"frmSchedule", topic::kSchedule},
    {"mnuComing", topic::kComing},
    {"frmComing", topic::kComing},
};

}  // namespace

std::optional<int> HelpTopicOf(std::string_view name) {
  const auto* found = std::find_if(std::begin(kTopicOfName), std::end(kTopicOfName),
                                   [name](const auto& entry) { return entry.first == name; });
  if (found == std::end(kTopicOfName)) {
    return std::nullopt;
  }
  return found->second;
}

std::string HelpPageOf(int topic) {
  return "topic" + std::to_string(topic) + ".html";
}

}  // namespace lapse::front
