// The help topics: the numbers that windows, controls and menu items carry,
// and which of them each one of the program's windows, controls and menu
// items opens.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "front/help_topic_list.h"

namespace lapse::front {

namespace topic {
inline constexpr int kMain = 1;
inline constexpr int kRun = 11;
inline constexpr int kViewLog = 12;
inline constexpr int kReplace = 13;
inline constexpr int kOptions = 21;
inline constexpr int kExit = 22;
inline constexpr int kContents = 23;
inline constexpr int kAbout = 24;
inline constexpr int kSchedule = 25;
inline constexpr int kUndo = 26;
inline constexpr int kComing = 27;
inline constexpr int kLogOption = 31;
inline constexpr int kDaysOption = 32;
inline constexpr int kLinesOption = 33;
inline constexpr int kSubfoldersOption = 34;
}  // namespace topic

// The topic of the window, control or menu item of that name ("cmdGo",
// "mnuExit", "frmOpt"); nothing for those that carry none, whose F1 opens
// the topic of the window they are on.
std::optional<int> HelpTopicOf(std::string_view name);

// The page that holds a topic: "topic11.html".
std::string HelpPageOf(int topic);

}  // namespace lapse::front
