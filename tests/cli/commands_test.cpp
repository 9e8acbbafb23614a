#include "cli/commands.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "pages/gzip.h"
#include "platform/clock.h"
#include "platform/memory_disk.h"
#include "support/memory_streams.h"
#include "support/temp_dir.h"

namespace lapse::cli {
namespace {

using namespace std::chrono;
using testing_support::TempDirTest;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class CommandsTest : public TempDirTest {
 protected:
  Outcome Call(std::vector<std::string> args) {
    for (auto& arg : args) {
      if (arg == "DIR")
        arg = dir_.string();
    }
    std::ostringstream out;
    std::ostringstream err;
    // The machine's own date never reaches these tests.
    Environment environment;
    environment.clock = [] { return local_days{year{2026} / 12 / 8}; };
    environment.locale = text::EnglishDateLocale();
    environment.useTimeZone = platform::UseTimeZone;
    environment.updated = [this](const UpdateReport& report) { updates.push_back(report); };
    const int status = RunCommandLine(args, environment, out, err);
    return {status, out.str(), err.str()};
  }

  std::vector<UpdateReport> updates;
};

TEST_F(CommandsTest, RunWritesCopiesAndReportsTheCount) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "notes.txt", "n\n");
  const Outcome outcome = Call({"run", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Processed 2 files.\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "a\n");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "New" / "Log.txt"));
}

TEST_F(CommandsTest, RunOptionsReachTheEngine) {
  Write(dir_ / "a.htm", "<!--LNEW 31.10.2026\nx\ny\nz\n");
  const Outcome outcome = Call({"run", "--today", "2026-12-01", "--days", "30", "--lines", "2",
                                "--no-log", "--date-order", "dmy", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "z\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "New" / "Log.txt"));
  Call({"run", "--today", "2026-11-30", "DIR"});
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "<!--LNEW 31.10.2026\nx\ny\nz\n");
}

TEST_F(CommandsTest, RunWithADateFormatErrorExitsWithOne) {
  Write(dir_ / "bad.htm", "<!--LAPSE when\n");
  Write(dir_ / "good.htm", "g\n");
  const Outcome outcome = Call({"run", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "Date Format error in bad.htm\n");
  EXPECT_EQ(outcome.out, "Processed 2 files.\n");
}

TEST_F(CommandsTest, RunThatCannotStartExitsWithTwo) {
  Write(dir_ / "New", "a file in the way");
  const Outcome outcome = Call({"run", "DIR"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "lapse-cli: Cannot create the folder " + (dir_ / "New").string() +
                             ": a file of that name is in the way.\n");
}

TEST_F(CommandsTest, ReplaceReportsWhatItDid) {
  Write(dir_ / "a.htm", "a\n");
  Call({"run", "DIR"});
  Outcome outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Replaced a.htm\nMoved Log.txt\n");
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\n");

  outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "lapse-cli: There is no folder " + (dir_ / "New").string() +
                             " with copies to replace the files with.\n");
}

TEST_F(CommandsTest, ReplaceHoldsBackAPageEditedAfterTheRun) {
  Write(dir_ / "a.htm", "a\n");
  Call({"run", "DIR"});
  Write(dir_ / "a.htm", "a, edited after the run\n");
  const Outcome outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("a.htm stays in the folder New: its page changed after the run; "
                             "run again.\n"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(Read(dir_ / "a.htm"), "a, edited after the run\n");
}

// Pages saved while the undo works are left as saved: lapse-cli names each
// of them and exits with 1. The pages are on a disk in memory, under the
// path of the test's folder, which the command looks for on the machine's.
TEST_F(CommandsTest, UndoNamesEveryPageSavedWhileItRanAndExitsWithOne) {
  platform::MemoryDisk disk;
  for (const char* page : {"a.htm", "b.htm", "c.htm"}) {
    disk.AddFile(dir_ / page, "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
  }
  disk.AddFolder("/state");
  const auto call = [&](std::vector<std::string> args) {
    args.push_back(dir_.string());
    std::ostringstream out;
    std::ostringstream err;
    Environment environment{.clock = [] { return local_days{year{2026} / 12 / 8}; },
                            .locale = text::EnglishDateLocale(),
                            .disk = disk,
                            .useTimeZone = platform::UseTimeZone,
                            .updated = {},
                            .keepIn = "/state"};
    const int status = RunCommandLine(args, environment, out, err);
    return Outcome{status, out.str(), err.str()};
  };
  ASSERT_EQ(call({"run"}).status, 0);
  ASSERT_EQ(call({"replace"}).status, 0);
  // Saved by an editor while the undo keeps what it replaces.
  disk.before = [&](const std::string& operation, const std::filesystem::path& name) {
    if (operation == "Link" && name != "a.htm") {
      disk.AddFile(dir_ / name, "saved\n");
    }
  };
  const Outcome outcome = call({"undo"});
  disk.before = nullptr;
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Put back a.htm\n");
  EXPECT_EQ(outcome.err,
            "b.htm: changed after the replace; left as it is.\n"
            "c.htm: changed after the replace; left as it is.\n");
  EXPECT_EQ(disk.Content(dir_ / "b.htm"), "saved\n");
  EXPECT_EQ(disk.Content(dir_ / "c.htm"), "saved\n");
}

std::string Gzip(std::string_view text) {
  testing_support::MemorySink out;
  pages::GzipSink gzip(out);
  gzip.Write(text);
  gzip.Finish();
  return out.text;
}

// Servers keep page.html.gz beside page.html: both must stay in step, and
// what cannot be rewritten inside its compression stays as it is.
TEST_F(CommandsTest, CompressedPagesAreRewrittenInsideGzipOrLeftAsTheyAre) {
  const std::string page = "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n";
  Write(dir_ / "page.html", page);
  Write(dir_ / "page.html.gz", Gzip(page));
  Write(dir_ / "page.html.br", "\x1b\x05brotli");
  const Outcome run = Call({"run", "DIR"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Processed 3 files.\n");
  EXPECT_EQ(run.err, "page.html.br: a compressed file, left as it is\n");
  const Outcome check = Call({"check", "DIR"});
  EXPECT_NE(check.out.find("page.html.gz:1: expiry 2026-12-01 lapsed"), std::string::npos)
      << check.out;
  EXPECT_EQ(check.err, run.err);
  ASSERT_EQ(Call({"replace", "DIR"}).status, 0);
  EXPECT_EQ(Read(dir_ / "page.html.gz"), Gzip("kept\n"));
  EXPECT_EQ(Read(dir_ / "page.html.br"), "\x1b\x05brotli");
}

TEST_F(CommandsTest, RecursiveRunCheckAndReplaceTakeTheWholeTree) {
  std::filesystem::create_directories(dir_ / "a" / "b");
  Write(dir_ / "a" / "b" / "x.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
  Write(dir_ / "top.htm", "top\n");
  EXPECT_EQ(Call({"run", "--recursive", "DIR"}).out, "Processed 2 files.\n");
  const std::string shown = (std::filesystem::path("a") / "b" / "x.htm").string();
  EXPECT_EQ(Call({"check", "--recursive", "DIR"}).out,
            shown + ":1: expiry 2026-12-01 lapsed\nNext lapse: none\n");
  const Outcome replace = Call({"replace", "--recursive", "--quiet", "DIR"});
  EXPECT_EQ(replace.status, 0) << replace.err;
  EXPECT_EQ(replace.out, "");
  EXPECT_EQ(Read(dir_ / "a" / "b" / "x.htm"), "kept\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "New"));
}

TEST_F(CommandsTest, CheckListsTagsAndTheNextLapse) {
  Write(dir_ / "a.htm",
        "x\n<!--LAPSE 12/01/26\n<!--ENDL\n<!--LNEW 12/01/26\n<!--LAPSE 2027-03-01 -->\n");
  Write(dir_ / "b.htm", "<!--LNEW someday\n");
  const Outcome outcome = Call({"check", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  std::string expected =
      "a.htm:2: expiry 2026-12-01 lapsed\n"
      "a.htm:4: new 2026-12-01 current\n"
      "a.htm:5: expiry 2027-03-01 current\n";
  // Sorted by page and line, whatever order the folder lists them in.
  EXPECT_EQ(outcome.out, expected + "b.htm:1: date format error\nNext lapse: 2027-01-01\n");
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.htm", "b.htm"}));
}

TEST_F(CommandsTest, FolderNamedOutsideAsciiIsRunAndReplaced) {
  // Arguments arrive as UTF-8 on every platform.
  const auto utf8 = [](std::u8string_view text) { return std::string(text.begin(), text.end()); };
  const std::filesystem::path site = dir_ / u8"Ünïcödé 目录";
  std::filesystem::create_directory(site);
  Write(site / u8"Grüße.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  const Outcome run = Call({"run", utf8(site.u8string())});
  EXPECT_EQ(run.status, 0) << run.err;
  const Outcome replace = Call({"replace", utf8(site.u8string())});
  EXPECT_EQ(replace.status, 0) << replace.err;
  EXPECT_EQ(replace.out, "Replaced " + utf8(u8"Grüße.htm") + "\nMoved Log.txt\n");
  EXPECT_EQ(Read(site / u8"Grüße.htm"), "a\n");
}

struct UsageCase {
  std::vector<std::string> args;
  std::string error;
  friend void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.error; }
};

class UsageErrors : public CommandsTest, public testing::WithParamInterface<UsageCase> {};

TEST_P(UsageErrors, GiveOneClearLineAndStatusTwo) {
  const Outcome outcome = Call(GetParam().args);
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find(GetParam().error), std::string::npos) << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  EXPECT_EQ(outcome.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrors,
    testing::Values(
        UsageCase{{"run", "/no/such/dir"}, "lapse-cli run: there is no folder /no/such/dir."},
        UsageCase{{"run", "--days", "99999", "DIR"},
                  "lapse-cli run: --days takes a whole number from -32768 to 32767; '99999' is "
                  "not one."},
        UsageCase{{"run", "--days", "abc", "DIR"}, "'abc' is not one."},
        UsageCase{{"run", "--lines", "x", "DIR"}, "--lines takes a whole number"},
        UsageCase{{"check", "--today", "2026-02-30", "DIR"},
                  "lapse-cli check: '2026-02-30' is not a date (YYYY-MM-DD)."},
        UsageCase{{"run", "--date-order", "myd", "DIR"}, "--date-order takes mdy, dmy or ymd"},
        UsageCase{{"run", "--bogus", "DIR"}, "lapse-cli run: no option --bogus"},
        UsageCase{{"check", "--lines", "3", "DIR"}, "lapse-cli check: no option --lines"},
        UsageCase{{"replace", "--today", "2026-12-08", "DIR"},
                  "lapse-cli replace: no option --today"},
        UsageCase{{"frobnicate", "DIR"}, "lapse-cli: no command 'frobnicate'"},
        UsageCase{{"run", "--log", "--no-log", "DIR"}, "--log and --no-log exclude each other"},
        UsageCase{{"run", "--time-zone", "Nowhere/Land", "DIR"},
                  "lapse-cli run: the system knows no time zone 'Nowhere/Land'"},
        UsageCase{{"check", "--within", "-1", "DIR"}, "--within takes a whole number from 0"},
        UsageCase{{"run", "--wait", "soon", "DIR"}, "--wait takes a whole number"},
        UsageCase{{}, "lapse-cli: which command?"},
        UsageCase{{"replace"}, "lapse-cli replace: which folder?"}));

// Update runs and replaces in one go: a page with a good date is put in
// place, one whose date cannot be read stays as it was and is named, and the
// exit status tells which happened.
TEST_F(CommandsTest, UpdatePutsEveryPageItCanInPlace) {
  Write(dir_ / "good.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "bad.htm", "<!--LAPSE when\nkept as it is\n");
  Outcome outcome = Call({"update", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "Date Format error in bad.htm\n");
  EXPECT_EQ(outcome.out, "Updated 1 of 2 files.\n");
  EXPECT_EQ(Read(dir_ / "good.htm"), "a\n");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "<!--LAPSE when\nkept as it is\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "New"));
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].rewritten, 1u);
  EXPECT_EQ(updates[0].leftAsTheyWere, std::vector<std::string>{"Date Format error in bad.htm"});
  EXPECT_EQ(updates[0].status, 1);

  // Nothing to say when all went well, so that cron mails only otherwise.
  Write(dir_ / "bad.htm", "fixed\n<!--LNEW 10/01/26\nnew\n");
  outcome = Call({"update", "--quiet", "DIR"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "fixed\n");
}

TEST_F(CommandsTest, RunQuietSaysNothingUnlessSomethingWentWrong) {
  Write(dir_ / "a.htm", "a\n");
  const Outcome outcome = Call({"run", "--quiet", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out + outcome.err, "");
}

// The JSON reads back as what the text says, and --within keeps the tags
// that lapse within that many days: dated the 9th, a tag lapses on the 10th.
TEST_F(CommandsTest, CheckWritesJsonAndLooksAhead) {
  Write(dir_ / "a.htm", "<!--LAPSE 12/01/26\n<!--LAPSE 12/09/26\n<!--LNEW 11/10/26\n<!--LAPSE x\n");
  const Outcome outcome = Call({"check", "--json", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  const nlohmann::json document = nlohmann::json::parse(outcome.out);
  EXPECT_EQ(document["today"], "2026-12-08");
  EXPECT_EQ(document["next_lapse"], "2026-12-10");
  ASSERT_EQ(document["tags"].size(), 4u);
  EXPECT_EQ(document["tags"][0]["state"], "lapsed");
  EXPECT_EQ(document["tags"][1]["lapses_on"], "2026-12-10");
  EXPECT_EQ(document["tags"][2]["kind"], "new");
  EXPECT_EQ(document["tags"][2]["lapses_on"], "2026-12-11");
  EXPECT_EQ(document["tags"][3]["date"], nullptr);
  EXPECT_EQ(document["tags"][3]["state"], "date format error");

  const struct {
    const char* within;
    std::size_t tags;
  } edges[] = {{"0", 0}, {"1", 0}, {"2", 1}, {"3", 2}};
  for (const auto& edge : edges) {
    const nlohmann::json ahead =
        nlohmann::json::parse(Call({"check", "--json", "--within", edge.within, "DIR"}).out);
    EXPECT_EQ(ahead["tags"].size(), edge.tags) << edge.within;
  }
  EXPECT_EQ(Call({"check", "--within", "2", "DIR"}).out,
            "a.htm:2: expiry 2026-12-09 current\nNext lapse: 2026-12-10\n");
}

// The longest name a page may have gets its copy and its replace like any:
// no temporary name adds characters to it.
TEST_F(CommandsTest, APageOfTheLongestLegalNameIsRunAndReplaced) {
  const std::string longest = std::string(251, 'p') + ".htm";
  Write(dir_ / longest, "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  const Outcome run = Call({"run", "DIR"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Outcome replace = Call({"replace", "DIR"});
  ASSERT_EQ(replace.status, 0) << replace.err;
  EXPECT_EQ(Read(dir_ / longest), "a\n");
}

// The log stays with its run until the last of its pages is in place, and
// then goes up with it: a page held back keeps it in New, and no later
// replace takes it for an earlier run's.
TEST_F(CommandsTest, TheLogWaitsInNewUntilItsLastPageIsInPlace) {
  std::filesystem::create_directories(dir_ / "sub");
  const std::string lapsed = "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n";
  Write(dir_ / "top.htm", lapsed);
  Write(dir_ / "sub" / "deep.htm", lapsed);
  ASSERT_EQ(Call({"run", "--recursive", "DIR"}).status, 0);
  const std::string log = Read(dir_ / "New" / "Log.txt");
  Write(dir_ / "sub" / "deep.htm", lapsed + "edited\n");
  // Without --recursive as with it: the replace takes what its run made.
  Outcome outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Read(dir_ / "top.htm"), "kept\n");
  EXPECT_EQ(Read(dir_ / "New" / "Log.txt"), log);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Log.txt"));
  // The page put back as it was: the second replace finishes, log and all.
  Write(dir_ / "sub" / "deep.htm", lapsed);
  outcome = Call({"run", "--recursive", "DIR"});
  outcome = Call({"replace", "--recursive", "DIR"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Read(dir_ / "sub" / "deep.htm"), "kept\n");
  const std::string both = Read(dir_ / "Log.txt");
  EXPECT_TRUE(both.starts_with(log)) << both;
  EXPECT_NE(both.find((std::filesystem::path("sub") / "deep.htm").string(), log.size()),
            std::string::npos)
      << both;
}

TEST_F(CommandsTest, HelpAndVersion) {
  EXPECT_EQ(Call({"--version"}).out, "lapse-cli 1.4\n");
  const Outcome help = Call({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("replace"), std::string::npos);
}

}  // namespace
}  // namespace lapse::cli
