// The replace on a file system that refuses it, and after a replace that was
// cut short.
#include <algorithm>

#include "faults/fault_fixture.h"

namespace lapse::cli {
namespace {

namespace fs = std::filesystem;
using testing_support::FaultTest;
using testing_support::Outcome;
using NameList = std::vector<std::string>;

constexpr const char* kLogWaits =
    "it moves up with the last page of its run; see to the pages held back, then replace again.";

NameList Lines(const std::string& text) {
  NameList lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
    lines.push_back(text.substr(from, end - from));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

class ReplaceFaults : public FaultTest {
 protected:
  fs::path Site() const { return dir_ / "site"; }
  fs::path New() const { return Site() / "New"; }

  // A site with two pages, a note and the log of an earlier replace, run once.
  // Both pages' copies differ from them: b.html's lone CR becomes CR LF.
  void RunOverSite() {
    Write(Site() / "a.htm", "a\r\n<!--LAPSE 12/01/26\r\nold\r\n<!--ENDL\r\n");
    Write(Site() / "b.html", "b\r");
    Write(Site() / "notes.txt", "n\n");
    Write(Site() / "Log.txt", "\r\nold.htm\r\nthe log of an earlier run\r\n");
    ASSERT_EQ(Call({"run", "DIR"}, Site()).status, 0);
  }
};

TEST_F(ReplaceFaults, ReadOnlyDiskAtReplaceTime) {
  LAPSE_MOUNT_OR_SKIP(Site(), 1024);
  RunOverSite();
  const auto sources = Snapshot(Site());
  const auto copies = Snapshot(New());
  ASSERT_TRUE(Remount(Site(), Access::ReadOnly));

  Outcome outcome = Call({"replace", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Replaced 0 pages (2 held back).\n");
  const std::string refused = ": it could not be moved.";
  EXPECT_EQ(Lines(outcome.err),
            (NameList{"Cannot write the record of the run " + New().string() +
                          "/.lapse-sources: Read-only file system. No page was replaced.",
                      "Log.txt stays in the folder New: " + std::string(kLogWaits),
                      "a.htm stays in the folder New" + refused,
                      "b.html stays in the folder New" + refused}));
  EXPECT_EQ(Snapshot(Site()), sources);
  EXPECT_EQ(Snapshot(New()), copies);

  // Once the disk can be written again, a second replace does the job.
  ASSERT_TRUE(Remount(Site(), Access::Writable));
  outcome = Call({"replace", "DIR"}, Site());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(Read(Site() / "a.htm"), "a\r\n");
  EXPECT_EQ(Read(Site() / "b.html"), "b\r\n");
  EXPECT_EQ(Read(Site() / "notes.txt"), "n\n");
  EXPECT_EQ(Read(Site() / "Log.txt"), copies.at("Log.txt"));
  EXPECT_FALSE(fs::exists(New()));
}

TEST_F(ReplaceFaults, SourceThatCannotBeReplaced) {
  fs::create_directories(Site());
  RunOverSite();
  const std::string aCopy = Read(New() / "a.htm");
  const std::string aSource = Read(Site() / "a.htm");
  Outcome outcome;
  {
    const testing_support::ImmutableFile locked(Site() / "a.htm");
    if (!locked.IsSet()) {
      GTEST_SKIP() << "cannot mark a file immutable here; needs root on ext4 or tmpfs";
    }
    outcome = Call({"replace", "DIR"}, Site());
  }

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Replaced 1 page (1 held back).\n");
  EXPECT_EQ(Lines(outcome.err),
            (NameList{"Log.txt stays in the folder New: " + std::string(kLogWaits),
                      "a.htm stays in the folder New: it could not be moved: Operation not "
                      "permitted."}));
  EXPECT_EQ(Read(Site() / "a.htm"), aSource);
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "a.htm"}));
  EXPECT_EQ(Read(New() / "a.htm"), aCopy);

  // Unlocked, a second replace puts the last copy in place, and the log.
  const std::string log = Read(New() / "Log.txt");
  outcome = Call({"replace", "DIR"}, Site());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Replaced 1 page and moved Log.txt.\n");
  EXPECT_EQ(Read(Site() / "a.htm"), aCopy);
  EXPECT_EQ(Read(Site() / "Log.txt"), log);
  EXPECT_FALSE(fs::exists(New()));
}

// What a replace killed at some moment leaves, and what the next one must
// make of it: the copies still in New go up, and the run's log survives. A
// replace says in the record that it has begun before it moves anything.
struct CutShortCase {
  const char* name;
  NameList movedBeforeTheKill;
  // ctest shows the case by its name.
  friend void PrintTo(const CutShortCase& c, std::ostream* os) { *os << c.name; }
};

class ReplaceCutShort : public ReplaceFaults, public testing::WithParamInterface<CutShortCase> {};

TEST_P(ReplaceCutShort, NextReplaceCompletesAndKeepsTheRunsLog) {
  fs::create_directories(Site());
  RunOverSite();
  const auto copies = Snapshot(New());
  if (!GetParam().movedBeforeTheKill.empty()) {
    std::string record = Read(New() / ".lapse-sources");
    const std::string complete = "complete ";
    record.replace(record.find(complete), complete.size(), "part-placed ");
    record.insert(record.find('\n'), " log");
    Write(New() / ".lapse-sources", record);
  }
  for (const std::string& name : GetParam().movedBeforeTheKill) {
    fs::rename(New() / name, Site() / name);
  }

  const Outcome outcome = Call({"replace", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(Snapshot(Site()), (std::map<std::string, std::string>{{"Log.txt", copies.at("Log.txt")},
                                                                  {"a.htm", "a\r\n"},
                                                                  {"b.html", "b\r\n"},
                                                                  {"notes.txt", "n\n"}}));
  EXPECT_FALSE(fs::exists(New()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceCutShort,
    testing::Values(CutShortCase{"BeforeTheFirstMove", {}}, CutShortCase{"AfterOneCopy", {"a.htm"}},
                    CutShortCase{"AfterEveryCopy", {"a.htm", "b.html"}},
                    CutShortCase{"BeforeNewWasRemoved", {"a.htm", "b.html", "Log.txt"}}),
    [](const testing::TestParamInfo<CutShortCase>& info) { return info.param.name; });

}  // namespace
}  // namespace lapse::cli
