#include "engine/atomic_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace lapse::engine {
namespace {

namespace fs = std::filesystem;
using testing_support::MakeSymlink;
using NameList = std::vector<std::string>;

class AtomicFileTest : public testing_support::TempDirTest {
 protected:
  fs::path Dir() const { return fs::path(dir_.native() + fs::path::preferred_separator); }

  // The names a listing shows the user: hidden files left out.
  NameList VisibleNames() const {
    NameList names;
    for (const std::string& name : Names(dir_)) {
      if (name.front() != '.') {
        names.push_back(name);
      }
    }
    return names;
  }
};

TEST_F(AtomicFileTest, TakesItsNameOnlyWhenCommitted) {
  AtomicFile file(Dir(), "a.htm");
  ASSERT_TRUE(file.IsOpen()) << file.Error().message();
  ASSERT_TRUE(file.Write("first "));
  ASSERT_TRUE(file.Write("second"));
  EXPECT_FALSE(fs::exists(dir_ / "a.htm"));
  EXPECT_EQ(VisibleNames(), NameList{});

  ASSERT_TRUE(file.Commit()) << file.Error().message();
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "first second");
}

TEST_F(AtomicFileTest, DroppedUncommittedLeavesNothingAndTheOlderFileAsItWas) {
  Write(dir_ / "a.htm", "older");
  {
    AtomicFile file(Dir(), "a.htm");
    ASSERT_TRUE(file.Write("newer, but never whole"));
  }
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "older");
}

TEST_F(AtomicFileTest, ReplacesAFileStandingUnderItsName) {
  Write(dir_ / "a.htm", "a much longer older text");
  AtomicFile file(Dir(), "a.htm");
  ASSERT_TRUE(file.Write("newer"));
  ASSERT_TRUE(file.Commit()) << file.Error().message();
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "newer");
}

// A link under the name is replaced, never written through.
TEST_F(AtomicFileTest, ReplacesALinkAndLeavesItsTarget) {
  Write(dir_ / "target.txt", "not to be touched");
  if (!MakeSymlink(dir_ / "target.txt", dir_ / "a.htm")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  AtomicFile file(Dir(), "a.htm");
  ASSERT_TRUE(file.Write("copy"));
  ASSERT_TRUE(file.Commit()) << file.Error().message();
  EXPECT_FALSE(fs::is_symlink(dir_ / "a.htm"));
  EXPECT_EQ(Read(dir_ / "a.htm"), "copy");
  EXPECT_EQ(Read(dir_ / "target.txt"), "not to be touched");
}

TEST_F(AtomicFileTest, AFolderUnderItsNameFailsTheCommitAndStays) {
  fs::create_directory(dir_ / "a.htm");
  Write(dir_ / "a.htm" / "inner.txt", "kept");
  AtomicFile file(Dir(), "a.htm");
  ASSERT_TRUE(file.Write("copy"));
  EXPECT_FALSE(file.Commit());
  EXPECT_TRUE(file.Error());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm" / "inner.txt"), "kept");
}

TEST_F(AtomicFileTest, AMissingFolderFailsTheOpenWithItsReason) {
  AtomicFile file(fs::path((dir_ / "gone").native() + fs::path::preferred_separator), "a.htm");
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Error(), std::errc::no_such_file_or_directory);
  EXPECT_FALSE(file.Write("text"));
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(Names(dir_), NameList{});
}

}  // namespace
}  // namespace lapse::engine
