#include "batch/undo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "messages/messages.h"
#include "platform/memory_disk.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using platform::MemoryDisk;
using testing_support::RecordingFrontEnd;
using testing_support::RunDayOptions;

const fs::path kSite = "/site";
const fs::path kState = "/home/ann/.local/state/lapse";
constexpr const char* kOld = "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n";
constexpr const char* kNew = "kept\n";
const char* const kPages[] = {"a.htm", "b.htm", "sub/c.htm"};

// A site of three pages, one in a subfolder, run over.
void RunOverSite(MemoryDisk& disk) {
  for (const char* page : kPages) {
    disk.AddFile(kSite / page, kOld, {0640, 33, 33});
  }
  disk.AddFolder(kState.parent_path());
  RecordingFrontEnd frontEnd;
  BatchRun(disk, kSite, frontEnd, RunDayOptions(Recursion::Subfolders));
}

ReplaceResult ReplaceKeeping(MemoryDisk& disk) {
  ReplaceOptions options;
  options.keepIn = kState;
  return Replace(disk, kSite, options);
}

UndoResult UndoLast(MemoryDisk& disk) {
  return Undo(disk, kSite, {kState, std::chrono::milliseconds(0), nullptr});
}

TEST(UndoTest, PutsBackEveryPageAsItWasAndKeepsNothingInTheSite) {
  for (const bool otherVolume : {false, true}) {
    SCOPED_TRACE(otherVolume ? "state folder on another volume" : "one volume");
    MemoryDisk disk;
    disk.privileged = true;
    if (otherVolume) {
      disk.otherVolume = "/home";
    }
    RunOverSite(disk);
    disk.SetAttribute(kSite / "a.htm", "system.posix_acl_access", "u:nobody:---");
    ASSERT_TRUE(ReplaceKeeping(disk).Complete());
    for (const char* page : kPages) {
      EXPECT_EQ(disk.Content(kSite / page), kNew) << page;
    }
    for (const std::string& path : disk.Tree(kSite)) {
      EXPECT_EQ(path.find("kept"), std::string::npos) << path;
    }
    const UndoResult undone = UndoLast(disk);
    EXPECT_TRUE(undone.Complete()) << messages::UndoProblems(undone).front();
    EXPECT_EQ(undone.restored.size(), 3u);
    for (const char* page : kPages) {
      EXPECT_EQ(disk.Content(kSite / page), kOld) << page;
      EXPECT_EQ(disk.AccessOf(kSite / page)->mode, 0640u) << page;
      EXPECT_EQ(disk.AccessOf(kSite / page)->owner, 33u) << page;
    }
    EXPECT_EQ(disk.AttributesOf(kSite / "a.htm").at("system.posix_acl_access"), "u:nobody:---");
    // A second undo finds it done, and changes nothing.
    EXPECT_EQ(UndoLast(disk).refusal, UndoRefusal::AlreadyUndone);
    EXPECT_EQ(disk.Content(kSite / "a.htm"), kOld);
  }
}

// An edit made after the replace is never undone: the page is named, left.
TEST(UndoTest, APageChangedAfterTheReplaceIsLeftAsItIs) {
  MemoryDisk disk;
  RunOverSite(disk);
  ASSERT_TRUE(ReplaceKeeping(disk).Complete());
  disk.AddFile(kSite / "b.htm", "edited after the replace\n");
  const UndoResult undone = UndoLast(disk);
  EXPECT_FALSE(undone.Complete());
  EXPECT_EQ(messages::UndoProblems(undone),
            std::vector<std::string>{"b.htm: changed after the replace; left as it is."});
  EXPECT_EQ(disk.Content(kSite / "a.htm"), kOld);
  EXPECT_EQ(disk.Content(kSite / "b.htm"), "edited after the replace\n");
}

// How a user's save reaches a page.
enum class Save { InPlace, ByRename };

// What the user saves: as long as the replace's copy, so that on a disk of
// coarse times only the bytes tell the two apart.
constexpr const char* kSaved = "mine\n";
static_assert(std::string_view(kSaved).size() == std::string_view(kNew).size());

// How the disk keeps times, and where the state folder is.
struct DiskKind {
  bool coarseTimes = false;
  bool otherVolume = false;
};

// The site after a replace that kept its pages, the disk's count of
// operations at nought.
std::unique_ptr<MemoryDisk> ReplacedSite(DiskKind kind) {
  auto disk = std::make_unique<MemoryDisk>();
  disk->coarseTimes = kind.coarseTimes;
  if (kind.otherVolume) {
    disk->otherVolume = "/home";
  }
  RunOverSite(*disk);
  EXPECT_TRUE(ReplaceKeeping(*disk).Complete());
  disk->operations = 0;
  return disk;
}

// The operations of an undo from its first look at page to its rename of
// the kept page over it (that one not counted), by their place among all of
// the undo's operations.
std::pair<std::size_t, std::size_t> StepsBeforeTheRenameOf(const fs::path& page, DiskKind kind) {
  const std::unique_ptr<MemoryDisk> disk = ReplacedSite(kind);
  std::vector<std::pair<std::string, fs::path>> steps;
  disk->before = [&steps](const std::string& operation, const fs::path& name) {
    steps.emplace_back(operation, name);
  };
  UndoLast(*disk);
  const auto first = std::find_if(steps.begin(), steps.end(),
                                  [&page](const auto& step) { return step.second == page; });
  const auto rename = std::find(first, steps.end(), std::pair<std::string, fs::path>("Move", page));
  return {static_cast<std::size_t>(first - steps.begin()),
          static_cast<std::size_t>(rename - steps.begin())};
}

// A page saved while the undo works on it, at any step before the kept page
// is renamed over it (keeping what it replaces, syncing that, looking at the
// page): the save stays and the page is named; the other pages go back, and
// the kept replace lists only those.
TEST(UndoTest, APageSavedBeforeItsRenameIsHeldBackWithTheSave) {
  struct Case {
    const char* what;
    Save save;
    DiskKind disk;
  };
  const Case cases[] = {
      {"saved in place", Save::InPlace, {}},
      {"saved in place, the same size at the same time", Save::InPlace, {.coarseTimes = true}},
      {"saved by a rename", Save::ByRename, {}},
      {"saved by a rename on a disk of coarse times", Save::ByRename, {.coarseTimes = true}},
      {"saved in place, the same size at the same time, the state folder on another volume",
       Save::InPlace,
       {.coarseTimes = true, .otherVolume = true}},
      {"saved by a rename, the state folder on another volume",
       Save::ByRename,
       {.otherVolume = true}},
  };
  const fs::path page = "b.htm";
  for (const Case& c : cases) {
    const auto [first, rename] = StepsBeforeTheRenameOf(page, c.disk);
    ASSERT_LT(first, rename) << c.what;
    for (std::size_t step = first; step < rename; ++step) {
      SCOPED_TRACE(std::string(c.what) + ", at step " + std::to_string(step - first + 1) + " of " +
                   std::to_string(rename - first));
      const std::unique_ptr<MemoryDisk> disk = ReplacedSite(c.disk);
      std::size_t operation = 0;
      disk->before = [&](const std::string&, const fs::path&) {
        if (operation++ != step) {
          return;
        }
        if (c.save == Save::InPlace) {
          disk->SaveInPlace(kSite / page, kSaved);
        } else {
          disk->AddFile(kSite / page, kSaved);
        }
      };
      const UndoResult undone = UndoLast(*disk);
      disk->before = nullptr;
      EXPECT_EQ(disk->Content(kSite / page), kSaved);
      EXPECT_EQ(messages::UndoProblems(undone),
                std::vector<std::string>{"b.htm: changed after the replace; left as it is."});
      EXPECT_EQ(undone.restored, (std::vector<fs::path>{"a.htm", "sub/c.htm"}));
      EXPECT_EQ(disk->Content(kSite / "a.htm"), kOld);
      EXPECT_EQ(disk->Content(kSite / "sub/c.htm"), kOld);
      const std::vector<KeptReplace> kept = KeptReplaces(*disk, kState, kSite);
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_EQ(kept[0].state, KeptState::Undone);
      std::vector<fs::path> listed;
      for (const KeptPage& keptPage : kept[0].pages) {
        listed.push_back(keptPage.page);
      }
      EXPECT_EQ(listed, (std::vector<fs::path>{"a.htm", "sub/c.htm"}));
      for (const std::string& path : disk->Tree(kState)) {
        EXPECT_FALSE(path.ends_with("/undone/b.htm")) << path;
      }
    }
  }
}

// A kept replace written by the version before, which kept no hash of the
// copies, is read still: it can be undone by the stamps alone.
TEST(UndoTest, AKeptReplaceOfTheVersionBeforeIsRead) {
  using namespace std::string_literals;
  const std::optional<KeptReplace> before = ParseManifest(
      "lapse kept 1 kept\nwhen 1767225600\nsite /site\0\n10 20 1 2 5 30 1 3 a.htm\0"s);
  ASSERT_TRUE(before);
  ASSERT_EQ(before->pages.size(), 1u);
  EXPECT_EQ(before->pages[0].page, "a.htm");
  EXPECT_EQ(before->pages[0].copy, (platform::FileStamp{5, 30, 1, 3}));
  EXPECT_FALSE(before->pages[0].copyHash);
}

TEST(UndoTest, NothingToUndoIsSaid) {
  MemoryDisk disk;
  disk.AddFile(kSite / "a.htm", kOld);
  EXPECT_EQ(UndoLast(disk).refusal, UndoRefusal::NothingKept);
}

// The last three replaces of a folder are kept; older ones go.
TEST(UndoTest, TheLastThreeReplacesAreKept) {
  MemoryDisk disk;
  disk.AddFolder(kState.parent_path());
  for (int round = 0; round < 5; ++round) {
    disk.AddFile(kSite / "a.htm",
                 "<!--LAPSE 12/01/26\nround " + std::to_string(round) + "\n<!--ENDL\n");
    RecordingFrontEnd frontEnd;
    BatchRun(disk, kSite, frontEnd, RunDayOptions());
    ASSERT_TRUE(ReplaceKeeping(disk).Complete());
  }
  const std::vector<KeptReplace> kept = KeptReplaces(disk, kState, kSite);
  ASSERT_EQ(kept.size(), kKeptReplaces);
  EXPECT_GT(kept[0].name, kept[1].name);
  EXPECT_EQ(UndoLast(disk).restored.size(), 1u);
  EXPECT_EQ(disk.Content(kSite / "a.htm"), "<!--LAPSE 12/01/26\nround 4\n<!--ENDL\n");
}

// A replace, then an undo, each cut short after any of their operations,
// the power gone and then back: every page holds its old or its new
// content, and a second try of the same command finishes the job.
TEST(UndoTest, ACutAtAnyStepOfAReplaceOrAnUndoLosesNothing) {
  for (const bool otherVolume : {false, true}) {
    for (std::size_t cut = 1;; ++cut) {
      SCOPED_TRACE((otherVolume ? "copies, cut after " : "links, cut after ") +
                   std::to_string(cut));
      MemoryDisk disk;
      if (otherVolume) {
        disk.otherVolume = "/home";
      }
      RunOverSite(disk);
      disk.Settle();
      disk.operations = 0;
      disk.cutAfter = cut;
      const bool replaced = ReplaceKeeping(disk).Complete();
      disk.Crash();
      for (const char* page : kPages) {
        const std::optional<std::string> content = disk.Content(kSite / page);
        ASSERT_TRUE(content == kOld || content == kNew) << page;
      }
      if (!replaced) {
        ASSERT_TRUE(ReplaceKeeping(disk).Complete());
      }
      disk.Settle();
      disk.operations = 0;
      disk.cutAfter = cut;
      const UndoResult undone = UndoLast(disk);
      disk.Crash();
      for (const char* page : kPages) {
        const std::optional<std::string> content = disk.Content(kSite / page);
        ASSERT_TRUE(content == kOld || content == kNew) << page;
      }
      if (!undone.Complete()) {
        const UndoResult again = UndoLast(disk);
        ASSERT_TRUE(again.Complete() || again.refusal == UndoRefusal::AlreadyUndone)
            << messages::UndoProblems(again).front();
      }
      for (const char* page : kPages) {
        ASSERT_EQ(disk.Content(kSite / page), kOld) << page;
      }
      if (replaced && undone.Complete()) {
        break;
      }
    }
  }
}

}  // namespace
}  // namespace lapse::batch
