#include "platform/replace_repair.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"

namespace lapse::platform {
namespace {

// Windows' own codes, as LastWindowsError() passes them on.
std::error_code Windows(int code) {
  return {code, std::system_category()};
}
const std::error_code kRemoveReplaced = Windows(1175);    // ERROR_UNABLE_TO_REMOVE_REPLACED
const std::error_code kMoveReplacement = Windows(1176);   // ERROR_UNABLE_TO_MOVE_REPLACEMENT
const std::error_code kMoveReplacement2 = Windows(1177);  // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2
const std::error_code kSharingViolation = Windows(32);
const std::error_code kNoFile = std::make_error_code(std::errc::no_such_file_or_directory);
const std::error_code kOtherVolume = std::make_error_code(std::errc::cross_device_link);

struct RepairCase {
  const char* name;
  FailedReplace failed;
  ReplaceStep step;
  std::error_code told;
};

void PrintTo(const RepairCase& c, std::ostream* os) {
  *os << c.name;
}

class ReplaceRepairTest : public testing::TestWithParam<RepairCase> {};

TEST_P(ReplaceRepairTest, ThePageEndsUnderItsNameOrTheCopyTakesIt) {
  const RepairCase& c = GetParam();
  const ReplaceRepair repair = AfterFailedReplace(c.failed);
  EXPECT_EQ(repair.step, c.step);
  EXPECT_EQ(repair.error, c.told) << repair.error.message();
}

// The first cases are the states the system's documentation gives for each
// error when a backup name is given; the others are states it does not
// describe, met by what stands under the names.
INSTANTIATE_TEST_SUITE_P(
    States, ReplaceRepairTest,
    testing::Values(RepairCase{"PageCouldNotBeRemoved",
                               {kRemoveReplaced, UnderPageName::Other, false, true},
                               ReplaceStep::LeaveAsIs,
                               NotReplacedError()},
                    RepairCase{"CopyCouldNotBeRenamed",
                               {kMoveReplacement, UnderPageName::Other, false, true},
                               ReplaceStep::LeaveAsIs,
                               NotReplacedError()},
                    RepairCase{"PageLeftUnderTheBackupName",
                               {kMoveReplacement2, UnderPageName::Nothing, true, true},
                               ReplaceStep::PutPageBack,
                               NotReplacedError()},
                    // Wine stops halfway so when the copy is on another file system;
                    // the undo copies a page kept on another volume back on this error.
                    RepairCase{"PageLeftUnderTheBackupNameByACopyOnAnotherVolume",
                               {kMoveReplacement2, UnderPageName::Nothing, true, false},
                               ReplaceStep::PutPageBack,
                               kOtherVolume},
                    RepairCase{"PageHeldOpen",
                               {kSharingViolation, UnderPageName::Other, false, true},
                               ReplaceStep::LeaveAsIs,
                               kSharingViolation},
                    RepairCase{"PageGoneBeforeTheReplace",
                               {kNoFile, UnderPageName::Nothing, false, true},
                               ReplaceStep::MoveCopy,
                               {}},
                    // A replace without a backup name deletes the page on 1176: the copy
                    // is all there is.
                    RepairCase{"PageDeletedByTheReplace",
                               {kMoveReplacement, UnderPageName::Nothing, false, true},
                               ReplaceStep::MoveCopy,
                               {}},
                    RepairCase{"PageUnderTheBackupNameWhateverTheErrorSays",
                               {kRemoveReplaced, UnderPageName::Nothing, true, true},
                               ReplaceStep::PutPageBack,
                               NotReplacedError()},
                    RepairCase{"CopyInPlaceThoughTheReplaceFailed",
                               {kMoveReplacement2, UnderPageName::TheCopy, true, true},
                               ReplaceStep::Done,
                               {}},
                    RepairCase{"BackupBesideAPageUnderItsName",
                               {kMoveReplacement2, UnderPageName::Other, true, true},
                               ReplaceStep::LeaveAsIs,
                               NotReplacedError()}),
    [](const testing::TestParamInfo<RepairCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lapse::platform
