// The batch run on file systems that fail it: full, read-only, unreadable
// sources and files that change under the run.
#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <csignal>
#include <functional>

#include "batch/batch.h"
#include "faults/fault_fixture.h"
#include "messages/messages.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using testing_support::FaultTest;
using testing_support::Outcome;
using NameList = std::vector<std::string>;

// A page whose first block lapsed on 2026-12-01, so every run logs it.
std::string Page(const std::string& body) {
  return "<!--LAPSE 12/01/26\r\nold news\r\n<!--ENDL\r\n" + body;
}

// What the run logs of a Page.
std::string LogEntry(const std::string& name) {
  return "\r\n" + name + "\r\n<!--LAPSE 12/01/26\r\nold news\r\n<!--ENDL\r\n";
}

std::string Repeated(const std::string& line, std::size_t bytes) {
  std::string text;
  while (text.size() < bytes) {
    text += line;
  }
  return text;
}

class BatchRunFaults : public FaultTest {
 public:
  // For the arrangements of the table-driven cases.
  using FaultTest::Access;
  using FaultTest::Call;
  using FaultTest::Remount;
  using FaultTest::Write;

  fs::path Site() const { return dir_ / "site"; }
  fs::path New() const { return Site() / "New"; }
  std::string NewText() const { return New().string() + "/"; }
};

TEST_F(BatchRunFaults, DiskFullInTheMiddleOfAFile) {
  fs::create_directories(Site());
  LAPSE_MOUNT_OR_SKIP(New(), 256);
  Write(Site() / "first.htm", Page("first\r\n"));
  // Its dropped block reaches the log before its copy fills the disk.
  Write(Site() / "big.htm", "<!--LAPSE 12/01/26\r\n" + Repeated("dropped line\r\n", 100 * 1024) +
                                "<!--ENDL\r\n" + Repeated("kept line\r\n", 400 * 1024));
  Write(Site() / "last.htm", Page("last\r\n"));
  Write(Site() / "notes.txt", "not a page\n");
  const auto sources = Snapshot(Site());

  const Outcome outcome = Call({"run", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Processed 4 files.\n");
  EXPECT_EQ(outcome.err, "Cannot write " + NewText() + "big.htm: No space left on device.\n");
  EXPECT_EQ(Snapshot(Site()), sources);
  // No copy of the file, whole or partial; the run went on past it.
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "first.htm", "last.htm"}));
  EXPECT_EQ(Read(New() / "first.htm"), "first\r\n");
  EXPECT_EQ(Read(New() / "last.htm"), "last\r\n");
  const std::string log = Read(New() / "Log.txt");
  const std::string first = LogEntry("first.htm");
  const std::string last = LogEntry("last.htm");
  EXPECT_TRUE(log == first + last || log == last + first) << log.substr(0, 200);
}

TEST_F(BatchRunFaults, DiskFullWhileWritingTheLog) {
  fs::create_directories(Site());
  LAPSE_MOUNT_OR_SKIP(New(), 256);
  // Its lapsed block is larger than the disk: the log fills it, not the copy.
  Write(Site() / "wordy.htm", "<!--LAPSE 12/01/26\r\n" + Repeated("dropped line\r\n", 300 * 1024) +
                                  "<!--ENDL\r\nkept\r\n");
  Write(Site() / "small.htm", Page("small\r\n"));
  const auto sources = Snapshot(Site());

  const Outcome outcome = Call({"run", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "wordy.htm: its removed lines could not be written to Log.txt: No space "
            "left on device. It is left as it is.\n");
  EXPECT_EQ(Snapshot(Site()), sources);
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "small.htm"}));
  // The other file's entry, and nothing more.
  EXPECT_EQ(Read(New() / "Log.txt"), LogEntry("small.htm"));
}

TEST_F(BatchRunFaults, DiskFullDuringALaterRunKeepsNoStaleCopy) {
  fs::create_directories(Site());
  LAPSE_MOUNT_OR_SKIP(New(), 256);
  Write(Site() / "grows.htm", Page("small at first\r\n"));
  ASSERT_EQ(Call({"run", "DIR"}, Site()).status, 0);
  ASSERT_EQ(Read(New() / "grows.htm"), "small at first\r\n");

  Write(Site() / "grows.htm", Page(Repeated("now too big\r\n", 300 * 1024)));
  const Outcome outcome = Call({"run", "--no-log", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "Cannot write " + NewText() + "grows.htm: No space left on device.\n");
  // The copy of the first run would put old text in place of the new source.
  EXPECT_EQ(Names(New()), NameList{".lapse-sources"});
}

// A run that cannot start tells why and leaves everything as it was.
struct StartCase {
  const char* name;
  bool needsMount;
  std::function<void(BatchRunFaults&)> arrange;
  std::string (*message)(const fs::path& site);
  // ctest shows the case by its name.
  friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};

class RunThatCannotStart : public BatchRunFaults, public testing::WithParamInterface<StartCase> {};

TEST_P(RunThatCannotStart, SaysWhyAndChangesNothing) {
  if (GetParam().needsMount) {
    LAPSE_MOUNT_OR_SKIP(Site(), 1024);
  }
  fs::create_directories(Site());
  Write(Site() / "a.htm", Page("a\r\n"));
  Write(Site() / "notes.txt", "n\n");
  GetParam().arrange(*this);
  const auto before = Snapshot(Site());

  const Outcome outcome = Call({"run", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "lapse-cli run: " + GetParam().message(Site()) + "\n");
  EXPECT_EQ(Snapshot(Site()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunThatCannotStart,
    testing::Values(
        StartCase{"NewOnAReadOnlyDisk", true,
                  [](BatchRunFaults& test) {
                    ASSERT_TRUE(test.Remount(test.Site(), BatchRunFaults::Access::ReadOnly));
                  },
                  [](const fs::path& site) {
                    return "Cannot create the folder " + site.string() +
                           "/New: Read-only file system.";
                  }},
        StartCase{"NewIsAFile", false,
                  [](BatchRunFaults& test) {
                    BatchRunFaults::Write(test.Site() / "New", "a file the user keeps\n");
                  },
                  [](const fs::path& site) {
                    return "Cannot create the folder " + site.string() +
                           "/New: a file of that name is in the way.";
                  }},
        StartCase{"NewOfAnEarlierRunOnAReadOnlyDisk", true,
                  [](BatchRunFaults& test) {
                    ASSERT_EQ(BatchRunFaults::Call({"run", "DIR"}, test.Site()).status, 0);
                    ASSERT_TRUE(test.Remount(test.Site(), BatchRunFaults::Access::ReadOnly));
                  },
                  [](const fs::path& site) {
                    return "Cannot write the record of the run " + site.string() +
                           "/New/.lapse-sources: Read-only file system. Nothing was written.";
                  }},
        StartCase{"NewIsTheSites", false,
                  [](BatchRunFaults& test) {
                    fs::create_directory(test.New());
                    BatchRunFaults::Write(test.New() / "index.htm", "the site's own New\n");
                  },
                  [](const fs::path& site) {
                    return site.string() +
                           "/New is a folder of the site, not Lapse's: it holds files, and no "
                           "record of a run of yours. Rename it, or run Lapse on another folder. "
                           "Nothing was written.";
                  }}),
    [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// New on a disk of its own that cannot be written: the run cannot even mark
// it as its own, and writes nothing.
TEST_F(BatchRunFaults, NewOnAReadOnlyDiskStopsTheRun) {
  fs::create_directories(Site());
  LAPSE_MOUNT_OR_SKIP(New(), 64);
  ASSERT_TRUE(Remount(New(), Access::ReadOnly));
  Write(Site() / "a.htm", Page("a\r\n"));
  Write(Site() / "b.htm", Page("b\r\n"));
  const auto sources = Snapshot(Site());

  const Outcome outcome = Call({"run", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "lapse-cli run: Cannot write the record of the run " + NewText() +
                             ".lapse-sources: Read-only file system. Nothing was written.\n");
  EXPECT_EQ(Snapshot(Site()), sources);
}

TEST_F(BatchRunFaults, FolderInTheWayOfACopy) {
  fs::create_directories(Site());
  Write(Site() / "a.htm", Page("a\r\n"));
  Write(Site() / "b.htm", Page("b\r\n"));
  ASSERT_EQ(Call({"run", "DIR"}, Site()).status, 0);
  fs::remove(New() / "a.htm");
  fs::create_directories(New() / "a.htm");
  Write(New() / "a.htm" / "kept.txt", "the user's\n");

  const Outcome outcome = Call({"run", "DIR"}, Site());

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "Cannot write " + NewText() + "a.htm: Is a directory.\n");
  EXPECT_EQ(Read(New() / "a.htm" / "kept.txt"), "the user's\n");
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "a.htm", "b.htm"}));
  EXPECT_EQ(Read(New() / "Log.txt"), LogEntry("b.htm"));
}

TEST_F(BatchRunFaults, SourceThatCannotBeRead) {
  fs::create_directories(Site());
  Write(Site() / "open.htm", Page("open\r\n"));
  Write(Site() / "secret.htm", Page("secret\r\n"));
  fs::permissions(Site(), fs::perms::all);
  fs::permissions(Site() / "secret.htm", fs::perms::none);
  Outcome outcome;
  {
    const testing_support::AsNobody nobody;
    if (!nobody.Restricted()) {
      GTEST_SKIP() << "cannot give up root's privileges";
    }
    outcome = Call({"run", "DIR"}, Site());
  }

  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Processed 2 files.\n");
  // The pages are root's, and nobody cannot give the copy away.
  EXPECT_EQ(outcome.err, "Cannot read " + Site().string() +
                             "/secret.htm: Permission denied.\n1 copies kept their page's "
                             "permissions but not its owner or group, which only root may give: "
                             "after a replace those pages belong to you.\n");
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", "open.htm"}));
  EXPECT_EQ(Read(New() / "Log.txt").find("secret"), std::string::npos);
  {
    const testing_support::AsNobody nobody;
    const Outcome check = Call({"check", "DIR"}, Site());
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.err, "Cannot read " + Site().string() + "/secret.htm: Permission denied.\n");
  }
  fs::permissions(Site() / "secret.htm", fs::perms::owner_read, fs::perm_options::add);
  EXPECT_EQ(Read(Site() / "secret.htm"), Page("secret\r\n"));
}

// The ordinary files of folder, in the order of its listing.
std::vector<fs::path> OrdinaryFiles(const fs::path& folder) {
  platform::Disk& disk = platform::MachineDisk();
  auto opened = disk.OpenFolder(folder / "");
  std::vector<platform::Entry> entries;
  std::vector<fs::path> names;
  if (opened && !disk.List(**opened, entries)) {
    for (const platform::Entry& entry : entries) {
      if (entry.kind == platform::EntryKind::OrdinaryFile) {
        names.push_back(entry.name);
      }
    }
  }
  return names;
}

// Collects the reports and, at the first one, changes the next file in the
// listing the way a user or another program might.
class Meddler final : public RunFrontEnd {
 public:
  explicit Meddler(std::function<void()> meddle) : meddle_(std::move(meddle)) {}
  bool Confirm(const fs::path&, Recursion) override { return true; }
  void NewDirectoryCreated() override {}
  void FileLeftOut(const fs::path& name, const PageReport& report) override {
    messages.push_back(messages::LeftOut(name, report));
    if (meddle_) {
      std::exchange(meddle_, nullptr)();
    }
  }
  std::vector<std::string> messages;

 private:
  std::function<void()> meddle_;
};

struct ChangeCase {
  const char* name;
  void (*change)(const fs::path& file);
  const char* reason;
  // ctest shows the case by its name.
  friend void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }
};

class FileChangedAfterTheListing : public BatchRunFaults,
                                   public testing::WithParamInterface<ChangeCase> {};

TEST_P(FileChangedAfterTheListing, IsLeftOutAndTheRunGoesOn) {
  fs::create_directories(Site());
  for (const char* name : {"p1.htm", "p2.htm", "p3.htm"}) {
    Write(Site() / name, "");
  }
  ASSERT_EQ(Call({"run", "DIR"}, Site()).status, 0);
  // The run takes the files in the order of the listing.
  const std::vector<fs::path> names = OrdinaryFiles(Site());
  ASSERT_EQ(names.size(), 3u);
  const fs::path first = Site() / names[0];
  const fs::path changed = Site() / names[1];
  const fs::path last = Site() / names[2];
  Write(first, "<!--LNEW no date\r\n");  // its report is the moment to meddle
  Write(changed, Page("changed\r\n"));
  Write(last, Page("last\r\n"));
  Write(New() / names[1], "the copy of an earlier run\r\n");

  Meddler meddler([&] { GetParam().change(changed); });
  using namespace std::chrono;
  RunOptions options;
  options.locale = text::EnglishDateLocale();
  options.clock = [] { return local_days{year{2026} / 12 / 8}; };
  // One page at a time: the next is read only after the report of the last.
  options.threads = 1;
  const RunResult result = BatchRun(platform::MachineDisk(), Site(), meddler, options);

  EXPECT_EQ(result.status, RunStatus::Completed);
  EXPECT_EQ(result.filesLeftOut, 2u);
  EXPECT_EQ(meddler.messages,
            (NameList{"Date Format error in " + names[0].string(),
                      "Cannot read " + changed.string() + ": " + GetParam().reason + "."}));
  // Neither the earlier copy nor anything of the changed file stays in New.
  EXPECT_EQ(Names(New()), (NameList{".lapse-sources", "Log.txt", names[2].string()}));
  EXPECT_EQ(Read(New() / names[2]), "last\r\n");
  EXPECT_EQ(Read(New() / "Log.txt").find(names[1].string()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileChangedAfterTheListing,
    testing::Values(ChangeCase{"Deleted", [](const fs::path& file) { fs::remove(file); },
                               "No such file or directory"},
                    ChangeCase{"ReplacedByAFolder",
                               [](const fs::path& file) {
                                 fs::remove(file);
                                 fs::create_directory(file);
                               },
                               "Is a directory"},
                    ChangeCase{"ReplacedByAPipe",
                               [](const fs::path& file) {
                                 fs::remove(file);
                                 ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
                               },
                               "it is not an ordinary file"}),
    [](const testing::TestParamInfo<ChangeCase>& info) { return info.param.name; });

// Removes name below the folder descriptor at, and all it holds, name by
// name: a path to its depths may be too long for any call.
void RemoveTree(int at, const std::string& name) {
  const int folder = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (folder == -1) {
    ::unlinkat(at, name.c_str(), 0);
    return;
  }
  DIR* listing = ::fdopendir(::dup(folder));
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string entryName = entry->d_name;
    if (entryName != "." && entryName != "..") {
      names.push_back(entryName);
    }
  }
  ::closedir(listing);
  for (const std::string& entryName : names) {
    RemoveTree(folder, entryName);
  }
  ::close(folder);
  ::unlinkat(at, name.c_str(), AT_REMOVEDIR);
}

// A log that cannot grow past a limit (a file-size limit, as with ulimit -f,
// or a full disk): every copy named has its lines in the log, every page
// whose lines did not fit is said and left as it is, and the run says it did
// not finish the job.
TEST_F(BatchRunFaults, ALogThatCannotGrowTakesItsPagesOut) {
  fs::create_directories(Site());
  for (int page = 0; page < 200; ++page) {
    Write(Site() / ("p" + std::to_string(1000 + page) + ".htm"),
          Page(Repeated("kept line\r\n", 100)) + "<!--LAPSE 12/01/26\r\n" +
              Repeated("removed line " + std::to_string(page) + "\r\n", 600) + "<!--ENDL\r\n");
  }
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100 * 1024, 100 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Outcome outcome = Call({"run", "DIR"}, Site());
    ::_exit(outcome.status);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string log = Read(New() / "Log.txt");
  EXPECT_LE(log.size(), 100u * 1024);
  EXPECT_TRUE(log.ends_with("<!--ENDL\r\n"));
  int named = 0;
  for (int page = 0; page < 200; ++page) {
    const std::string name = "p" + std::to_string(1000 + page) + ".htm";
    const bool copied = fs::exists(New() / name);
    EXPECT_EQ(copied, log.find("\r\n" + name + "\r\n") != std::string::npos) << name;
    named += copied ? 1 : 0;
  }
  EXPECT_GT(named, 0);
  EXPECT_LT(named, 200);
  // The replace puts in place exactly the pages whose lines the log holds.
  const Outcome replace = Call({"replace", "DIR"}, Site());
  EXPECT_EQ(replace.status, 0) << replace.err;
  EXPECT_EQ(Read(Site() / "Log.txt"), log);
}

// Two Lapses never work on one site at once: the second waits as long as it
// is told, then says who holds the site and changes nothing.
TEST_F(BatchRunFaults, ASecondLapseWaitsThenGivesWay) {
  fs::create_directories(Site());
  Write(Site() / "a.htm", Page("a\r\n"));
  int ready[2];
  int done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    const int site = ::open(Site().c_str(), O_RDONLY | O_DIRECTORY);
    ::flock(site, LOCK_EX);
    char byte = 0;
    [[maybe_unused]] const auto told = ::write(ready[1], &byte, 1);
    [[maybe_unused]] const auto waited = ::read(done[0], &byte, 1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  for (const char* command : {"run", "replace", "update"}) {
    const Outcome outcome = Call({command, "--wait", "0", "DIR"}, Site());
    EXPECT_EQ(outcome.status, 2) << command;
    EXPECT_EQ(outcome.err.rfind("lapse-cli " + std::string(command) + ": ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(" is being updated by another Lapse (process " +
                               std::to_string(holder) + ", since "),
              std::string::npos)
        << outcome.err;
  }
  EXPECT_FALSE(fs::exists(New()));
  ASSERT_EQ(::write(done[1], &byte, 1), 1);
  int status = 0;
  ::waitpid(holder, &status, 0);
  EXPECT_EQ(Call({"run", "DIR"}, Site()).status, 0);
  for (const int end : {ready[0], ready[1], done[0], done[1]}) {
    ::close(end);
  }
}

// A page's ACL and attributes reach the site with its copy; a private folder
// and the log stay private in New and after the replace.
TEST_F(BatchRunFaults, ACLsAttributesAndPrivateFoldersAreKept) {
  fs::create_directories(Site() / "private");
  fs::permissions(Site() / "private", fs::perms::owner_all);
  Write(Site() / "shared.htm", Page("shared\r\n"));
  Write(Site() / "private" / "p.htm", Page("private\r\n"));
  fs::permissions(Site() / "shared.htm", static_cast<fs::perms>(0600));
  acl_t acl = acl_from_text("u::rw-,u:nobody:r--,g::---,m::r--,o::---");
  const bool aclSet = acl_set_file((Site() / "shared.htm").c_str(), ACL_TYPE_ACCESS, acl) == 0;
  acl_free(acl);
  const bool attributeSet =
      ::setxattr((Site() / "shared.htm").c_str(), "user.origin", "editor", 6, 0) == 0;
  if (!aclSet || !attributeSet) {
    GTEST_SKIP() << "this file system keeps no ACLs or user attributes";
  }
  ASSERT_EQ(Call({"run", "--recursive", "DIR"}, Site()).status, 0);
  EXPECT_EQ(fs::status(New() / "private").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(New() / "Log.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  const Outcome replace = Call({"replace", "DIR"}, Site());
  ASSERT_EQ(replace.status, 0) << replace.err;
  acl_t kept = acl_get_file((Site() / "shared.htm").c_str(), ACL_TYPE_ACCESS);
  char* text = acl_to_any_text(kept, nullptr, ',', TEXT_ABBREVIATE);
  EXPECT_STREQ(text, "u::rw-,u:nobody:r--,g::---,m::r--,o::---");
  acl_free(text);
  acl_free(kept);
  char value[16] = {};
  EXPECT_EQ(::getxattr((Site() / "shared.htm").c_str(), "user.origin", value, sizeof value), 6);
  EXPECT_EQ(Read(Site() / "private" / "p.htm"), "private\r\n");
  EXPECT_EQ(fs::status(Site() / "Log.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
}

// Undo after a replace on the real disk: each page back with its content,
// mode, owner and ACL, the kept pages nowhere in the site, and readable by
// their owner only.
TEST_F(BatchRunFaults, UndoPutsBackEveryPageAsItWas) {
  fs::create_directories(Site());
  const fs::path state = dir_ / "state";
  Write(Site() / "a.htm", Page("a\r\n"));
  fs::permissions(Site() / "a.htm", static_cast<fs::perms>(0640));
  acl_t acl = acl_from_text("u::rw-,u:nobody:---,g::r--,m::r--,o::---");
  const bool aclSet = acl_set_file((Site() / "a.htm").c_str(), ACL_TYPE_ACCESS, acl) == 0;
  acl_free(acl);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((Site() / "a.htm").c_str(), 65534, 65534), 0);
  }
  struct stat before {};
  ASSERT_EQ(::stat((Site() / "a.htm").c_str(), &before), 0);
  const auto call = [&](std::vector<std::string> args) {
    for (auto& arg : args) {
      if (arg == "DIR") {
        arg = Site().string();
      }
    }
    std::ostringstream out;
    std::ostringstream err;
    cli::Environment environment;
    environment.clock = [] { return std::chrono::local_days{std::chrono::year{2026} / 12 / 8}; };
    environment.locale = text::EnglishDateLocale();
    environment.keepIn = state;
    return Outcome{cli::RunCommandLine(args, environment, out, err), out.str(), err.str()};
  };
  ASSERT_EQ(call({"run", "DIR"}).status, 0);
  ASSERT_EQ(call({"replace", "DIR"}).status, 0);
  EXPECT_EQ(Read(Site() / "a.htm"), "a\r\n");
  EXPECT_EQ(fs::status(state / "kept").permissions(), fs::perms::owner_all);
  const Outcome listed = call({"replaces", "DIR"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find("1 page"), std::string::npos) << listed.out;
  const Outcome undone = call({"undo", "DIR"});
  EXPECT_EQ(undone.status, 0) << undone.err;
  EXPECT_TRUE(undone.out.starts_with("Put back 1 page as it was before the replace of "))
      << undone.out;
  EXPECT_EQ(Read(Site() / "a.htm"), Page("a\r\n"));
  struct stat after {};
  ASSERT_EQ(::stat((Site() / "a.htm").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  if (aclSet) {
    acl_t back = acl_get_file((Site() / "a.htm").c_str(), ACL_TYPE_ACCESS);
    char* text = acl_to_any_text(back, nullptr, ',', TEXT_ABBREVIATE);
    EXPECT_STREQ(text, "u::rw-,u:nobody:---,g::r--,m::r--,o::---");
    acl_free(text);
    acl_free(back);
  }
  const Outcome again = call({"undo", "DIR"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find("was undone already"), std::string::npos) << again.out;
  EXPECT_EQ(call({"undo", (dir_ / "elsewhere").string()}).status, 2);
}

// A tree deeper than a path may be long is run and replaced whole: every
// folder is reached from the one above it.
TEST_F(BatchRunFaults, ATreeDeeperThanAPathMayBeLongIsRunAndReplaced) {
  fs::create_directories(Site());
  Write(Site() / "top.htm", Page("top\r\n"));
  const std::string part(200, 'd');
  int folder = ::open(Site().c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 30; ++level) {
    ASSERT_EQ(::mkdirat(folder, part.c_str(), 0755), 0);
    const int next = ::openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(folder);
    folder = next;
  }
  const std::string page = Page("deep\r\n");
  const int file = ::openat(folder, "deep.htm", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::write(file, page.data(), page.size()), static_cast<ssize_t>(page.size()));
  ::close(file);
  const Outcome run = Call({"run", "--recursive", "DIR"}, Site());
  EXPECT_EQ(run.status, 0) << run.err;
  const Outcome replace = Call({"replace", "DIR"}, Site());
  EXPECT_EQ(replace.status, 0) << replace.err;
  char back[64] = {};
  const int read = ::openat(folder, "deep.htm", O_RDONLY);
  EXPECT_EQ(::read(read, back, sizeof back), 6);
  EXPECT_STREQ(back, "deep\r\n");
  ::close(read);
  ::close(folder);
  EXPECT_FALSE(fs::exists(New()));
  // Too deep for a removal by path: folder by folder from the site.
  const int site = ::open(Site().c_str(), O_RDONLY | O_DIRECTORY);
  RemoveTree(site, part);
  ::close(site);
}

}  // namespace
}  // namespace lapse::batch
