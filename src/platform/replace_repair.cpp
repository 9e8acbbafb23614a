#include "platform/replace_repair.h"

#include "platform/errors.h"

namespace lapse::platform {

namespace {

// ERROR_UNABLE_TO_REMOVE_REPLACED, ERROR_UNABLE_TO_MOVE_REPLACEMENT and
// ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the system's own sentences for them
// tell of names as the replace left them, not as they are once put right.
bool StoppedHalfway(std::error_code error) {
  return error.category() == std::system_category() && error.value() >= 1175 &&
         error.value() <= 1177;
}

// Why the page stays: a copy on another volume can never take its place by
// a rename, which the undo answers by copying.
std::error_code Told(const FailedReplace& failed) {
  if (!failed.sameVolume) {
    return std::make_error_code(std::errc::cross_device_link);
  }
  return StoppedHalfway(failed.error) ? NotReplacedError() : failed.error;
}

}  // namespace

ReplaceRepair AfterFailedReplace(const FailedReplace& failed) {
  switch (failed.underPageName) {
    case UnderPageName::TheCopy:
      return {ReplaceStep::Done, {}};
    case UnderPageName::Other:
      // A backup beside a page under its name is no state the system
      // describes: what it holds is left where it is.
      return {ReplaceStep::LeaveAsIs, Told(failed)};
    case UnderPageName::Nothing:
      break;
  }
  if (failed.backupThere) {
    return {ReplaceStep::PutPageBack, Told(failed)};
  }
  // The page went before the replace could take it (deleted meanwhile, or a
  // replace without a backup name, which deletes it): the copy has the name
  // to itself.
  return {ReplaceStep::MoveCopy, {}};
}

}  // namespace lapse::platform
