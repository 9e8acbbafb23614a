// How a folder is named and quoted in each scheduler's entries: the names of
// the systemd units, the task's name, and the folder as one word for /bin/sh
// under cron, for systemd's ExecStart and for a Windows command line. Each
// takes and gives UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace lapse::schedule {

// A folder name that no scheduler could be given safely.
enum class NameFault { None, ControlCharacter, NotUtf8 };
NameFault CheckFolderName(std::string_view folder);

// name on one line: control characters as \n, \r, \t or \xHH, bytes that
// are not UTF-8 as \xHH.
std::string ShownName(std::string_view name);

// 16 hexadecimal digits that tell one folder's text from another's.
std::string Fingerprint(std::string_view text);

// An absolute path escaped as systemd escapes paths into unit names
// ("/srv/my site" to "srv-my\x20site"), as `systemd-escape --path` does.
std::string SystemdPathEscape(std::string_view path);

// The name of a folder's units without their suffix: "lapse-update-" and the
// escaped path, or, where that would make a unit name longer than systemd
// takes, the escaped path cut short and the folder's fingerprint.
inline constexpr std::string_view kUnitPrefix = "lapse-update-";
std::string UnitBaseName(std::string_view folder);

// One word of ExecStart, quoted so that systemd passes it on unchanged:
// within double quotes, with its specifiers (%) and variables ($) doubled;
// a word of letters, digits and @+=:,./-_ alone stays as it is.
std::string SystemdWord(std::string_view word);
// Free text of a unit file (its Description), with specifiers doubled.
std::string SystemdText(std::string_view text);

// One word for /bin/sh as cron starts it: in single quotes, and with each %
// (which cron would make a line break) made by printf, so that the line holds
// no % at all. A plain word stays as it is.
std::string CronShellWord(std::string_view word);

// One word for a POSIX shell, quoted only where it must be: for commands
// that Lapse shows the user.
std::string ShellWord(std::string_view word);

// One argument of a Windows command line, as the C runtime reads it back.
std::string WindowsArgument(std::string_view argument);

// Text for an XML element or attribute.
std::string XmlText(std::string_view text);

// The name of a folder's task in Task Scheduler's folder "Lapse": the
// folder's text with the characters a task name may not hold replaced, cut
// short, and the fingerprint.
std::string TaskName(std::string_view folder);

}  // namespace lapse::schedule
