#include "front/drive_table.h"

#include <gtest/gtest.h>

namespace lapse::front {
namespace {

struct DriveOfCase {
  const char* name;
  PathCase pathCase;
  const char* path;
  const char* drive;
};

class DriveOfTest : public testing::TestWithParam<DriveOfCase> {};

TEST_P(DriveOfTest, TheLongestRootThatHoldsThePath) {
  const DriveTable table({{"/", {}}, {"/media/stick", "STICK"}, {"C:/", {}}}, "/home/ann",
                         GetParam().pathCase, "/");
  EXPECT_EQ(table.DriveOf(GetParam().path), GetParam().drive);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DriveOfTest,
    testing::Values(DriveOfCase{"Root", PathCase::Sensitive, "/", "/"},
                    DriveOfCase{"Mounted", PathCase::Sensitive, "/media/stick/web", "/media/stick"},
                    DriveOfCase{"MountRootItself", PathCase::Sensitive, "/media/stick",
                                "/media/stick"},
                    DriveOfCase{"OnlyANamePrefix", PathCase::Sensitive, "/media/sticky", "/"},
                    DriveOfCase{"LetterCaseCountsHere", PathCase::Sensitive, "/MEDIA/stick", "/"},
                    DriveOfCase{"LetterCaseIgnored", PathCase::Insensitive, "c:/Sites", "C:/"}),
    [](const testing::TestParamInfo<DriveOfCase>& info) { return std::string(info.param.name); });

TEST(DriveTableTest, TheStartFoldersDriveOpensAtItAndEveryOtherAtItsRoot) {
  const DriveTable table({{"/media/stick", {}}, {"/", {}}}, "/home/ann/web", PathCase::Sensitive,
                         "/");
  EXPECT_EQ(table.CurrentFolderOf("/"), "/home/ann/web");
  EXPECT_EQ(table.CurrentFolderOf("/media/stick"), "/media/stick");
  EXPECT_EQ(table.Drives().front().root, "/");  // sorted
}

TEST(DriveTableTest, TheRootAndTheStartFoldersDriveAreThereWhateverTheMountsSay) {
  const DriveTable empty({}, "/srv/www", PathCase::Sensitive, "/");
  EXPECT_EQ(empty.DriveOf("/srv/www"), "/");
  EXPECT_EQ(empty.Drives().size(), 1u);

  const DriveTable windows({{"D:/", "Data"}}, "C:/Sites", PathCase::Insensitive, {});
  EXPECT_EQ(windows.DriveOf("C:/Sites"), "C:/");
  EXPECT_EQ(windows.CurrentFolderOf("c:/"), "C:/Sites");
}

TEST(DriveTableTest, CaptionsShowTheRootNativelyAndALabelThatSaysMore) {
  EXPECT_EQ(DriveTable::Caption({"C:/", "Data"}, '\\'), "C:\\ [Data]");
  EXPECT_EQ(DriveTable::Caption({"/media/stick", "/media/stick"}, '/'), "/media/stick");
}

}  // namespace
}  // namespace lapse::front
