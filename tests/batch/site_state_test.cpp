// Every state a site can be left in, every command over it, and a power cut
// after every operation of that command: no page is ever lost or torn, the
// next run and replace always finish the work, every line removed from a
// live page is in the site's log or its journal, and every kept replace can
// be taken back.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "batch/batch.h"
#include "batch/journal.h"
#include "batch/kept_store.h"
#include "batch/undo.h"
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
const fs::path kState = "/state";
const char* const kPages[] = {"a.htm", "b.htm", "c.htm"};

// A page as its author wrote it, with a block that lapsed, and as a run
// leaves it.
std::string Lapsing(const std::string& version) {
  return "<!--LAPSE 12/01/26\nsecret " + version + "\n<!--ENDL\nkept " + version + "\n";
}
std::string Kept(const std::string& version) {
  return "kept " + version + "\n";
}
// A page whose copy is the page.
const std::string kPlain = "plain\n";

// The versions each page may hold at any moment.
const std::vector<std::string> kVersions[] = {{"A0", "A1"}, {"B0", "B1", "B2"}, {}};

ReplaceOptions Keeping(SiteLog siteLog = SiteLog::Placed) {
  ReplaceOptions options;
  options.keepIn = kState;
  options.siteLog = siteLog;
  return options;
}

RunOptions Running() {
  RunOptions options = RunDayOptions();
  options.keepIn = kState;
  options.threads = 1;
  return options;
}

bool RunOver(MemoryDisk& disk) {
  RecordingFrontEnd frontEnd;
  return BatchRun(disk, kSite, frontEnd, Running()).status == RunStatus::Completed;
}

// What the scheduled update does: a run and a replace under one lock,
// the removed lines into the journal rather than the site.
void Update(MemoryDisk& disk) {
  platform::Expected<Site, SiteProblem> site =
      Site::Open(disk, kSite, std::chrono::milliseconds(0));
  if (site) {
    RecordingFrontEnd frontEnd;
    if (RunOnSite(disk, *site, frontEnd, Running()).status == RunStatus::Completed) {
      ReplaceOnSite(disk, *site, Keeping(SiteLog::Left));
    }
  }
}

UndoResult UndoLast(MemoryDisk& disk) {
  return Undo(disk, kSite, {kState, std::chrono::milliseconds(0), nullptr});
}

// A site that was run over and replaced once, whose author has since
// written new blocks that lapsed.
void History(MemoryDisk& disk) {
  disk.AddFolder(kState);
  disk.AddFile(kSite / "a.htm", Lapsing("A0"));
  disk.AddFile(kSite / "b.htm", Lapsing("B0"));
  disk.AddFile(kSite / "c.htm", kPlain);
  RunOver(disk);
  Replace(disk, kSite, Keeping());
  disk.SaveInPlace(kSite / "a.htm", Lapsing("A1"));
  disk.SaveInPlace(kSite / "b.htm", Lapsing("B1"));
}

// Cuts the power once the watched page holds watched, at the operation
// after the one that put it there.
void CutOnceThere(MemoryDisk& disk, const fs::path& page, const std::string& watched) {
  disk.before = [&disk, page, watched](const std::string&, const fs::path&) {
    if (!disk.cutAfter && disk.Content(page) == watched) {
      disk.cutAfter = disk.operations;
    }
  };
}

struct Start {
  const char* name;
  std::function<void(MemoryDisk&)> make;
};

const Start kStarts[] = {
    {"nothing waits", History},
    {"a run was killed",
     [](MemoryDisk& disk) {
       History(disk);
       // Once the first copy has its name.
       CutOnceThere(disk, kSite / "New/a.htm", Kept("A1"));
       RunOver(disk);
     }},
    {"a run waits",
     [](MemoryDisk& disk) {
       History(disk);
       RunOver(disk);
     }},
    {"a replace placed part, the log waits",
     [](MemoryDisk& disk) {
       History(disk);
       RunOver(disk);
       disk.SaveInPlace(kSite / "b.htm", Lapsing("B2"));
       Replace(disk, kSite, Keeping());
     }},
    {"a replace was killed after its first page",
     [](MemoryDisk& disk) {
       History(disk);
       RunOver(disk);
       CutOnceThere(disk, kSite / "a.htm", Kept("A1"));
       Replace(disk, kSite, Keeping());
     }},
};

struct Command {
  const char* name;
  std::function<void(MemoryDisk&)> run;
};

const Command kCommands[] = {
    {"run", [](MemoryDisk& disk) { RunOver(disk); }},
    {"replace", [](MemoryDisk& disk) { Replace(disk, kSite, Keeping()); }},
    {"update", Update},
    {"undo", [](MemoryDisk& disk) { UndoLast(disk); }},
};

// The version a page's text is, or nothing for text no version has.
std::optional<std::string> VersionOf(std::size_t page, const std::string& text, bool& lapsing) {
  for (const std::string& version : kVersions[page]) {
    if (text == Lapsing(version) || text == Kept(version)) {
      lapsing = text == Lapsing(version);
      return version;
    }
  }
  return std::nullopt;
}

// Every page is one of its versions, whole.
void ExpectPagesWhole(const MemoryDisk& disk, const std::string& when) {
  for (std::size_t page = 0; page < std::size(kPages); ++page) {
    const std::optional<std::string> text = disk.Content(kSite / kPages[page]);
    ASSERT_TRUE(text) << kPages[page] << " is gone " << when;
    bool lapsing = false;
    if (kVersions[page].empty()) {
      ASSERT_EQ(*text, kPlain) << when;
    } else {
      ASSERT_TRUE(VersionOf(page, *text, lapsing)) << kPages[page] << " holds " << *text << when;
    }
  }
}

// The text the site's log and its journal hold.
std::string Recorded(MemoryDisk& disk) {
  std::string recorded = disk.Content(kSite / "Log.txt").value_or("");
  if (const platform::Expected<Journal> journal = ReadJournal(disk, kState, kSite)) {
    for (const JournalBlock& block : journal->blocks) {
      for (const std::string& line : block.lines) {
        recorded += line + "\n";
      }
    }
  }
  return recorded;
}

// What is left after a cut: a run and a replace finish the work, every line
// a live page lost is on record, and the newest kept replace can be taken
// back.
void ExpectTheNextRunAndReplaceFinish(MemoryDisk& disk, const std::string& when) {
  ASSERT_TRUE(RunOver(disk)) << when;
  const ReplaceResult replaced = Replace(disk, kSite, Keeping());
  ASSERT_TRUE(replaced.Complete())
      << testing::PrintToString(messages::ReplaceProblems(replaced)) << when;
  ASSERT_EQ(disk.Names(kSite), (std::vector<std::string>{"Log.txt", "a.htm", "b.htm", "c.htm"}))
      << when;
  const std::string recorded = Recorded(disk);
  for (std::size_t page = 0; page + 1 < std::size(kPages); ++page) {
    bool lapsing = true;
    const std::optional<std::string> version =
        VersionOf(page, disk.Content(kSite / kPages[page]).value_or(""), lapsing);
    ASSERT_TRUE(version && !lapsing) << kPages[page] << when;
    ASSERT_NE(recorded.find("secret " + *version), std::string::npos)
        << "the lines " << kPages[page] << " lost are on no record" << when;
  }
  for (const KeptReplace& kept : KeptReplaces(disk, kState, kSite)) {
    ASSERT_FALSE(kept.pages.empty()) << "kept replace " << kept.name << " holds nothing" << when;
  }
  const UndoResult undone = UndoLast(disk);
  ASSERT_TRUE(undone.Complete()) << when;
  ExpectPagesWhole(disk, " after the undo" + when);
}

TEST(SiteStateTest, EveryCommandCutAtEveryOperationFromEveryStateLeavesWhatTheNextFinishes) {
  for (const Start& start : kStarts) {
    for (const Command& command : kCommands) {
      for (std::size_t cut = 1;; ++cut) {
        const std::string when = std::string(" (") + command.name + " cut after operation " +
                                 std::to_string(cut) + " where " + start.name + ")";
        MemoryDisk disk;
        start.make(disk);
        // A command killed, not a power cut: what it wrote stays.
        disk.before = nullptr;
        disk.cutAfter.reset();
        disk.Settle();
        disk.operations = 0;
        disk.cutAfter = cut;
        command.run(disk);
        const bool finished = disk.operations < cut;
        disk.Crash();
        ExpectPagesWhole(disk, when);
        ExpectTheNextRunAndReplaceFinish(disk, when);
        if (testing::Test::HasFatalFailure() || finished) {
          break;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lapse::batch
