// What the Windows disk does when ReplaceFileW fails. It renames the file to
// be replaced (the page) to a backup name, then the replacement (the copy) to
// the page's name, and may stop between the two: it then says
// ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 (1177) and the page is under the backup
// name. ERROR_UNABLE_TO_REMOVE_REPLACED (1175) and
// ERROR_UNABLE_TO_MOVE_REPLACEMENT (1176, when a backup name is given) leave
// both files under their own names, as every other error does. What stands
// under the names afterwards decides, not the error alone, so that the page
// never stays under the backup name while its own is free. Apart from the
// disk, and built on every system, so that each case is tested.
#pragma once

#include <system_error>

namespace lapse::platform {

// What stands under the page's name after the replace failed.
enum class UnderPageName {
  Nothing,
  TheCopy,  // the very file the copy was: the replace went through after all
  Other,    // the page, a file put there since, or what could not be told
};

struct FailedReplace {
  std::error_code error;  // ReplaceFileW's, as LastWindowsError() gives it
  UnderPageName underPageName = UnderPageName::Other;
  bool backupThere = false;  // whether the backup name holds a file
  bool sameVolume = true;    // whether the copy was on the page's volume
};

enum class ReplaceStep {
  Done,         // the copy has the page's name: the backup, if any, goes
  LeaveAsIs,    // the page has its name; the copy waits under its own
  PutPageBack,  // the page is under the backup name: it is renamed back
  MoveCopy,     // nothing stands under either name: a plain move, as to a free name
};

struct ReplaceRepair {
  ReplaceStep step = ReplaceStep::LeaveAsIs;
  // Told once the step is done: none for Done and MoveCopy, whose move
  // tells its own.
  std::error_code error;
};

ReplaceRepair AfterFailedReplace(const FailedReplace& failed);

}  // namespace lapse::platform
