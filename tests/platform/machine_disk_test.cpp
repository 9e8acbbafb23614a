#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/disk.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/xattr.h>
#endif

#include "platform/errors.h"
#include "support/temp_dir.h"
#include "text/names.h"

namespace lapse::platform {
namespace {

namespace fs = std::filesystem;
using testing_support::MakeSymlink;
using testing_support::SetWindowsAttribute;
using testing_support::WindowsAttribute;
using text::PathFromText;
using text::PathText;
using NameList = std::vector<std::string>;

std::string Utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}
const std::string kForeignName = Utf8(u8"Grüße-ελληνικά-目录.htm");

// Every test runs with each way a new file can be named: unnamed until
// whole where the system makes such files, and under a hidden name.
class MachineDiskTest : public testing_support::TempDirTest,
                        public testing::WithParamInterface<NewFileNaming> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    Expected<std::unique_ptr<Folder>> folder = disk_.OpenFolder(dir_ / "");
    ASSERT_TRUE(folder) << folder.error().message();
    folder_ = std::move(*folder);
  }

  // A new file named name holding text, not yet committed.
  std::unique_ptr<NewFile> Create(const std::string& name, const std::string& text) {
    Expected<std::unique_ptr<NewFile>> file = disk_.Create(*folder_, PathFromText(name), 0644);
    EXPECT_TRUE(file) << file.error().message();
    EXPECT_TRUE((*file)->Write(text));
    return std::move(*file);
  }

  std::unique_ptr<SourceFile> Source(const std::string& name) {
    Expected<std::unique_ptr<SourceFile>> file = disk_.OpenSource(*folder_, PathFromText(name));
    EXPECT_TRUE(file) << file.error().message();
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

  Disk& disk_ = MachineDisk(GetParam());
  std::unique_ptr<Folder> folder_;
};

TEST_P(MachineDiskTest, ANewFileTakesItsNameOnlyWhenCommitted) {
  std::unique_ptr<NewFile> file = Create("a.htm", "first ");
  ASSERT_TRUE(file->Write("second"));
  EXPECT_FALSE(fs::exists(dir_ / "a.htm"));
  EXPECT_EQ(VisibleNames(), NameList{});
  ASSERT_FALSE(file->Commit());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "first second");
  EXPECT_EQ(file->Written(), 12u);
}

TEST_P(MachineDiskTest, ANewFileDroppedUncommittedLeavesTheOlderFileAsItWas) {
  Write(dir_ / "a.htm", "older");
  Create("a.htm", "newer, but never whole");
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm"), "older");
}

TEST_P(MachineDiskTest, ANewFileReplacesAFileOrALinkButNeverWritesThroughIt) {
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

TEST_P(MachineDiskTest, AFolderUnderANewFilesNameFailsTheCommitAndStays) {
  fs::create_directory(dir_ / "a.htm");
  Write(dir_ / "a.htm" / "inner.txt", "kept");
  EXPECT_TRUE(Create("a.htm", "copy")->Commit());
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(dir_ / "a.htm" / "inner.txt"), "kept");
}

// The longest name a page may have is a copy's name too: the file is never
// written under its own name with more characters added.
TEST_P(MachineDiskTest, APageOfTheLongestLegalNameGetsItsCopy) {
  const std::string longest = std::string(251, 'a') + ".htm";
  ASSERT_FALSE(Create(longest, "copy")->Commit());
  EXPECT_EQ(Read(dir_ / longest), "copy");
}

// What a killed run left under a hidden name blocks nothing later.
TEST_P(MachineDiskTest, LeftoversOfAKilledRunNeverBlockANewFile) {
  for (int i = 0; i < 3; ++i) {
    Write(dir_ / (".lapse-00000000000" + std::to_string(i) + ".tmp"), "left");
  }
  ASSERT_FALSE(Create("a.htm", "copy")->Commit());
  EXPECT_EQ(Read(dir_ / "a.htm"), "copy");
  EXPECT_TRUE(IsTemporaryName(".lapse-000000000001.tmp"));
  EXPECT_FALSE(IsTemporaryName(".lapse-1.tmp"));
  EXPECT_FALSE(IsTemporaryName(".a.htm.part"));
}

TEST_P(MachineDiskTest, ListsEveryEntryWithItsKind) {
  Write(dir_ / "a.htm", "a");
  Write(dir_ / PathFromText(kForeignName), "f");
  Write(dir_ / ".hidden.htm", "h");
  SetWindowsAttribute(dir_ / ".hidden.htm", WindowsAttribute::Hidden);
  fs::create_directory(dir_ / "sub.htm");
  const bool linked = MakeSymlink(dir_ / "a.htm", dir_ / "link.htm");
  // A copy being written is no ordinary file of the folder.
  std::unique_ptr<NewFile> partial = Create("b.htm", "half");
  std::vector<Entry> entries;
  ASSERT_FALSE(disk_.List(*folder_, entries));
  std::map<std::string, EntryKind> kinds;
  for (const Entry& entry : entries) {
    if (!IsTemporaryName(entry.name)) {
      kinds[PathText(entry.name)] = entry.kind;
    }
  }
  std::map<std::string, EntryKind> expected{{"a.htm", EntryKind::OrdinaryFile},
                                            {kForeignName, EntryKind::OrdinaryFile},
                                            {".hidden.htm", EntryKind::Hidden},
                                            {"sub.htm", EntryKind::Directory}};
  if (linked) {
    expected["link.htm"] = EntryKind::Link;
  }
  EXPECT_EQ(kinds, expected);
}

TEST_P(MachineDiskTest, MissingFoldersAndLinksInThePlaceOfFilesAreRefused) {
  EXPECT_EQ(disk_.OpenFolder(dir_ / "gone" / "").error(), std::errc::no_such_file_or_directory);
  EXPECT_EQ(disk_.OpenSource(*folder_, "gone.htm").error(), std::errc::no_such_file_or_directory);
  fs::create_directory(dir_ / "real");
  Write(dir_ / "real.htm", "r");
  if (!MakeSymlink(dir_ / "real", dir_ / "New") ||
      !MakeSymlink(dir_ / "real.htm", dir_ / "a.htm")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  EXPECT_EQ(disk_.OpenSubfolder(*folder_, "New").error(), IsALinkError());
  EXPECT_EQ(disk_.OpenSource(*folder_, "a.htm").error(), IsALinkError());
  EXPECT_EQ(disk_.OpenAppending(*folder_, "a.htm", 0600).error(), IsALinkError());
  EXPECT_EQ(Read(dir_ / "real.htm"), "r");
}

TEST_P(MachineDiskTest, AScratchFileGivesBackWhatWasWrittenAndLeavesNothing) {
  Expected<std::unique_ptr<ScratchFile>> scratch = disk_.CreateScratch(*folder_);
  ASSERT_TRUE(scratch) << scratch.error().message();
  const std::string text = std::string(300000, 'x') + "end";
  ASSERT_TRUE((*scratch)->Write(text));
  ASSERT_FALSE((*scratch)->Rewind());
  std::string back;
  std::vector<char> buffer(4096);
  while (const std::size_t count = (*scratch)->Read(buffer)) {
    back.append(buffer.data(), count);
  }
  EXPECT_EQ(back, text);
  EXPECT_EQ(VisibleNames(), NameList{});
}

INSTANTIATE_TEST_SUITE_P(Naming, MachineDiskTest,
                         testing::Values(NewFileNaming::Best, NewFileNaming::HiddenName),
                         [](const testing::TestParamInfo<NewFileNaming>& info) {
                           return info.param == NewFileNaming::Best ? "Best" : "HiddenName";
                         });

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

class MoveTest : public testing_support::TempDirTest, public testing::WithParamInterface<MoveCase> {
 protected:
  Disk& disk_ = MachineDisk();
};

TEST_P(MoveTest, MovesOnlyWhereItMay) {
  const MoveCase& c = GetParam();
  const fs::path name = PathFromText(c.name);
  fs::create_directory(dir_ / "New");
  Write(dir_ / "New" / name, "new content");
  if (c.targetExists) {
    Write(dir_ / name, "old content, longer than the new");
  }
  Expected<std::unique_ptr<Folder>> folder = disk_.OpenFolder(dir_ / "");
  ASSERT_TRUE(folder);
  Expected<std::unique_ptr<Folder>> newDir = disk_.OpenSubfolder(**folder, "New");
  ASSERT_TRUE(newDir);
  const std::error_code error = disk_.Move(**newDir, name, **folder, name, c.replacing);
  EXPECT_EQ(!error, c.moves) << error.message();
  EXPECT_EQ(Read(dir_ / name), c.moves ? "new content" : "old content, longer than the new");
  EXPECT_EQ(fs::exists(dir_ / "New" / name), !c.moves);
  // Nothing of the file replaced stays beside it.
  NameList left{"New", PathText(name)};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(Names(dir_), left);
  if (!c.moves) {
    EXPECT_EQ(error, std::errc::file_exists);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MoveTest,
                         testing::Values(MoveCase{"a.htm", Replacing::Yes, true, true},
                                         MoveCase{"a.htm", Replacing::Yes, false, true},
                                         MoveCase{kForeignName.c_str(), Replacing::Yes, true, true},
                                         MoveCase{"notes.txt", Replacing::No, false, true},
                                         MoveCase{"notes.txt", Replacing::No, true, false}),
                         [](const testing::TestParamInfo<MoveCase>& info) {
                           return std::string(info.param.replacing == Replacing::Yes
                                                  ? "Replacing"
                                                  : "NotReplacing") +
                                  (info.param.targetExists ? "AnOldFile" : "Nothing") +
                                  std::to_string(info.index);
                         });

using MachineDiskFolders = testing_support::TempDirTest;

TEST_F(MachineDiskFolders, RemovingAFileNeverRemovesAFolder) {
  Disk& disk = MachineDisk();
  auto folder = disk.OpenFolder(dir_ / "");
  ASSERT_TRUE(folder);
  fs::create_directory(dir_ / "empty.htm");
  EXPECT_TRUE(disk.RemoveFile(**folder, "empty.htm"));
  EXPECT_TRUE(fs::is_directory(dir_ / "empty.htm"));
  EXPECT_TRUE(disk.Move(**folder, "gone.htm", **folder, "b.htm", Replacing::Yes));
  EXPECT_FALSE(fs::exists(dir_ / "b.htm"));
}

// The log is appended to after what an earlier run left, cut back to the
// lines of the copies that were named, and written on right at the cut: no
// gap, nothing written over.
TEST_F(MachineDiskFolders, AnAppendedFileIsCutBackAndWrittenOnFromTheCut) {
  Disk& disk = MachineDisk();
  auto folder = disk.OpenFolder(dir_ / "");
  ASSERT_TRUE(folder);
  Write(dir_ / "Log.txt", "earlier ");
  {
    auto log = disk.OpenAppending(**folder, "Log.txt", 0600);
    ASSERT_TRUE(log) << log.error().message();
    EXPECT_EQ((*log)->Size(), 8u);
    ASSERT_TRUE((*log)->Write("kept dropped"));
    const std::error_code cut = (*log)->CutBack(12);
    ASSERT_FALSE(cut) << cut.message();
    EXPECT_EQ((*log)->Size(), 12u);
    ASSERT_TRUE((*log)->Write("|after"));
  }
  EXPECT_EQ(Read(dir_ / "Log.txt"), "earlier kept|after");
  {
    auto log = disk.OpenAppending(**folder, "Log.txt", 0600);
    ASSERT_TRUE(log);
    ASSERT_TRUE((*log)->Write("|again"));
  }
  EXPECT_EQ(Read(dir_ / "Log.txt"), "earlier kept|after|again");
}

#if !defined(_WIN32)
// A folder far deeper than a path may be long is reached name by name from
// an open folder, and works like any other. (Windows reaches it by its long
// path; wine, which passes that path on to Linux whole, cannot.)
TEST_F(MachineDiskFolders, FoldersDeeperThanAPathMayBeLongAreReached) {
  Disk& disk = MachineDisk();
  auto top = disk.OpenFolder(dir_ / "");
  ASSERT_TRUE(top);
  std::vector<std::unique_ptr<Folder>> path;
  path.push_back(std::move(*top));
  const fs::path part(std::string(200, 'd'));
  for (int level = 0; level < 30; ++level) {
    ASSERT_FALSE(disk.MakeFolder(*path.back(), part, {0755}));
    auto next = disk.OpenSubfolder(*path.back(), part);
    ASSERT_TRUE(next) << level << ": " << next.error().message();
    path.push_back(std::move(*next));
  }
  Folder* at = path.back().get();
  auto file = disk.Create(*at, "deep.htm", 0644);
  ASSERT_TRUE(file);
  ASSERT_TRUE((*file)->Write("deep"));
  ASSERT_FALSE((*file)->Commit());
  const Expected<FileStatus> status = disk.Status(*at, "deep.htm");
  ASSERT_TRUE(status) << status.error().message();
  EXPECT_EQ(status->stamp.size, 4u);
  const fs::path deep[] = {"deep.htm"};
  EXPECT_FALSE(disk.SyncFiles(*at, deep));
  EXPECT_FALSE(disk.RemoveFile(*at, "deep.htm"));
  // Too deep for a removal by path: folder by folder, from the bottom.
  for (std::size_t level = path.size() - 1; level > 0; --level) {
    EXPECT_FALSE(disk.RemoveEmptyFolder(*path[level - 1], part));
  }
}

// A page's copy is no more readable, and no less, than the page; before it
// is whole it is its owner's alone.
TEST_P(MachineDiskTest, ANewFileTakesThePermissionsOfItsPage) {
  for (const std::uint32_t mode : {0600u, 0640u, 0755u, 0444u}) {
    Write(dir_ / "page.htm", "page");
    fs::permissions(dir_ / "page.htm", static_cast<fs::perms>(mode));
    std::unique_ptr<NewFile> file = Create("a.htm", "text");
    std::unique_ptr<SourceFile> page = Source("page.htm");
    if (GetParam() == NewFileNaming::HiddenName) {
      for (const std::string& name : Names(dir_)) {
        if (IsTemporaryName(name)) {
          struct stat before {};
          ASSERT_EQ(::stat((dir_ / name).c_str(), &before), 0);
          EXPECT_EQ(before.st_mode & 0077, 0u) << "others can read it before it is whole";
        }
      }
    }
    const Expected<AccessKept> kept = file->TakeAccess(*page);
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, AccessKept::All);
    ASSERT_FALSE(file->Commit());
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "a.htm").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode) << std::oct << mode;
    fs::permissions(dir_ / "page.htm", fs::perms::owner_all);
  }
}

TEST_P(MachineDiskTest, ANewFileTakesAnotherOwnerOnlyWithTheRight) {
  constexpr std::uint32_t kNobody = 65534;
  Write(dir_ / "page.htm", "page");
  fs::permissions(dir_ / "page.htm", static_cast<fs::perms>(0640));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((dir_ / "page.htm").c_str(), kNobody, kNobody), 0);
  }
  std::unique_ptr<NewFile> file = Create("a.htm", "text");
  const Expected<AccessKept> kept = file->TakeAccess(*Source("page.htm"));
  ASSERT_TRUE(kept);
  ASSERT_FALSE(file->Commit());
  struct stat info {};
  ASSERT_EQ(::stat((dir_ / "a.htm").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (::geteuid() == 0) {
    EXPECT_EQ(*kept, AccessKept::All);
    EXPECT_EQ(info.st_uid, kNobody);
  } else {
    EXPECT_EQ(*kept, AccessKept::All);
    EXPECT_EQ(info.st_uid, ::geteuid());
  }
}

// Two processes never work on one folder at once: the second waits as long
// as it is told and is then refused, told who holds the folder; the lock
// goes with its holder, however that ends.
TEST_F(MachineDiskFolders, OneProcessAtATimeLocksAFolder) {
  Disk& disk = MachineDisk();
  auto folder = disk.OpenFolder(dir_ / "");
  ASSERT_TRUE(folder);
  auto held = disk.Lock(**folder, std::chrono::milliseconds(0));
  ASSERT_TRUE(held);
  const pid_t other = ::fork();
  if (other == 0) {
    Disk& childDisk = MachineDisk();
    auto childFolder = childDisk.OpenFolder(dir_ / "");
    auto refused = childDisk.Lock(**childFolder, std::chrono::milliseconds(200));
    const bool busy = !refused && refused.error().error == FolderBusyError() &&
                      refused.error().holder.process == static_cast<std::uint64_t>(::getppid());
    ::_exit(busy ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  held->reset();
  auto again = disk.Lock(**folder, std::chrono::milliseconds(0));
  EXPECT_TRUE(again);
}

#endif

#if defined(_WIN32)

// A page that Windows cannot replace keeps its name and its content, its
// copy waits where it was, nothing is left beside them, and the error says
// why.
class WindowsReplace : public testing_support::TempDirTest {
 protected:
  void TearDown() override {
    if (!elsewhere_.empty()) {
      std::error_code ignored;
      fs::remove_all(elsewhere_, ignored);
    }
    TempDirTest::TearDown();
  }

  std::error_code Replace(const fs::path& from) {
    auto source = disk_.OpenFolder(from / "");
    auto target = disk_.OpenFolder(dir_ / "");
    EXPECT_TRUE(source && target);
    return disk_.Move(**source, "a.htm", **target, "a.htm", Replacing::Yes);
  }

  Disk& disk_ = MachineDisk();
  fs::path elsewhere_;
};

// Wine's ReplaceFileW moves the page to the backup name and then stops,
// with ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, where the copy cannot be renamed
// into another file system: a copy in /dev/shm over a page in wine's own
// C: drive. Windows has no such folder.
TEST_F(WindowsReplace, AReplaceStoppedHalfwayPutsThePageBack) {
  const fs::path shm("Z:\\dev\\shm");
  std::error_code error;
  if (!fs::is_directory(shm, error)) {
    GTEST_SKIP() << "no second file system to put the copy on";
  }
  elsewhere_ = shm / ("lapse-" + std::to_string(GetCurrentProcessId()));
  fs::create_directory(elsewhere_);
  Write(elsewhere_ / "a.htm", "copy");
  Write(dir_ / "a.htm", "page");
  auto one = disk_.OpenFolder(elsewhere_ / "");
  auto other = disk_.OpenFolder(dir_ / "");
  ASSERT_TRUE(one && other);
  const Expected<FileStatus> oneStatus = disk_.FolderStatus(**one);
  const Expected<FileStatus> otherStatus = disk_.FolderStatus(**other);
  ASSERT_TRUE(oneStatus && otherStatus);
  if (oneStatus->stamp.device == otherStatus->stamp.device) {
    GTEST_SKIP() << "both folders are on one volume, as the system tells it";
  }

  EXPECT_EQ(Replace(elsewhere_), std::errc::cross_device_link);
  EXPECT_EQ(Read(dir_ / "a.htm"), "page");
  EXPECT_EQ(Names(dir_), NameList{"a.htm"});
  EXPECT_EQ(Read(elsewhere_ / "a.htm"), "copy");
}

TEST_F(WindowsReplace, APageHeldOpenKeepsItsNameAndTheCopyWaits) {
  Write(dir_ / "a.htm", "page");
  fs::create_directory(dir_ / "New");
  Write(dir_ / "New" / "a.htm", "copy");
  // As an editor holds it: others may read it, not rename or delete it.
  const HANDLE held = CreateFileW((dir_ / "a.htm").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::error_code error = Replace(dir_ / "New");
  CloseHandle(held);

  EXPECT_EQ(error, std::error_code(ERROR_SHARING_VIOLATION, std::system_category()))
      << error.message();
  EXPECT_EQ(Read(dir_ / "a.htm"), "page");
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "copy");
  EXPECT_EQ(Names(dir_), (NameList{"New", "a.htm"}));
}

#endif

#if defined(__linux__)

// An ACL and the extended attributes go with the copy; where the system
// keeps the ACL and the copy's file system cannot, there is no copy.
TEST_P(MachineDiskTest, ANewFileTakesTheACLAndAttributesOfItsPage) {
  Write(dir_ / "page.htm", "page");
  fs::permissions(dir_ / "page.htm", static_cast<fs::perms>(0644));
  acl_t acl = acl_from_text("u::rw-,u:nobody:---,g::r--,m::r--,o::r--");
  ASSERT_NE(acl, nullptr);
  const bool aclSet = acl_set_file((dir_ / "page.htm").c_str(), ACL_TYPE_ACCESS, acl) == 0;
  acl_free(acl);
  const bool attributeSet =
      ::setxattr((dir_ / "page.htm").c_str(), "user.lapse-test", "kept", 4, 0) == 0;
  if (!aclSet || !attributeSet) {
    GTEST_SKIP() << "this file system keeps no ACLs or user attributes";
  }
  std::unique_ptr<NewFile> file = Create("a.htm", "copy");
  const Expected<AccessKept> kept = file->TakeAccess(*Source("page.htm"));
  ASSERT_TRUE(kept) << kept.error().message();
  ASSERT_FALSE(file->Commit());
  acl_t copied = acl_get_file((dir_ / "a.htm").c_str(), ACL_TYPE_ACCESS);
  ASSERT_NE(copied, nullptr);
  char* text = acl_to_any_text(copied, nullptr, ',', TEXT_ABBREVIATE);
  EXPECT_STREQ(text, "u::rw-,u:nobody:---,g::r--,m::r--,o::r--");
  acl_free(text);
  acl_free(copied);
  char value[16] = {};
  EXPECT_EQ(::getxattr((dir_ / "a.htm").c_str(), "user.lapse-test", value, sizeof value), 4);
  EXPECT_STREQ(value, "kept");
}

#endif

}  // namespace
}  // namespace lapse::platform
