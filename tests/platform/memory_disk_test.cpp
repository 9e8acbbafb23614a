// The in-memory disk stands in for the machine's in most tests: it must
// refuse what the machine's disks refuse, with the same errors.
#include "platform/memory_disk.h"

#include <gtest/gtest.h>

#include "platform/errors.h"

namespace lapse::platform {
namespace {

namespace fs = std::filesystem;

class MemoryDiskTest : public testing::Test {
 protected:
  MemoryDiskTest() {
    disk_.AddFile("/site/a.htm", "a");
    disk_.AddFolder("/site/sub");
    disk_.AddLink("/site/link", "/site/sub");
    disk_.AddFolder("/mnt/other");
    disk_.otherVolume = "/mnt/other";
  }

  std::unique_ptr<Folder> Open(const fs::path& path) {
    Expected<std::unique_ptr<Folder>> folder = disk_.OpenFolder(path);
    EXPECT_TRUE(folder) << path;
    return folder ? std::move(*folder) : nullptr;
  }

  void ExpectAccess(const fs::path& path, std::uint32_t mode, std::uint32_t owner) const {
    const std::optional<FileAccess> access = disk_.AccessOf(path);
    ASSERT_TRUE(access) << path;
    EXPECT_EQ(access->mode, mode) << path;
    EXPECT_EQ(access->owner, owner) << path;
  }

  MemoryDisk disk_;
};

TEST_F(MemoryDiskTest, RefusesWhatTheMachinesDisksRefuse) {
  const std::unique_ptr<Folder> site = Open("/site/");
  const std::unique_ptr<Folder> other = Open("/mnt/other/");
  ASSERT_TRUE(site && other);
  const auto errorOf = [](const auto& result) {
    return result ? std::error_code() : std::error_code(result.error());
  };
  const struct {
    const char* name;
    std::error_code error;
    std::error_code expected;
  } cases[] = {
      {"open a missing folder", errorOf(disk_.OpenFolder("/gone/")),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"open a file as a folder", errorOf(disk_.OpenFolder("/site/a.htm/")),
       make_error_code(std::errc::not_a_directory)},
      {"open a link, not following it", errorOf(disk_.OpenFolder("/site/link/", FinalLink::Refuse)),
       IsALinkError()},
      {"open a subfolder", errorOf(disk_.OpenSubfolder(*site, "sub")), {}},
      {"open a missing subfolder", errorOf(disk_.OpenSubfolder(*site, "gone")),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"open a file as a subfolder", errorOf(disk_.OpenSubfolder(*site, "a.htm")),
       make_error_code(std::errc::not_a_directory)},
      {"open a link as a subfolder", errorOf(disk_.OpenSubfolder(*site, "link")), IsALinkError()},
      {"status of a missing file", errorOf(disk_.Status(*site, "gone")),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"read a missing file", errorOf(disk_.OpenSource(*site, "gone")),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"remove a missing file", disk_.RemoveFile(*site, "gone"),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"remove a folder as a file", disk_.RemoveFile(*site, "sub"),
       make_error_code(std::errc::is_a_directory)},
      {"remove a missing folder", disk_.RemoveEmptyFolder(*site, "gone"),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"move a missing file", disk_.Move(*site, "gone", *site, "b.htm", Replacing::No),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"move to another volume", disk_.Move(*site, "a.htm", *other, "a.htm", Replacing::No),
       make_error_code(std::errc::cross_device_link)},
      {"link a missing file", disk_.Link(*site, "gone", *site, "b.htm"),
       make_error_code(std::errc::no_such_file_or_directory)},
      {"link to another volume", disk_.Link(*site, "a.htm", *other, "a.htm"),
       make_error_code(std::errc::cross_device_link)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error, c.expected) << c.name;
  }
  EXPECT_EQ(disk_.Content("/site/a.htm"), "a");
  EXPECT_FALSE(disk_.Content("/mnt/other/a.htm"));
}

TEST_F(MemoryDiskTest, NewFoldersAndFilesAreTheProcesssUsersWithTheModesAsked) {
  disk_.processUser = 1234;
  const std::unique_ptr<Folder> site = Open("/site/");
  ASSERT_TRUE(site);
  ASSERT_FALSE(disk_.MakeFolder(*site, "new", {040750, MemoryDisk::kUser, MemoryDisk::kGroup},
                                FolderOwner::Process));
  ExpectAccess("/site/new", 0750, 1234);
  Expected<std::unique_ptr<AppendedFile>> log = disk_.OpenAppending(*site, "log.txt", 0100640);
  ASSERT_TRUE(log);
  ExpectAccess("/site/log.txt", 0640, 1234);
}

}  // namespace
}  // namespace lapse::platform
