#include "front/folder_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lapse::front {
namespace {

struct ChainCase {
  const char* name;
  const char* folder;
  std::vector<std::string> chain;
};

class FolderChainTest : public testing::TestWithParam<ChainCase> {};

TEST_P(FolderChainTest, FromTheRootDownToTheFolder) {
  EXPECT_EQ(FolderChain(GetParam().folder), GetParam().chain);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderChainTest,
    testing::Values(ChainCase{"PosixRoot", "/", {"/"}},
                    ChainCase{"OneBelowThePosixRoot", "/a", {"/", "/a"}},
                    ChainCase{
                        "Deep", "/home/ann/web", {"/", "/home", "/home/ann", "/home/ann/web"}},
                    ChainCase{"SlashAtTheEnd", "/home/ann/", {"/", "/home", "/home/ann"}},
                    ChainCase{"DriveRoot", "C:/", {"C:/"}},
                    ChainCase{"OneBelowADrive", "C:/a", {"C:/", "C:/a"}},
                    ChainCase{"DeepOnADrive", "D:/Sites/web/", {"D:/", "D:/Sites", "D:/Sites/web"}},
                    ChainCase{"NonAsciiNames",
                              "/h\xc3\xa9/\xc3\xa9t\xc3\xa9",
                              {"/", "/h\xc3\xa9", "/h\xc3\xa9/\xc3\xa9t\xc3\xa9"}}),
    [](const testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lapse::front
