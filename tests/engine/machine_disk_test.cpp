#include "engine/disk.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/temp_dir.h"

namespace lapse::engine {
namespace {

namespace fs = std::filesystem;
using testing_support::MakeSymlink;
using testing_support::SetWindowsAttribute;
using testing_support::WindowsAttribute;
using NameList = std::vector<std::string>;

std::string Utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}
const std::string kForeignName = Utf8(u8"Grüße-ελληνικά-目录.htm");

class MachineDiskTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    Expected<std::unique_ptr<Folder>> folder = disk_.OpenFolder(dir_ / "");
    ASSERT_TRUE(folder) << folder.error().message();
    folder_ = std::move(*folder);
  }

  // A new file named name holding text; committed unless told otherwise.
  std::unique_ptr<NewFile> Create(const std::string& name, const std::string& text) {
    Expected<std::unique_ptr<NewFile>> file = disk_.Create(*folder_, PathFromText(name), 0600);
    EXPECT_TRUE(file) << file.error().message();
    EXPECT_TRUE((*file)->Write(text));
    return std::move(*file);
  }

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

  Disk& disk_ = MachineDisk();
  std::unique_ptr<Folder> folder_;
};

TEST_F(MachineDiskTest, ANewFileTakesItsNameOnlyWhenCommitted) {
  std::unique_ptr<NewFile> file = Create("a.htm", "first ");
  ASSERT_TRUE(file->Write("second"));
  EXPECT_FALSE(fs::exists(dir_ / "a.htm"));
  EXPECT_EQ(VisibleNames(), NameList{});
  ASSERT_FALSE(file->Commit());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "first second");
  EXPECT_EQ(file->Written(), 12u);
}

TEST_F(MachineDiskTest, ANewFileDroppedUncommittedLeavesTheOlderFileAsItWas) {
  Write(dir_ / "a.htm", "older");
  Create("a.htm", "newer, but never whole");
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "older");
}

TEST_F(MachineDiskTest, ANewFileReplacesAFileOrALinkButNeverWritesThroughIt) {
  Write(dir_ / "a.htm", "a much longer older text");
  ASSERT_FALSE(Create("a.htm", "newer")->Commit());
  EXPECT_EQ(Read(dir_ / "a.htm"), "newer");

  Write(dir_ / "target.txt", "not to be touched");
  if (!MakeSymlink(dir_ / "target.txt", dir_ / "b.htm")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  ASSERT_FALSE(Create("b.htm", "copy")->Commit());
  EXPECT_FALSE(fs::is_symlink(dir_ / "b.htm"));
  EXPECT_EQ(Read(dir_ / "b.htm"), "copy");
  EXPECT_EQ(Read(dir_ / "target.txt"), "not to be touched");
}

TEST_F(MachineDiskTest, AFolderUnderANewFilesNameFailsTheCommitAndStays) {
  fs::create_directory(dir_ / "a.htm");
  Write(dir_ / "a.htm" / "inner.txt", "kept");
  EXPECT_TRUE(Create("a.htm", "copy")->Commit());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm" / "inner.txt"), "kept");
}

TEST_F(MachineDiskTest, ListsEveryEntryWithItsKind) {
  Write(dir_ / "a.htm", "a");
  Write(dir_ / PathFromText(kForeignName), "f");
  Write(dir_ / ".hidden.htm", "h");
  SetWindowsAttribute(dir_ / ".hidden.htm", WindowsAttribute::Hidden);
  fs::create_directory(dir_ / "sub.htm");
  const bool linked = MakeSymlink(dir_ / "a.htm", dir_ / "link.htm");
  // A copy being written is hidden from every listing of ordinary files.
  std::unique_ptr<NewFile> partial = Create("b.htm", "half");
  std::vector<Entry> entries;
  ASSERT_FALSE(disk_.List(*folder_, entries));
  std::map<std::string, EntryKind> kinds;
  for (const Entry& entry : entries) {
    kinds[PathText(entry.name)] = entry.kind;
  }
  std::map<std::string, EntryKind> expected{{"a.htm", EntryKind::OrdinaryFile},
                                            {kForeignName, EntryKind::OrdinaryFile},
                                            {".hidden.htm", EntryKind::Hidden},
                                            {".b.htm.part", EntryKind::Hidden},
                                            {"sub.htm", EntryKind::Directory}};
  if (linked) {
    expected["link.htm"] = EntryKind::Link;
  }
  EXPECT_EQ(kinds, expected);
}

TEST_F(MachineDiskTest, MissingFoldersAndLinksInThePlaceOfFilesAreRefused) {
  EXPECT_EQ(disk_.OpenFolder(dir_ / "gone" / "").error(), std::errc::no_such_file_or_directory);
  EXPECT_EQ(disk_.OpenSource(*folder_, "gone.htm").error(), std::errc::no_such_file_or_directory);
  fs::create_directory(dir_ / "real");
  Write(dir_ / "real.htm", "r");
  if (!MakeSymlink(dir_ / "real", dir_ / "New") || !MakeSymlink(dir_ / "real.htm", dir_ / "a.htm")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  EXPECT_EQ(disk_.OpenSubfolder(*folder_, "New").error(), IsALinkError());
  EXPECT_EQ(disk_.OpenSource(*folder_, "a.htm").error(), IsALinkError());
  EXPECT_EQ(disk_.OpenAppending(*folder_, "a.htm").error(), IsALinkError());
  EXPECT_EQ(Read(dir_ / "real.htm"), "r");
}

struct MoveCase {
  const char* name;
  Replacing replacing;
  bool targetExists;
  bool moves;
};

void PrintTo(const MoveCase& c, std::ostream* os) {
  *os << (c.replacing == Replacing::Yes ? "replacing " : "not replacing ")
      << (c.targetExists ? "an old file" : "nothing");
}

class MoveTest : public MachineDiskTest, public testing::WithParamInterface<MoveCase> {};

TEST_P(MoveTest, MovesOnlyWhereItMay) {
  const MoveCase& c = GetParam();
  const fs::path name = PathFromText(c.name);
  fs::create_directory(dir_ / "New");
  Write(dir_ / "New" / name, "new content");
  if (c.targetExists) {
    Write(dir_ / name, "old content, longer than the new");
  }
  Expected<std::unique_ptr<Folder>> newDir = disk_.OpenSubfolder(*folder_, "New");
  ASSERT_TRUE(newDir);
  const std::error_code error = disk_.Move(**newDir, name, *folder_, name, c.replacing);
  EXPECT_EQ(!error, c.moves) << error.message();
  EXPECT_EQ(Read(dir_ / name), c.moves ? "new content" : "old content, longer than the new");
  EXPECT_EQ(fs::exists(dir_ / "New" / name), !c.moves);
  if (!c.moves) {
    EXPECT_EQ(error, std::errc::file_exists);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveTest,
    testing::Values(MoveCase{"a.htm", Replacing::Yes, true, true},
                    MoveCase{"a.htm", Replacing::Yes, false, true},
                    MoveCase{kForeignName.c_str(), Replacing::Yes, true, true},
                    MoveCase{"notes.txt", Replacing::No, false, true},
                    MoveCase{"notes.txt", Replacing::No, true, false}),
    [](const testing::TestParamInfo<MoveCase>& info) {
      return std::string(info.param.replacing == Replacing::Yes ? "Replacing" : "NotReplacing") +
             (info.param.targetExists ? "AnOldFile" : "Nothing") + std::to_string(info.index);
    });

TEST_F(MachineDiskTest, RemovingAFileNeverRemovesAFolder) {
  fs::create_directory(dir_ / "empty.htm");
  EXPECT_TRUE(disk_.RemoveFile(*folder_, "empty.htm"));
  EXPECT_TRUE(fs::is_directory(dir_ / "empty.htm"));
  EXPECT_TRUE(disk_.Move(*folder_, "gone.htm", *folder_, "b.htm", Replacing::Yes));
  EXPECT_FALSE(fs::exists(dir_ / "b.htm"));
}

#if !defined(_WIN32)

// A page's copy is no more readable, and no less, than the page.
TEST_F(MachineDiskTest, ANewFileTakesThePermissionsItIsGiven) {
  for (const std::uint32_t mode : {0600u, 0640u, 0755u, 0444u}) {
    std::unique_ptr<NewFile> file = Create("a.htm", "text");
    struct stat before {};
    ASSERT_EQ(::stat((dir_ / ".a.htm.part").c_str(), &before), 0);
    EXPECT_EQ(before.st_mode & 0077, 0u) << "others can read it before it is whole";
    EXPECT_EQ(file->TakeAccess({mode, ::geteuid(), ::getegid()}), AccessKept::All);
    ASSERT_FALSE(file->Commit());
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "a.htm").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode) << std::oct << mode;
  }
}

TEST_F(MachineDiskTest, ANewFileTakesAnotherOwnerOnlyWithTheRight) {
  constexpr std::uint32_t kNobody = 65534;
  std::unique_ptr<NewFile> file = Create("a.htm", "text");
  const AccessKept kept = file->TakeAccess({0640, kNobody, kNobody});
  ASSERT_FALSE(file->Commit());
  struct stat info {};
  ASSERT_EQ(::stat((dir_ / "a.htm").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (::geteuid() == 0) {
    EXPECT_EQ(kept, AccessKept::All);
    EXPECT_EQ(info.st_uid, kNobody);
  } else {
    EXPECT_EQ(kept, AccessKept::PermissionsOnly);
    EXPECT_EQ(info.st_uid, ::geteuid());
  }
}

#endif

}  // namespace
}  // namespace lapse::engine
