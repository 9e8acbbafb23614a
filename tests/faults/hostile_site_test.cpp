// Root over a site that another user may write into, as two real processes
// of two users: the site's owner (nobody) plays the attacker in a child
// process while this process, root, runs Lapse over the site. Nothing the
// owner puts into the site may make root act outside it, or on a file it
// did not write. Without root the cases skip.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>

#include "batch/batch.h"
#include "batch/run_record.h"
#include "platform/errors.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using testing_support::BatchFixture;

constexpr uid_t kNobody = 65534;
// Another user whose private pages the site holds.
constexpr uid_t kOtherUser = 1;

// A child process that gives up root for good and runs what the attacker does.
class Attacker {
 public:
  explicit Attacker(const std::function<void()>& act) {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
          ::setresuid(kNobody, kNobody, kNobody) != 0) {
        ::_exit(3);
      }
      act();
      ::_exit(0);
    }
  }
  ~Attacker() { Stop(); }
  Attacker(const Attacker&) = delete;
  Attacker& operator=(const Attacker&) = delete;

  // Waits for the attacker to finish; its exit status.
  int Wait() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return -1;
  }
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

 private:
  pid_t pid_ = -1;
};

class HostileSite : public BatchFixture {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "needs root: the attacker is another user";
    }
    BatchFixture::SetUp();
    ::chmod(dir_.c_str(), 0755);
    site_ = dir_ / "site";
    victim_ = dir_ / "victim";
    fs::create_directories(victim_);
    ::chmod(victim_.c_str(), 0700);
    Write(victim_ / "secret.conf", "root's own\n");
    ::chmod((victim_ / "secret.conf").c_str(), 0600);
    fs::create_directory(site_);
    Write(site_ / "a.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
    GiveToNobody(site_);
    GiveToNobody(site_ / "a.htm");
    options_.foreignSite = ForeignSite::Allow;
  }

  static void GiveToNobody(const fs::path& path) {
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  }

  ReplaceResult ReplaceSite() {
    ReplaceOptions options;
    options.lockWait = std::chrono::milliseconds(0);
    options.foreignSite = ForeignSite::Allow;
    return Replace(disk_, site_, options);
  }

  RunResult RunSite() { return RunOver(site_); }

  fs::path site_;
  fs::path victim_;
};

// By default root refuses a site that another user owns, or that others may
// write into; the user may say to go on.
TEST_F(HostileSite, RootRefusesAForeignSiteUnlessTold) {
  options_.foreignSite = ForeignSite::Refuse;
  const RunResult refused = RunSite();
  EXPECT_EQ(refused.status, RunStatus::Stopped);
  EXPECT_EQ(refused.problem.error, platform::NotYoursError());
  EXPECT_FALSE(fs::exists(site_ / "New"));
  EXPECT_EQ(Replace(disk_, site_, {}).refusal, ReplaceRefusal::CannotOpenFolder);

  // Root's own folder that its group may write into is refused too.
  const fs::path shared = dir_ / "shared";
  fs::create_directory(shared);
  ::chmod(shared.c_str(), 02775);
  EXPECT_EQ(RunOver(shared).problem.error, platform::NotYoursError());
  ::chmod(shared.c_str(), 0755);
  EXPECT_EQ(RunOver(shared).status, RunStatus::Completed);
}

// A record the site's owner wrote, naming a file outside the site with its
// true stamp, with a file of theirs under that name in New: nothing moves.
TEST_F(HostileSite, AForgedRecordRenamesNothing) {
  ASSERT_EQ(RunSite().status, RunStatus::Completed);
  struct stat secret {};
  ASSERT_EQ(::stat((victim_ / "secret.conf").c_str(), &secret), 0);
  const std::string forged = "owned by nobody\n";
  for (const std::string& path : {std::string("../victim/secret.conf"),
                                  (victim_ / "secret.conf").string(), std::string("a.htm")}) {
    Attacker attacker([&] {
      const fs::path newDir = site_ / "New";
      CopyRecord copy{{static_cast<std::uint64_t>(secret.st_size),
                       std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::seconds(secret.st_mtim.tv_sec) +
                           std::chrono::nanoseconds(secret.st_mtim.tv_nsec))
                           .count(),
                       secret.st_dev, secret.st_ino},
                      1,
                      std::nullopt,
                      forged.size(),
                      std::nullopt};
      std::string record = RunRecordHeader(RecordState::Complete, {}) +
                           FormatRecordEntry(text::PathFromText(path), copy);
      fs::remove(newDir / ".lapse-sources");
      Write(newDir / ".lapse-sources", record);
      Write(newDir / "a.htm", forged);
    });
    ASSERT_EQ(attacker.Wait(), 0);
    const ReplaceResult result = ReplaceSite();
    EXPECT_EQ(result.refusal, ReplaceRefusal::NewIsTheSites) << path;
    EXPECT_TRUE(result.replaced.empty());
    EXPECT_EQ(Read(victim_ / "secret.conf"), "root's own\n");
    EXPECT_EQ(Read(site_ / "a.htm"), "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
  }
}

// A folder the site's owner made in New before a run over subfolders: the
// copy of another user's private page does not land in it.
TEST_F(HostileSite, AFolderPlantedInNewGetsNoCopy) {
  options_.recursion = Recursion::Subfolders;
  const fs::path priv = site_ / "private";
  fs::create_directory(priv);
  Write(priv / "b.htm", "<!--LAPSE 12/01/26\nsecret of user 1\n<!--ENDL\npublic\n");
  ASSERT_EQ(::chown(priv.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(::chown((priv / "b.htm").c_str(), kOtherUser, kOtherUser), 0);
  ::chmod(priv.c_str(), 0700);
  ASSERT_EQ(RunSite().status, RunStatus::Completed);
  // The run's own mirror is the other user's, as private as the folder.
  struct stat mirror {};
  ASSERT_EQ(::stat((site_ / "New" / "private").c_str(), &mirror), 0);
  EXPECT_EQ(mirror.st_uid, kOtherUser);
  EXPECT_EQ(mirror.st_mode & 07777, 0700u);

  // A run of the top folder alone leaves New without the mirror; the owner
  // of New then makes one of their own.
  fs::remove_all(site_ / "New");
  options_.recursion = Recursion::ThisFolder;
  ASSERT_EQ(RunSite().status, RunStatus::Completed);
  Attacker attacker([&] {
    fs::create_directories(site_ / "New" / "private");
    Write(site_ / "New" / "private" / "keep.txt", "keeps the folder\n");
  });
  ASSERT_EQ(attacker.Wait(), 0);
  options_.recursion = Recursion::Subfolders;
  const RunResult run = RunSite();
  EXPECT_EQ(run.status, RunStatus::Completed);
  EXPECT_EQ(run.filesLeftOut, 1u);
  EXPECT_EQ(Names(site_ / "New" / "private"), std::vector<std::string>{"keep.txt"});
}

// A log the site's owner put in New, for the lines of every page to be
// appended to, private pages' too: root writes no line into it.
TEST_F(HostileSite, ALogPlantedInNewGetsNoLine) {
  options_.recursion = Recursion::Subfolders;
  const fs::path priv = site_ / "private";
  fs::create_directory(priv);
  Write(priv / "b.htm", "<!--LAPSE 12/01/26\nsecret of user 1\n<!--ENDL\npublic\n");
  ASSERT_EQ(::chown(priv.c_str(), kOtherUser, kOtherUser), 0);
  ::chmod(priv.c_str(), 0700);
  // A replace that holds a page back leaves the log waiting in New, where
  // the next run appends to it.
  ASSERT_EQ(RunSite().status, RunStatus::Completed);
  Attacker editor([&] { Write(site_ / "a.htm", "<!--LAPSE 12/01/26\nedited\n<!--ENDL\n"); });
  ASSERT_EQ(editor.Wait(), 0);
  ASSERT_FALSE(ReplaceSite().left.empty());
  Attacker attacker([&] {
    fs::remove(site_ / "New" / "Log.txt");
    Write(site_ / "New" / "Log.txt", "");
    fs::permissions(site_ / "New" / "Log.txt", fs::perms::all & ~fs::perms::owner_exec &
                                                   ~fs::perms::group_exec &
                                                   ~fs::perms::others_exec);
  });
  ASSERT_EQ(attacker.Wait(), 0);
  const RunResult run = RunSite();
  EXPECT_EQ(run.status, RunStatus::Completed);
  ASSERT_TRUE(run.logFailure);
  EXPECT_EQ(run.logFailure->error, platform::NotOwnFileError());
  EXPECT_EQ(Read(site_ / "New" / "Log.txt"), "");
}

// A copy the site's owner swapped for a file of theirs of the same size is
// held back: only the very file the run wrote goes up.
TEST_F(HostileSite, ASwappedCopyIsHeldBack) {
  ASSERT_EQ(RunSite().status, RunStatus::Completed);
  const std::string copy = Read(site_ / "New" / "a.htm");
  Attacker attacker([&] {
    Write(site_ / "New" / "swap", std::string(copy.size(), 'x'));
    fs::rename(site_ / "New" / "swap", site_ / "New" / "a.htm");
  });
  ASSERT_EQ(attacker.Wait(), 0);
  const ReplaceResult result = ReplaceSite();
  EXPECT_TRUE(result.replaced.empty());
  ASSERT_EQ(result.left.size(), 2u);  // the copy, and the log that waits with it
  EXPECT_EQ(Read(site_ / "a.htm"), "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
}

// A link in place of the site folder, as a user who owns the folder above
// it can make: root follows it nowhere.
TEST_F(HostileSite, ALinkInPlaceOfTheSiteIsRefused) {
  const fs::path link = dir_ / "link";
  fs::create_directory_symlink(victim_, link);
  Write(victim_ / "index.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  const RunResult run = RunOver(link);
  EXPECT_EQ(run.status, RunStatus::Stopped);
  EXPECT_EQ(run.problem.error, platform::IsALinkError());
  EXPECT_EQ(messages::Stopped(run.problem), "Cannot open the folder " + link.string() +
                                                "/: it is a link. Name the folder it leads to.");
  EXPECT_FALSE(fs::exists(victim_ / "New"));
}

// The attacker renames a forged record into place over and over while root
// runs and replaces: root never acts outside the site.
TEST_F(HostileSite, ARecordSwappedInDuringUpdatesMovesNothingOutside) {
  Attacker attacker([&] {
    CopyRecord copy{{11, 0, 0, 0}, 1, std::nullopt, 11, std::nullopt};
    const std::string record = RunRecordHeader(RecordState::Complete, {}) +
                               FormatRecordEntry("a.htm", copy) +
                               FormatRecordEntry(text::PathFromText("../victim/secret.conf"), copy);
    for (;;) {
      Write(site_ / "forged", record);
      std::error_code ignored;
      fs::rename(site_ / "forged", site_ / "New" / ".lapse-sources", ignored);
    }
  });
  for (int round = 0; round < 30; ++round) {
    RunSite();
    ReplaceSite();
    Write(site_ / "a.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
  }
  attacker.Stop();
  EXPECT_EQ(Read(victim_ / "secret.conf"), "root's own\n");
  EXPECT_EQ(Names(victim_), std::vector<std::string>{"secret.conf"});
}

}  // namespace
}  // namespace lapse::batch
