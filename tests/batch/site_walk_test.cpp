#include "batch/site_walk.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/memory_disk.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using NameList = std::vector<std::string>;

// What a walk takes of a tree, folder by folder, as "folder: files | links
// | own".
std::vector<std::string> Walked(platform::MemoryDisk& disk, const fs::path& top,
                                Recursion recursion, TopNew topNew) {
  std::vector<std::string> seen;
  auto folder = disk.OpenFolder(top.native() + fs::path::preferred_separator);
  EXPECT_TRUE(folder);
  const auto join = [](const std::vector<fs::path>& names) {
    std::string text;
    for (const fs::path& name : names) {
      text += (text.empty() ? "" : " ") + name.generic_string();
    }
    return text;
  };
  const std::error_code error =
      WalkTree(disk, std::shared_ptr<platform::Folder>(std::move(*folder)), recursion, topNew,
               {[&](WalkedFolder& walked) {
                  seen.push_back(walked.relative.generic_string() + ": " + join(walked.files) +
                                 " | " + join(walked.linkedPages) + " | " + join(walked.own));
                },
                [&](const fs::path& relative, const fs::path&, std::error_code) {
                  seen.push_back(relative.generic_string() + ": unreadable");
                }});
  EXPECT_FALSE(error);
  return seen;
}

// One walk decides for the run, the check and the replace what they take:
// ordinary files; links named as pages, to be named and left; Lapse's own
// files apart; never hidden folders, links to folders, or the top's New.
TEST(SiteWalk, TakesAndSkipsTheSameForEveryCommand) {
  platform::MemoryDisk disk;
  disk.AddFile("/site/a.htm", "a");
  disk.AddFile("/site/notes.txt", "n");
  disk.AddFile("/site/.hidden.htm", "h");
  disk.AddFile("/site/.lapse-0123456789ab.tmp", "a killed run's");
  disk.AddLink("/site/link.htm", "/site/a.htm");
  disk.AddLink("/site/linked", "/site/sub");
  disk.AddFile("/site/sub/b.htm", "b");
  disk.AddFile("/site/sub/New/c.htm", "c");
  disk.AddFile("/site/.git/d.htm", "d");
  disk.AddFile("/site/New/a.htm", "copy");
  EXPECT_EQ(Walked(disk, "/site", Recursion::Subfolders, TopNew::Skip),
            (NameList{": a.htm notes.txt | link.htm | .lapse-0123456789ab.tmp", "sub: b.htm |  | ",
                      "sub/New: c.htm |  | "}));
  EXPECT_EQ(Walked(disk, "/site", Recursion::ThisFolder, TopNew::Skip),
            (NameList{": a.htm notes.txt | link.htm | .lapse-0123456789ab.tmp"}));
  EXPECT_EQ(Walked(disk, "/site/New", Recursion::Subfolders, TopNew::Take),
            (NameList{": a.htm |  | "}));
}

// Whoever may write into a site may nest folders without end: the walk goes
// kDeepestFolder levels down and says the next is too deep, rather than run
// out of stack on the way.
TEST(SiteWalk, StopsAtTheDeepestFolderAndSaysSo) {
  platform::MemoryDisk disk;
  fs::path deep = "/site";
  for (std::size_t level = 0; level < kDeepestFolder + 5; ++level) {
    deep /= "d";
  }
  disk.AddFile(deep / "a.htm", "x\n");
  const std::vector<std::string> seen = Walked(disk, "/site", Recursion::Subfolders, TopNew::Skip);
  ASSERT_EQ(seen.size(), kDeepestFolder + 1);
  EXPECT_TRUE(seen.back().ends_with(": unreadable")) << seen.back();
  const std::string tooDeep = seen.back().substr(0, seen.back().find(':'));
  EXPECT_EQ(static_cast<std::size_t>(std::count(tooDeep.begin(), tooDeep.end(), 'd')),
            kDeepestFolder);
}

}  // namespace
}  // namespace lapse::batch
