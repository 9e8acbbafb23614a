// The values that the windows and the engine share while the program runs.
#pragma once

#include <cstdint>
#include <filesystem>

namespace lapse::state {

inline constexpr std::int16_t kDefaultNewDays = 30;
inline constexpr std::int16_t kDefaultLines = 1;
inline constexpr std::int16_t kDefaultLog = 1;
inline constexpr std::int16_t kDefaultSubfolders = 0;

struct ProgramState {
  // The options, kept from one start of the program to the next.
  std::int16_t NewDays = kDefaultNewDays;  // days a new-content tag stays new
  std::int16_t Lines = kDefaultLines;      // lines removed after a lapsed new-content tag
  std::int16_t Log = kDefaultLog;          // a run writes the run log while non-zero
  // A run and a replace take the folders below the chosen one too while
  // non-zero (0 or 1, as the check box gives it).
  std::int16_t Subfolders = kDefaultSubfolders;

  // The paths of the last run; never stored. The two directories end in a
  // separator.
  std::filesystem::path SourceDir;
  std::filesystem::path NewDir;
  std::filesystem::path LogPath;
};

}  // namespace lapse::state
