#include "schedule/history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "schedule/durable_file.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace lapse::schedule {
namespace {

using namespace std::chrono;
namespace fs = std::filesystem;

class HistoryTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    file_ = dir_ / "state" / "lapse" / "history.jsonl";
  }

  static HistoryEntry Update(const fs::path& folder, int minute, int status = 0) {
    HistoryEntry entry;
    entry.time = sys_days{year{2026} / 12 / 8} + minutes{minute};
    entry.folder = folder;
    entry.status = status;
    entry.rewritten = 3;
    return entry;
  }

  fs::path file_;
};

TEST_F(HistoryTest, EntriesComeBackAsTheyWereAppended) {
  HistoryEntry entry = Update(dir_ / "site", 5, 1);
  entry.recursive = true;
  entry.left = {{"news/a.htm", "its page changed after the run"}, {"Grüße.htm", "\"odd\"\nwhy"}};
  ASSERT_FALSE(AppendHistory(entry, file_));
  ASSERT_FALSE(AppendHistory(Update(dir_ / "other", 6), file_));

  const std::vector<HistoryEntry> read = ReadHistory(file_);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].time, entry.time);
  EXPECT_EQ(read[0].folder, entry.folder);
  EXPECT_TRUE(read[0].recursive);
  EXPECT_EQ(read[0].status, 1);
  EXPECT_EQ(read[0].rewritten, 3u);
  EXPECT_EQ(read[0].leftCount, 2u);
  ASSERT_EQ(read[0].left.size(), 2u);
  EXPECT_EQ(read[0].left[1].page, "Grüße.htm");
  EXPECT_EQ(read[0].left[1].why, "\"odd\"\nwhy");
  EXPECT_NE(Read(file_).find("Grüße.htm"), std::string::npos);  // kept as UTF-8
}

TEST_F(HistoryTest, TheLastUpdateIsTheNewestLineOfThatFolder) {
  fs::create_directories(dir_ / "site");
  ASSERT_FALSE(AppendHistory(Update(dir_ / "site", 5), file_));
  ASSERT_FALSE(AppendHistory(Update(dir_ / "site", 7, 2), file_));
  ASSERT_FALSE(AppendHistory(Update(dir_ / "other", 9), file_));
  const std::optional<HistoryEntry> last = LastUpdate(dir_ / "site", file_);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->status, 2);
  EXPECT_EQ(last->time, Update(dir_, 7).time);
  EXPECT_FALSE(LastUpdate(dir_ / "never", file_));
  EXPECT_FALSE(LastUpdate(dir_ / "site", dir_ / "no-history.jsonl"));
}

TEST_F(HistoryTest, LinesCutShortOrGarbledAreSkippedAndHarmNoLaterLine) {
  fs::create_directories(file_.parent_path());
  Write(file_,
        "not json at all\n"
        "{\"time\":\"2026-12-08T00:05:00Z\",\"folder\":7,\"status\":0}\n"
        "{\"time\":\"yesterday\",\"folder\":\"/srv\",\"status\":0}\n"
        "{\"time\":\"2026-12-08T00:05:00Z\",\"folder\":\"/srv\",\"status\":-1}\n"
        "[1,2,3]\n"
        "{\"time\":\"2026-12-08T00:05:00Z\",\"folder\":\"/srv/ok\",\"status\":0,"
        "\"rewritten\":\"many\",\"left\":[5,{\"page\":\"a.htm\",\"why\":false}]}\n"
        "{\"time\":\"2026-12-08T00:06:00Z\",\"folder\":\"/srv/cut");
  ASSERT_FALSE(AppendHistory(Update(dir_ / "site", 8), file_));
  const std::vector<HistoryEntry> read = ReadHistory(file_);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].folder, fs::path("/srv/ok"));
  EXPECT_EQ(read[0].rewritten, 0u);
  ASSERT_EQ(read[0].left.size(), 1u);
  EXPECT_EQ(read[0].left[0].page, "a.htm");
  EXPECT_EQ(read[1].folder, dir_ / "site");
}

TEST_F(HistoryTest, ALongListOfPagesIsCutButCounted) {
  HistoryEntry entry = Update(dir_ / "site", 5, 1);
  for (int i = 0; i < 250; ++i) {
    entry.left.push_back({"page" + std::to_string(i) + ".htm", "why"});
  }
  ASSERT_FALSE(AppendHistory(entry, file_));
  const std::vector<HistoryEntry> read = ReadHistory(file_);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].left.size(), kMostPagesKept);
  EXPECT_EQ(read[0].leftCount, 250u);
}

// The members are named as `check --json` and `schedules --json` name
// theirs, nested ones too.
TEST_F(HistoryTest, AWrittenLineNamesItsMembersInSnakeCase) {
  HistoryEntry entry = Update(dir_ / "site", 5, 1);
  entry.left = {{"a.htm", "why"}};
  ASSERT_FALSE(AppendHistory(entry, file_));
  const nlohmann::json line = nlohmann::json::parse(Read(file_));
  EXPECT_EQ(line.value("left_count", 0u), 1u);
  std::vector<std::string> keys;
  for (const auto& [key, value] : line.items()) {
    keys.push_back(key);
  }
  for (const auto& [key, value] : line.at("left").at(0).items()) {
    keys.push_back(key);
  }
  for (const std::string& key : keys) {
    EXPECT_TRUE(std::none_of(key.begin(), key.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        << key;
  }
}

// Lines written before the members took snake_case names read as they did,
// so that `schedules`, the schedule dialog and the missed-update check see
// the updates of before the upgrade.
TEST_F(HistoryTest, LinesOfEitherNamingReadTheSame) {
  const std::string common =
      R"("time":"2026-12-08T00:05:00Z","folder":"/srv/site","recursive":true,"status":1,)"
      R"("rewritten":3,"left":[{"page":"a.htm","why":"changed"}],"problem":"")";
  const struct {
    const char* name;
    std::string line;
    std::uint64_t leftCount;
  } cases[] = {
      {"older, camelCase", "{" + common + R"(,"leftCount":4,"outcome":"ran"})", 4},
      {"snake_case", "{" + common + R"(,"left_count":4,"outcome":"ran"})", 4},
      {"snake_case wins over camelCase", "{" + common + R"(,"left_count":4,"leftCount":9})", 4},
      {"no count: the pages listed", "{" + common + "}", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(file_.parent_path());
    Write(file_, c.line + "\n");
    const std::optional<HistoryEntry> read = LastUpdate("/srv/site", file_);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->time, sys_days{year{2026} / 12 / 8} + minutes{5});
    EXPECT_TRUE(read->recursive);
    EXPECT_EQ(read->status, 1);
    EXPECT_EQ(read->rewritten, 3u);
    EXPECT_EQ(read->leftCount, c.leftCount);
    ASSERT_EQ(read->left.size(), 1u);
    EXPECT_EQ(read->left[0].why, "changed");
    EXPECT_EQ(read->outcome, UpdateOutcome::Ran);
  }
}

TEST_F(HistoryTest, AnOvergrownFileKeepsItsNewestLines) {
  for (int i = 0; i < 6000; ++i) {
    HistoryEntry entry = Update(dir_ / ("site" + std::to_string(i)), i % 60);
    entry.left = {{std::string(150, 'x'), "padding"}};
    ASSERT_FALSE(AppendHistory(entry, file_));
  }
  EXPECT_LE(fs::file_size(file_), 1024u * 1024u + 1024u);
  const std::vector<HistoryEntry> read = ReadHistory(file_);
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(read.back().folder, dir_ / "site5999");
  EXPECT_GT(read.size(), 1000u);
}

#if !defined(_WIN32)
TEST_F(HistoryTest, OnlyTheOwnerMayReadTheFile) {
  ASSERT_FALSE(AppendHistory(Update(dir_ / "site", 5), file_));
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(file_.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  ASSERT_FALSE(AppendHistory(Update(dir_ / "site", 6), file_));
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(HistoryTest, AFolderNameThatIsNotUtf8IsWrittenAndTheFileStaysReadable) {
  ASSERT_FALSE(AppendHistory(Update(dir_ / "bad\xff", 5), file_));
  ASSERT_FALSE(AppendHistory(Update(dir_ / "site", 6), file_));
  EXPECT_EQ(ReadHistory(file_).size(), 2u);
}
#endif

// Each line says how its update ended; a line written before it did takes
// that from its status.
TEST_F(HistoryTest, TheOutcomeComesBackOrFollowsTheStatus) {
  fs::create_directories(file_.parent_path());
  Write(file_,
        "{\"time\":\"2026-12-08T00:05:00Z\",\"folder\":\"/srv/a\",\"status\":2}\n"
        "{\"time\":\"2026-12-08T00:05:00Z\",\"folder\":\"/srv/b\",\"status\":1}\n"
        "{\"time\":\"2026-12-08T00:05:00Z\",\"folder\":\"/srv/c\",\"status\":2,"
        "\"outcome\":\"what-not\"}\n");
  for (const UpdateOutcome outcome :
       {UpdateOutcome::Ran, UpdateOutcome::CouldNotStart, UpdateOutcome::NotTheScheduledFolder}) {
    HistoryEntry entry = Update(dir_ / "site", 5, outcome == UpdateOutcome::Ran ? 0 : 2);
    entry.outcome = outcome;
    ASSERT_FALSE(AppendHistory(entry, file_));
  }
  std::vector<UpdateOutcome> read;
  for (const HistoryEntry& entry : ReadHistory(file_)) {
    read.push_back(entry.outcome);
  }
  EXPECT_EQ(read, (std::vector<UpdateOutcome>{UpdateOutcome::CouldNotStart, UpdateOutcome::Ran,
                                              UpdateOutcome::CouldNotStart, UpdateOutcome::Ran,
                                              UpdateOutcome::CouldNotStart,
                                              UpdateOutcome::NotTheScheduledFolder}));
}

TEST_F(HistoryTest, TheSummarySaysWhatTheUpdateDid) {
  HistoryEntry entry = Update(dir_, 5, 1);
  entry.left = {{"a.htm", "its page changed after the run"}, {"b.htm", "x"}};
  EXPECT_NE(Summary(entry).find(": 3 pages rewritten, 2 left as they were (a.htm: its page "
                                "changed after the run, ...)"),
            std::string::npos)
      << Summary(entry);
  // A sentence that names its page itself.
  entry.left = {{"", "Date Format error in a.htm"}};
  EXPECT_NE(Summary(entry).find(", 1 left as it was (Date Format error in a.htm)"),
            std::string::npos)
      << Summary(entry);
  entry.status = 2;
  entry.problem = "the folder is gone";
  EXPECT_NE(Summary(entry).find(": could not start: the folder is gone"), std::string::npos);
  entry.outcome = UpdateOutcome::NotTheScheduledFolder;
  entry.problem = "/srv/site/ is no longer the folder that was scheduled";
  EXPECT_NE(Summary(entry).find(": not updated: /srv/site/ is no longer the folder"),
            std::string::npos)
      << Summary(entry);
}

#if !defined(_WIN32)
// Updates that end at the same minute append to one history at once, and
// trim it when it grows past its limit. A trim drops the oldest lines only:
// what is left of each process's lines is the newest of them, none missing
// between them (a line appended to the file a trim of the other was
// replacing would leave a gap), and every line is whole.
TEST_F(HistoryTest, TwoProcessesAppendingAndTrimmingAtOnceLoseNoLine) {
  constexpr int kLines = 400;
  constexpr int kProcesses = 2;
  // Folders of one length: lines of one length, so a trim keeps a known number.
  const auto entryOf = [&](int process, int line) {
    char name[32];
    std::snprintf(name, sizeof name, "p%d-%04d", process, line);
    return Update(dir_ / name, line % 60);
  };
  const HistoryLimits limits{4096, 2048};
  std::vector<pid_t> children;
  for (int process = 0; process < kProcesses; ++process) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int line = 0; line < kLines; ++line) {
        if (AppendHistory(entryOf(process, line), file_, limits)) {
          ::_exit(1);
        }
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const std::string content = Read(file_);
  const std::vector<HistoryEntry> read = ReadHistory(file_);
  ASSERT_TRUE(content.ends_with('\n'));
  ASSERT_EQ(read.size(), static_cast<size_t>(std::count(content.begin(), content.end(), '\n')));
  const fs::path one = dir_ / "one.jsonl";
  ASSERT_FALSE(AppendHistory(entryOf(0, 0), one));
  EXPECT_GE(read.size(), limits.keptAfterTrim / fs::file_size(one) - 1);

  std::map<int, std::vector<int>> kept;  // by process, in the order of the file
  for (const HistoryEntry& entry : read) {
    const std::string name = entry.folder.filename().string();
    kept[name[1] - '0'].push_back(std::stoi(name.substr(3)));
  }
  for (const auto& [process, lines] : kept) {
    EXPECT_EQ(lines.back(), kLines - 1) << "process " << process;
    for (size_t i = 1; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i], lines[i - 1] + 1) << "process " << process << " lost a line";
    }
  }
  const std::string last = read.back().folder.filename().string();
  EXPECT_EQ(std::stoi(last.substr(3)), kLines - 1) << last;
  // No file of a trim is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), fs::directory_iterator()),
            1);
}

// A trim reads the history through the descriptor that holds its lock; when
// that read fails, the history stays as it was rather than being cut to
// nothing.
TEST_F(HistoryTest, ATrimWhoseReadFailsLeavesTheHistoryAsItWas) {
  for (int minute = 0; minute < 20; ++minute) {
    ASSERT_FALSE(AppendHistory(Update(dir_ / "site", minute), file_));
  }
  const std::string before = Read(file_);
  // Open for writing only: every read through it fails.
  detail::Descriptor held(::open(file_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  ASSERT_TRUE(held);
  EXPECT_TRUE(detail::TrimHeldHistory(held, file_, before.size() / 2));
  EXPECT_EQ(Read(file_), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), fs::directory_iterator()),
            1);
  // Through a descriptor that reads, the same trim keeps the newest lines.
  held = detail::Descriptor(::open(file_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
  ASSERT_FALSE(detail::TrimHeldHistory(held, file_, before.size() / 2));
  const std::vector<HistoryEntry> read = ReadHistory(file_);
  ASSERT_FALSE(read.empty());
  EXPECT_LT(read.size(), 20u);
  EXPECT_EQ(read.back().time, Update(dir_, 19).time);
}
#endif

}  // namespace
}  // namespace lapse::schedule
