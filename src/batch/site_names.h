// The names Lapse gives in the folder it works on, and how it tells its own
// files from the site's.
#pragma once

#include <filesystem>

namespace lapse::batch {

// The folder of the copies, beneath the chosen folder.
inline const std::filesystem::path kNewName("New");
// The run log, in New until the replace moves it up.
inline const std::filesystem::path kLogName("Log.txt");
// The record of a run's sources, in New. While it stands there New is
// Lapse's: a run may clear it and a replace may remove it.
inline const std::filesystem::path kRecordName(".lapse-sources");

// An HTML file by name: it contains ".htm", in lower case.
bool IsHtmlFileName(const std::filesystem::path& name);

// A file that Lapse writes into New for itself: the record, and the hidden
// names of files being written.
bool IsLapsesOwnFile(const std::filesystem::path& name);

}  // namespace lapse::batch
