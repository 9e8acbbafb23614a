#include "batch/directory.h"

#include <gtest/gtest.h>

#include "engine/io.h"
#include "support/temp_dir.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using testing_support::MakeSymlink;
using testing_support::SetWindowsAttribute;
using testing_support::TempDirTest;
using testing_support::WindowsAttribute;
using NameList = std::vector<std::string>;

// A name outside ASCII, as UTF-8 bytes and as a path.
std::string Utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}
const std::string kForeignName = Utf8(u8"Grüße-ελληνικά-目录.htm");

class DirectoryTest : public TempDirTest {
 protected:
  static NameList Sorted(const Listing& listing) {
    NameList names;
    for (const fs::path& name : listing.names)
      names.push_back(engine::PathText(name));
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(DirectoryTest, ListsOnlyOrdinaryFilesByTheirBareNames) {
  Write(dir_ / "a.htm", "a");
  Write(dir_ / "notes.txt", "n");
  Write(dir_ / engine::PathFromText(kForeignName), "f");
  Write(dir_ / ".hidden.htm", "h");
  SetWindowsAttribute(dir_ / ".hidden.htm", WindowsAttribute::Hidden);
  fs::create_directory(dir_ / "sub.htm");
  MakeSymlink(dir_ / "a.htm", dir_ / "link.htm");
#if defined(_WIN32)
  Write(dir_ / "system.htm", "s");
  SetWindowsAttribute(dir_ / "system.htm", WindowsAttribute::System);
#endif
  const Listing listing = ListOrdinaryFiles(dir_);
  EXPECT_FALSE(listing.error);
  EXPECT_EQ(Sorted(listing), (NameList{kForeignName, "a.htm", "notes.txt"}));
}

// The rewriter's partial copies carry a leading "." and, on Windows, the hidden
// attribute: neither a run nor a replace takes one for an ordinary file.
TEST_F(DirectoryTest, PartialCopiesAreNoOrdinaryFiles) {
  Write(dir_ / ".a.htm.part", "half");
  engine::SetHidden(dir_ / ".a.htm.part", engine::Hidden::Yes);
  EXPECT_EQ(Sorted(ListOrdinaryFiles(dir_)), NameList{});
  Write(dir_ / "a.htm", "whole");
  engine::SetHidden(dir_ / "a.htm", engine::Hidden::Yes);
  engine::SetHidden(dir_ / "a.htm", engine::Hidden::No);
  EXPECT_EQ(Sorted(ListOrdinaryFiles(dir_)), NameList{"a.htm"});
}

TEST_F(DirectoryTest, MissingDirectoryGivesAnError) {
  const Listing listing = ListOrdinaryFiles(dir_ / "gone");
  EXPECT_TRUE(listing.error);
  EXPECT_TRUE(listing.names.empty());
}

struct ReplaceCase {
  const char* name;
  bool targetExists;
  friend void PrintTo(const ReplaceCase& c, std::ostream* os) {
    *os << (c.targetExists ? "over an old file" : "to a new name");
  }
};

class ReplaceFileTest : public DirectoryTest, public testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceFileTest, MovesTheContentAndRemovesTheOldName) {
  const fs::path from = dir_ / "New" / engine::PathFromText(GetParam().name);
  const fs::path to = dir_ / engine::PathFromText(GetParam().name);
  fs::create_directory(dir_ / "New");
  Write(from, "new content");
  if (GetParam().targetExists) {
    Write(to, "old content, longer than the new");
  }
  EXPECT_FALSE(ReplaceFile(from, to));
  EXPECT_EQ(Read(to), "new content");
  EXPECT_FALSE(fs::exists(from));
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceFileTest,
                         testing::Values(ReplaceCase{"a.htm", true}, ReplaceCase{"a.htm", false},
                                         ReplaceCase{kForeignName.c_str(), true}));

TEST_F(DirectoryTest, ReplaceFileFailsWithoutHarmWhereItCannotMove) {
  Write(dir_ / "a.htm", "copy");
  fs::create_directory(dir_ / "folder.htm");
  EXPECT_TRUE(ReplaceFile(dir_ / "a.htm", dir_ / "folder.htm"));
  EXPECT_EQ(Read(dir_ / "a.htm"), "copy");
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.htm"));
  EXPECT_TRUE(ReplaceFile(dir_ / "gone.htm", dir_ / "b.htm"));
  EXPECT_FALSE(fs::exists(dir_ / "b.htm"));
}

}  // namespace
}  // namespace lapse::batch
