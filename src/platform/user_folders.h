// Where a program keeps what belongs to the user and not to any document.
#pragma once

#include <filesystem>
#include <optional>

namespace lapse::platform {

// The folder for the program's state (kept pages, the history of updates):
// $XDG_STATE_HOME/lapse, else ~/.local/state/lapse; on Windows Lapse in the
// local application data folder of the user's profile, else in
// %LOCALAPPDATA%. Nothing where the user's home cannot be told.
std::optional<std::filesystem::path> UserStateFolder();

}  // namespace lapse::platform
