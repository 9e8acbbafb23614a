#include "cli/commands.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <system_error>
#include <tuple>

#include "messages/messages.h"
#include "pages/gzip.h"
#include "platform/clock.h"
#include "platform/memory_disk.h"
#include "support/cli_call.h"
#include "support/memory_streams.h"
#include "support/temp_dir.h"
#include "support/zone_cases.h"
#include "text/names.h"

namespace lapse::cli {
namespace {

using namespace std::chrono;
using testing_support::TempDirTest;

using testing_support::Outcome;

class CommandsTest : public TempDirTest {
 protected:
  Outcome Call(std::vector<std::string> args) {
    for (auto& arg : args) {
      if (arg == "DIR")
        arg = dir_.string();
    }
    Environment environment = testing_support::TestEnvironment();
    environment.locale.order = localeOrder;
    environment.updated = [this](const UpdateReport& report) { updates.push_back(report); };
    environment.now = [this] { return now; };
    environment.keepIn = keepIn;
    return testing_support::Call(args, environment);
  }

  std::vector<UpdateReport> updates;
  std::optional<std::filesystem::path> keepIn;
  text::DateOrder localeOrder = text::DateOrder::MonthDayYear;
  system_clock::time_point now = sys_days{year{2026} / 12 / 8} + hours{10};
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
  EXPECT_EQ(outcome.err, "bad.htm:1: 'when' is no date\n");
  EXPECT_EQ(outcome.out, "Processed 2 files.\n");
}

// The tool names each page whose date it cannot read with the tag's line
// and text, in the order in which the folder lists its pages whatever thread
// read which, and a named order reads no date in the other.
TEST_F(CommandsTest, RunNamesEveryDateItCannotReadInPageOrder) {
  std::map<std::string, std::string> said;
  for (int page = 0; page < 40; ++page) {
    const std::string name = "p" + std::to_string(100 + page) + ".htm";
    std::string text = std::string(static_cast<std::size_t>(page), '\n');
    const std::string at = name + ":" + std::to_string(page + 1) + ": ";
    if (page % 3 == 0) {
      text += "<!--LAPSE 31/31/26 -->\nx\n<!--ENDL\n";
      said[name] = at + "'31/31/26' is no date\n";
    } else if (page % 3 == 1) {
      text += "<!--LNEW 12/31/99 -->\n";
      said[name] = at + "'12/31/99' is no date\n";
    } else {
      text += "<!--LNEW 31/12/99 -->\n";
    }
    Write(dir_ / name, text);
  }
  std::string expected;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    expected += said[entry.path().filename().string()];
  }
  const Outcome outcome = Call({"run", "--date-order", "dmy", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, expected);
}

TEST_F(CommandsTest, RunThatCannotStartExitsWithTwo) {
  Write(dir_ / "New", "a file in the way");
  const Outcome outcome = Call({"run", "DIR"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "lapse-cli run: Cannot create the folder " + (dir_ / "New").string() +
                             ": a file of that name is in the way.\n");
}

TEST_F(CommandsTest, ReplaceReportsWhatItDid) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "b.htm", "b\n");  // its copy is the page
  Call({"run", "DIR"});
  Outcome outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "Replaced 1 page and moved Log.txt (1 unchanged).\n");
  EXPECT_EQ(Read(dir_ / "a.htm"), "a\n");
  EXPECT_EQ(Read(dir_ / "b.htm"), "b\n");

  outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "lapse-cli replace: There is no folder " + (dir_ / "New").string() +
                             " with copies to replace the files with.\n");
}

TEST_F(CommandsTest, ReplaceHoldsBackAPageEditedAfterTheRun) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Call({"run", "DIR"});
  Write(dir_ / "a.htm", "a, edited after the run\n");
  const Outcome outcome = Call({"replace", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "Replaced 0 pages (1 held back).\n");
  EXPECT_NE(outcome.err.find("a.htm stays in the folder New: its page changed after the run; "
                             "run again.\n"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(Read(dir_ / "a.htm"), "a, edited after the run\n");
}

// A site of thousands of pages gets a line that counts them; what needs the
// user is named whatever else is said, and --verbose names every page too.
struct ReplaceCase {
  std::vector<std::string> options;
  bool editedAfterTheRun = false;
  std::string out;
  friend void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.out; }
};

class ReplaceOutput : public CommandsTest, public testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceOutput, CountsWhatWasReplacedAndNamesWhatWasHeldBack) {
  const std::string lapsed = "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n";
  Write(dir_ / "a.htm", lapsed);
  Write(dir_ / "b.htm", lapsed);
  Write(dir_ / "c.htm", "c\n");  // its copy is the page
  ASSERT_EQ(Call({"run", "DIR"}).status, 0);
  if (GetParam().editedAfterTheRun) {
    Write(dir_ / "b.htm", lapsed + "edited\n");
  }
  std::vector<std::string> args{"replace"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  args.push_back("DIR");
  const Outcome outcome = Call(args);
  EXPECT_EQ(outcome.out, GetParam().out);
  if (GetParam().editedAfterTheRun) {
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("b.htm stays in the folder New: its page changed after the run"),
              std::string::npos)
        << outcome.err;
  } else {
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceOutput,
    testing::Values(
        ReplaceCase{{}, false, "Replaced 2 pages and moved Log.txt (1 unchanged).\n"},
        ReplaceCase{{}, true, "Replaced 1 page (1 unchanged, 1 held back).\n"},
        ReplaceCase{{"--verbose"},
                    false,
                    "Replaced a.htm\nReplaced b.htm\nUnchanged c.htm\nMoved Log.txt\n"
                    "Replaced 2 pages and moved Log.txt (1 unchanged).\n"},
        ReplaceCase{
            {"--verbose"},
            true,
            "Replaced a.htm\nUnchanged c.htm\nReplaced 1 page (1 unchanged, 1 held back).\n"},
        ReplaceCase{{"--quiet"}, true, ""}));

// The counts of a big site, as update gives its own; the log is no page
// held back, whether it waits for the pages held back or stays beside the
// site's own Log.txt.
TEST(ReplaceSummary, CountsInThousandsAndLeavesTheWaitingLogUncounted) {
  struct Case {
    std::size_t replaced;
    std::size_t unchanged;
    bool logMoved;
    bool pageHeldBack;  // and the log with it
    std::string said;
    bool siteHasItsOwnLog = false;  // the log stays in New beside it
  };
  const Case cases[] = {
      {4820, 0, false, true, "Replaced 4,820 pages (1 held back)."},
      {1, 1200, true, false, "Replaced 1 page and moved Log.txt (1,200 unchanged)."},
      {0, 0, false, false, "Replaced 0 pages."},
      {3, 0, false, false, "Replaced 3 pages.", true},
  };
  for (const Case& c : cases) {
    batch::ReplaceResult result;
    result.replaced.assign(c.replaced, "a.htm");
    result.unchanged.assign(c.unchanged, "b.htm");
    if (c.logMoved) {
      result.moved.emplace_back("Log.txt");
    }
    if (c.pageHeldBack) {
      result.left.push_back({"news/a.htm", batch::HeldBack::SourceChanged, {}});
      result.left.push_back({"Log.txt", batch::HeldBack::LogWaits, {}});
    }
    if (c.siteHasItsOwnLog) {
      result.left.push_back({"Log.txt", batch::HeldBack::SiteHasItsOwnLog, {}});
    }
    EXPECT_EQ(messages::ReplaceSummary(result), c.said);
  }
}

// What an undo left is counted in pages: a problem with the kept replace's
// own record, written before any page was put back or after all were, is
// no page.
TEST(UndoSummary, CountsThePagesNotPutBackAndNoRecord) {
  struct Case {
    const char* name;
    std::size_t listed;  // by the kept replace, without those held back
    std::size_t restored;
    std::size_t heldBack;
    bool pageProblem;    // a page that could not be put back
    bool recordProblem;  // the kept replace's record could not be written
    std::string ending;  // none: what a whole undo says
  };
  const Case cases[] = {
      {"every page back", 3, 3, 0, false, false, ""},
      {"every page back, its record not written", 3, 3, 0, false, true, ""},
      {"its record not written first", 3, 0, 0, false, true, " (3 left as they are)."},
      {"a page held back, one not put back", 2, 1, 1, true, false, "(2 left as they are)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    batch::UndoResult result;
    result.paths.sourceDir = "/site";
    result.replace.pages.resize(c.listed);
    result.restored.assign(c.restored, "a.htm");
    result.changed.assign(c.heldBack, "b.htm");
    if (c.pageProblem) {
      result.problems.push_back({"/site/c.htm", std::make_error_code(std::errc::io_error)});
    }
    if (c.recordProblem) {
      result.problems.push_back({"/state/kept/x", std::make_error_code(std::errc::io_error)});
    }
    // The folder's spelling differs on Windows.
    const std::string said = messages::UndoSummary(result);
    if (c.ending.empty()) {
      EXPECT_EQ(said, messages::UndoDone(result));
    } else {
      EXPECT_TRUE(said.ends_with(c.ending)) << said;
    }
  }
}

// Pages saved while the undo works are left as saved: lapse-cli names each
// of them and exits with 1; what it put back it counts, and with --verbose
// names. The pages are on a disk in memory, under the path of the test's
// folder, which the command looks for on the machine's.
TEST_F(CommandsTest, UndoNamesEveryPageSavedWhileItRanAndExitsWithOne) {
  const std::string counted = " (2 left as they are).\n";
  const std::pair<const char*, std::string> cases[] = {
      {nullptr, ""}, {"--verbose", "Put back a.htm\n"}, {"--quiet", ""}};
  for (const auto& [option, named] : cases) {
    SCOPED_TRACE(option != nullptr ? option : "no option");
    platform::MemoryDisk disk;
    for (const char* page : {"a.htm", "b.htm", "c.htm"}) {
      disk.AddFile(dir_ / page, "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
    }
    disk.AddFolder("/state");
    const Environment environment = testing_support::TestEnvironment(disk, "/state");
    const auto call = [&](std::vector<std::string> args) {
      args.push_back(dir_.string());
      return testing_support::Call(args, environment);
    };
    ASSERT_EQ(call({"run"}).status, 0);
    ASSERT_EQ(call({"replace"}).status, 0);
    // Saved by an editor while the undo keeps what it replaces.
    disk.before = [&](const std::string& operation, const std::filesystem::path& name) {
      if (operation == "Link" && name != "a.htm") {
        disk.AddFile(dir_ / name, "saved\n");
      }
    };
    const Outcome outcome = call(option != nullptr ? std::vector<std::string>{"undo", option}
                                                   : std::vector<std::string>{"undo"});
    disk.before = nullptr;
    EXPECT_EQ(outcome.status, 1);
    if (option != nullptr && std::string_view(option) == "--quiet") {
      EXPECT_EQ(outcome.out, "");
    } else {
      EXPECT_TRUE(
          outcome.out.starts_with(named + "Put back 1 page as it was before the replace of "))
          << outcome.out;
      EXPECT_TRUE(outcome.out.ends_with(counted)) << outcome.out;
    }
    EXPECT_EQ(outcome.err,
              "b.htm: changed after the replace; left as it is.\n"
              "c.htm: changed after the replace; left as it is.\n");
    EXPECT_EQ(disk.Content(dir_ / "b.htm"), "saved\n");
    EXPECT_EQ(disk.Content(dir_ / "c.htm"), "saved\n");
  }
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
            shown + ":1: expiry 2026-12-01 lapsed\nNext change: none\n");
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
      "a.htm:5: expiry 2027-03-01 current\n"
      "a.htm:5: expiry block has no <!--ENDL; it runs to the end of the page\n";
  // Sorted by page and line, whatever order the folder lists them in.
  EXPECT_EQ(outcome.out, expected + "b.htm:1: date format error\nNext change: 2027-01-01\n");
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.htm", "b.htm"}));
}

// Show blocks are listed with their state, broken blocks among the tags by
// their lines, and a broken one makes the check end with 1.
TEST_F(CommandsTest, CheckListsShowBlocksAndNamesBrokenBlocks) {
  Write(dir_ / "a.htm",
        "<!--LSHOW 12/08/26\nnow\n-->\n<!--LAPSE 12/31/26\n<!--LSHOW 12/24/26\nlater\n-->\n"
        "<!--ENDL\n");
  const Outcome good = Call({"check", "DIR"});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_EQ(good.out,
            "a.htm:1: show 2026-12-08 due\n"
            "a.htm:4: expiry 2026-12-31 current\n"
            "a.htm:5: show 2026-12-24 hidden\n"
            "Next change: 2026-12-24\n");
  Write(dir_ / "b.htm", "<!--ENDL\n<!--LSHOW 12/24/26\nx -->\n<!--LAPSE 12/31/26\n");
  const Outcome broken = Call({"check", "DIR"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.out.find("b.htm:1: <!--ENDL closes no expiry block\n"
                            "b.htm:2: show 2026-12-24 hidden\n"
                            "b.htm:2: show block holds \"-->\" before its closing line"),
            std::string::npos)
      << broken.out;
  EXPECT_NE(broken.out.find("b.htm:4: expiry block has no <!--ENDL; it runs to the end of the "
                            "page\nNext change"),
            std::string::npos)
      << broken.out;
  const nlohmann::json document = nlohmann::json::parse(Call({"check", "--json", "DIR"}).out);
  EXPECT_EQ(document["tags"][0]["kind"], "show");
  EXPECT_EQ(document["tags"][0]["state"], "due");
  EXPECT_EQ(document["tags"][2]["state"], "hidden");
  EXPECT_EQ(document["next_change"], "2026-12-24");
  EXPECT_EQ(document["broken_blocks"].size(), 3u);
}

// check --json names each page by its bytes, flags a name that is no UTF-8
// and carries it in hex, and gives each page left out a code for scripts.
TEST_F(CommandsTest, CheckJsonNamesPagesAsTheyAreAndCodesWhyOneWasLeftOut) {
  const std::string lapsed = "<!--LAPSE 01/01/20\nx\n<!--ENDL\n";
  Write(dir_ / "bin.htm", std::string("\0\1", 2));
  Write(dir_ / "bad.htm", "<!--LAPSE 31/31/31\nx\n<!--ENDL\n");
#if !defined(_WIN32)
  Write(dir_ / "a\nb.htm", lapsed);
  Write(dir_ / "caf\xE9.htm", lapsed);
#endif
  const nlohmann::json document = nlohmann::json::parse(Call({"check", "--json", "DIR"}).out);
  std::map<std::string, std::string> codes;
  for (const nlohmann::json& page : document["left_out"]) {
    codes[page["file"]] = page["code"];
  }
  EXPECT_EQ(codes, (std::map<std::string, std::string>{{"bin.htm", "binary"}}));
  std::map<std::string, std::string> hex;
  for (const nlohmann::json& tag : document["tags"]) {
    hex[tag["file"]] = tag.contains("file_not_utf8") ? std::string(tag["file_hex"]) : "";
  }
  std::map<std::string, std::string> expected{{"bad.htm", ""}};
#if !defined(_WIN32)
  expected["a\nb.htm"] = "";
  expected["caf\xEF\xBF\xBD.htm"] = "636166e92e68746d";
#endif
  EXPECT_EQ(hex, expected);
}

TEST_F(CommandsTest, FolderNamedOutsideAsciiIsRunAndReplaced) {
  // Arguments arrive as UTF-8 on every platform.
  const auto utf8 = [](std::u8string_view text) { return std::string(text.begin(), text.end()); };
  const std::filesystem::path site = dir_ / u8"Ünïcödé 目录";
  std::filesystem::create_directory(site);
  Write(site / u8"Grüße.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  const Outcome run = Call({"run", utf8(site.u8string())});
  EXPECT_EQ(run.status, 0) << run.err;
  const Outcome replace = Call({"replace", "--verbose", utf8(site.u8string())});
  EXPECT_EQ(replace.status, 0) << replace.err;
  EXPECT_EQ(replace.out, "Replaced " + utf8(u8"Grüße.htm") +
                             "\nMoved Log.txt\nReplaced 1 page and moved Log.txt.\n");
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
        UsageCase{{"update", "--warn-days", "0", "DIR"},
                  "lapse-cli update: --warn-days takes a whole number from 1 to 3660"},
        UsageCase{{"check", "--warn-days", "3", "DIR"}, "lapse-cli check: no option --warn-days"},
        UsageCase{{"run", "--wait", "soon", "DIR"}, "--wait takes a whole number"},
        UsageCase{{}, "lapse-cli: which command?"},
        UsageCase{{"replace"}, "lapse-cli replace: which folder?"},
        UsageCase{{"schedules", "extra"},
                  "lapse-cli schedules: no folder here; schedules lists every scheduled folder"},
        UsageCase{{"undo", "--verbose", "--quiet", "DIR"},
                  "lapse-cli undo: --quiet and --verbose exclude each other"},
        UsageCase{{"--quiet", "run", "DIR"},
                  "lapse-cli: --quiet comes before the command; options go after it: lapse-cli "
                  "run --quiet ..."},
        UsageCase{{"-V"}, "lapse-cli: no option -V; --version names the version"},
        UsageCase{{"--days", "3"}, "lapse-cli: --days is no command; the command comes first"},
        UsageCase{{"run", "--days", "", "DIR"}, "lapse-cli run: an empty argument after --days;"},
        UsageCase{{"check", "--today=", "DIR"},
                  "lapse-cli check: an empty argument after --today;"},
        UsageCase{{"check", ""}, "lapse-cli check: an empty argument after check;"}));

// Every command's --help fits the terminal, names DIR as required and shows
// none of the parser's own words.
TEST_F(CommandsTest, EveryHelpFitsItsWidthInTheProgramsOwnWords) {
  for (const char* command : {"", "run", "replace", "update", "diff", "check", "undo", "replaces",
                              "log", "schedule", "unschedule", "schedules"}) {
    std::vector<std::string> args;
    if (*command != '\0') {
      args.emplace_back(command);
    }
    args.emplace_back("--help");
    const Outcome help = Call(args);
    EXPECT_EQ(help.status, 0) << command;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 80u) << command << ": " << line;
    }
    for (const char* leak : {"[DIR]", "REQUIRED", ":{", "SUBCOMMAND", "Excludes", "Needs"}) {
      EXPECT_EQ(help.out.find(leak), std::string::npos) << command << " shows " << leak;
    }
  }
}

// An option given twice takes its last value, and an empty list of kept
// replaces is an answer, not a failure.
TEST_F(CommandsTest, TheLastValueOfAnOptionWinsAndAnEmptyListIsNoFailure) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/20/26\nsoon\n<!--ENDL\n");
  const Outcome within = Call({"check", "--within", "3", "--within", "30", "DIR"});
  EXPECT_EQ(within.status, 0) << within.err;
  EXPECT_NE(within.out.find("a.htm:2:"), std::string::npos) << within.out;
  keepIn = dir_ / "state";
  const Outcome none = Call({"replaces", "DIR"});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_NE(none.out.find("is kept."), std::string::npos) << none.out;
  const Outcome json = Call({"replaces", "--json", "DIR"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "[]\n");
}

// Output that cannot be written (a full disk, a closed pipe) is a failure,
// said on the error stream, whatever the command did.
TEST_F(CommandsTest, OutputThatCannotBeWrittenEndsWithStatusTwo) {
  Write(dir_ / "a.htm", "a\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"check", "--json", dir_.string()},
        std::vector<std::string>{"--version"}}) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::ostringstream err;
    EXPECT_EQ(RunCommandLine(args, testing_support::TestEnvironment(), out, err), 2)
        << args.front();
    // Said by the command, or by the tool where none was given.
    const std::string who = args.front() == "check" ? "lapse-cli check: " : "lapse-cli: ";
    EXPECT_EQ(err.str().rfind(who + "the output could not be written", 0), 0u) << err.str();
  }
}

// Every command that takes --time-zone takes a zone of the database and
// nothing else: not its tables, which the C library would read as UTC, not a
// path, not an empty name; a refused zone stops the command before it does
// anything.
TEST_F(CommandsTest, EveryCommandTakesOnlyZonesOfTheDatabase) {
  if (!platform::IsZone("Europe/Berlin", platform::ZoneDatabase()) ||
      !platform::IsZone("UTC", platform::ZoneDatabase())) {
    GTEST_SKIP() << "this system has no zone database";
  }
  Write(dir_ / "a.htm", "a\n");
#if defined(_WIN32)
  constexpr bool kZonesByName = false;  // Windows reads the machine's zone only
#else
  constexpr bool kZonesByName = true;
#endif
  for (const char* command : {"run", "update", "check"}) {
    for (const auto& [zone, known] : testing_support::kZoneCases) {
      SCOPED_TRACE(std::string(command) + " --time-zone '" + zone + "'");
      const std::vector<std::string> before = Names(dir_);
      updates.clear();
      const Outcome outcome = Call({command, "--time-zone", zone, "DIR"});
      if (known && kZonesByName) {
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        continue;
      }
      EXPECT_EQ(outcome.status, 2);
      EXPECT_EQ(outcome.err,
                "lapse-cli " + std::string(command) + ": " +
                    (std::string(zone).empty()
                         ? "an empty argument after --time-zone; give a value, or leave the "
                           "option out\n"
                         : "the system knows no time zone '" + std::string(zone) +
                               "'; give a name of the zone database, such as Europe/Berlin or "
                               "UTC.\n"));
      EXPECT_EQ(outcome.out, "");
      EXPECT_EQ(Names(dir_), before);
      EXPECT_TRUE(updates.empty());
    }
  }
}

// Update runs and replaces in one go: a page with a good date is put in
// place, one whose date cannot be read stays as it was and is named, and the
// exit status tells which happened.
TEST_F(CommandsTest, UpdatePutsEveryPageItCanInPlace) {
  Write(dir_ / "good.htm", "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n");
  Write(dir_ / "bad.htm", "<!--LAPSE when\nkept as it is\n");
  Outcome outcome = Call({"update", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "bad.htm:1: 'when' is no date\n");
  EXPECT_EQ(outcome.out, "Updated 1 of 2 pages (1 left as it was).\n");
  EXPECT_EQ(Read(dir_ / "good.htm"), "a\n");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "<!--LAPSE when\nkept as it is\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "New"));
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].rewritten, 1u);
  EXPECT_EQ(updates[0].leftAsTheyWere, std::vector<std::string>{"bad.htm:1: 'when' is no date"});
  EXPECT_EQ(updates[0].status, 1);

  // Nothing to say when all went well, so that cron mails only otherwise.
  Write(dir_ / "bad.htm", "fixed\n<!--LNEW 10/01/26\nnew\n");
  outcome = Call({"update", "--quiet", "DIR"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(Read(dir_ / "bad.htm"), "fixed\n");
}

#if !defined(_WIN32)
// An update changes only the pages that lose lines: every other page keeps
// its bytes, its file, its times; a day on which nothing lapses leaves
// nothing in the site, and --quiet says nothing of what is left as it is by
// design.
TEST_F(CommandsTest, AnUpdateChangesOnlyWhatLapses) {
  struct Seen {
    std::string bytes;
    struct stat info {};
  };
  const auto look = [](const std::filesystem::path& path) {
    Seen seen{Read(path), {}};
    ::stat(path.c_str(), &seen.info);
    return seen;
  };
  for (int page = 0; page < 40; ++page) {
    const bool lapses = page == 7 || page == 23;
    Write(dir_ / ("p" + std::to_string(page) + ".htm"), std::string("<p>\r\n<!--LAPSE ") +
                                                            (lapses ? "12/05/26" : "12/31/26") +
                                                            "\nsale\n<!--ENDL\nlast\n");
  }
  Write(dir_ / "gif.html", "GIF89a\x01\x00");
  testing_support::MakeSymlink(dir_ / "p0.htm", dir_ / "alias.htm");
  std::map<std::string, Seen> before;
  for (int page = 0; page < 40; ++page) {
    const std::string name = "p" + std::to_string(page) + ".htm";
    before[name] = look(dir_ / name);
  }

  Outcome outcome = Call({"update", "--quiet", "--today", "2026-12-01", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out + outcome.err, "");
  outcome = Call({"update", "--today", "2026-12-01", "DIR"});
  EXPECT_EQ(outcome.out, "Nothing lapsed in 41 pages.\n");
  EXPECT_EQ(Names(dir_).size(), 42u);  // no New, no Log.txt
  EXPECT_FALSE(std::filesystem::exists(dir_ / "New"));

  outcome = Call({"update", "--quiet", "DIR"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out + outcome.err, "");
  for (const auto& [name, seen] : before) {
    const Seen now = look(dir_ / name);
    if (name == "p7.htm" || name == "p23.htm") {
      EXPECT_EQ(now.bytes, "<p>\r\nlast\n") << name;  // each line keeps its end
      EXPECT_NE(now.info.st_ino, seen.info.st_ino) << name;
      continue;
    }
    EXPECT_EQ(now.bytes, seen.bytes) << name;
    EXPECT_EQ(now.info.st_ino, seen.info.st_ino) << name;
    EXPECT_EQ(now.info.st_mtim.tv_nsec, seen.info.st_mtim.tv_nsec) << name;
    EXPECT_EQ(now.info.st_ctim.tv_nsec, seen.info.st_ctim.tv_nsec) << name;
  }
  ASSERT_EQ(updates.size(), 3u);
  EXPECT_EQ(updates[0].rewritten, 0u);
  EXPECT_EQ(updates[2].rewritten, 2u);
}
#endif

// What each update removed is kept in the journal, across quiet days, and
// lapse-cli log shows it newest first; a run and replace add theirs too. A
// Log.txt of the site's own is never overwritten or deleted.
TEST_F(CommandsTest, TheJournalKeepsWhatEveryUpdateRemoved) {
  keepIn = dir_ / ".state";
  Write(dir_ / "a.htm", "top\n<!--LAPSE 12/05/26\nsale\n<!--ENDL\nend\n");
  Write(dir_ / "b.htm", "1\n2\n3\n<!--LAPSE 12/20/26\r\nwinter\r\n<!--ENDL\r\n");
  Write(dir_ / "Log.txt", "the author's own\n");
  for (const char* day : {"2026-12-06", "2026-12-07", "2026-12-21"}) {
    const Outcome outcome = Call({"update", "--quiet", "--today", day, "DIR"});
    EXPECT_EQ(outcome.status, 0) << day << outcome.err;
  }
  EXPECT_EQ(Read(dir_ / "Log.txt"), "the author's own\n");
  EXPECT_EQ(Read(dir_ / "b.htm"), "1\n2\n3\n");
  // A replace's lines go to the journal too, and its log waits in New
  // rather than take the place of the author's file.
  Write(dir_ / "c.htm", "<!--LNEW 10/01/26\nnew\n");
  ASSERT_EQ(Call({"run", "DIR"}).status, 0);
  const Outcome replaced = Call({"replace", "DIR"});
  EXPECT_EQ(replaced.status, 1);
  EXPECT_NE(replaced.err.find("Log.txt stays in the folder New: the site has a Log.txt of its own"),
            std::string::npos)
      << replaced.err;
  EXPECT_EQ(Read(dir_ / "Log.txt"), "the author's own\n");
  EXPECT_EQ(Read(dir_ / "c.htm"), "");

  Outcome outcome = Call({"log", "--json", "DIR"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const nlohmann::json blocks = nlohmann::json::parse(outcome.out);
  ASSERT_EQ(blocks.size(), 3u) << outcome.out;
  const std::vector<std::tuple<std::string, int, std::vector<std::string>>> expected = {
      {"c.htm", 1, {"<!--LNEW 10/01/26", "new"}},
      {"b.htm", 4, {"<!--LAPSE 12/20/26", "winter", "<!--ENDL"}},
      {"a.htm", 2, {"<!--LAPSE 12/05/26", "sale", "<!--ENDL"}},
  };
  for (std::size_t index = 0; index < expected.size(); ++index) {
    const auto& [page, line, lines] = expected[index];
    EXPECT_EQ(blocks[index]["page"], page);
    EXPECT_EQ(blocks[index]["line"], line);
    EXPECT_EQ(blocks[index]["lines"], lines);
    EXPECT_EQ(blocks[index]["folder"], text::PathText(std::filesystem::weakly_canonical(dir_)));
  }
  outcome = Call({"log", "DIR"});
  EXPECT_LT(outcome.out.find("  b.htm:4\n    <!--LAPSE 12/20/26\n    winter\n"),
            outcome.out.find("  a.htm:2\n    <!--LAPSE 12/05/26\n    sale\n"))
      << outcome.out;
  outcome = Call({"log", "--since", "2999-01-01", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("Nothing removed from"), std::string::npos) << outcome.err;
}

// update --warn-days names each coming change twice across the days: on the
// first day within, and the day before; --quiet does not silence it, the
// rest of the day's words stay as they were, and a page edited above a tag
// does not bring it back.
struct WarnCase {
  const char* name;
  std::vector<std::string> flags;
  std::vector<int> daysBefore;  // the days an update ran, as days before 2026-12-25
  int editOn = 99;              // a line added at the top of the page that day
  std::string named;            // the lines containing "lapses", day by day
};

class UpdateWarnings : public CommandsTest, public testing::WithParamInterface<WarnCase> {};

TEST_P(UpdateWarnings, NameEachComingChangeOnceAndTheDayBefore) {
  keepIn = dir_ / ".state";
  const std::string page =
      "<p>\n<!--LAPSE 12/24/26 -->\nsale\n<!--ENDL-->\n<!--LNEW 12/01/26\nnew\n";
  Write(dir_ / "news.htm", page);
  std::string named;
  for (const int before : GetParam().daysBefore) {
    if (before == GetParam().editOn) {
      Write(dir_ / "news.htm", "<h1>News</h1>\n" + page);
    }
    const std::string day =
        text::FormatDay(local_days{year{2026} / 12 / 25} - std::chrono::days{before});
    std::vector<std::string> args{"update", "--warn-days", "7", "--today", day};
    args.insert(args.end(), GetParam().flags.begin(), GetParam().flags.end());
    args.push_back("DIR");
    const Outcome outcome = Call(args);
    EXPECT_EQ(outcome.status, 0) << day << outcome.err;
    std::istringstream lines(outcome.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("Nothing lapsed") == std::string::npos) {
        named += day + " " + line + "\n";
      }
    }
  }
  EXPECT_EQ(named, GetParam().named);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateWarnings,
    testing::Values(
        WarnCase{"quiet",
                 {"--quiet"},
                 {10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
                 99,
                 "2026-12-18 news.htm:2: expiry 12/24/26 lapses in 7 days (2026-12-25)\n"
                 "2026-12-24 news.htm:2: expiry 12/24/26 lapses tomorrow (2026-12-25)\n"},
        WarnCase{"firstSeenWithin",
                 {},
                 {3, 2, 1},
                 99,
                 "2026-12-22 news.htm:2: expiry 12/24/26 lapses in 3 days (2026-12-25)\n"
                 "2026-12-24 news.htm:2: expiry 12/24/26 lapses tomorrow (2026-12-25)\n"},
        WarnCase{"editedAbove",
                 {"--quiet"},
                 {7, 6, 5, 4, 3, 2, 1},
                 4,
                 "2026-12-18 news.htm:2: expiry 12/24/26 lapses in 7 days (2026-12-25)\n"
                 "2026-12-24 news.htm:3: expiry 12/24/26 lapses tomorrow (2026-12-25)\n"},
        // The new-content tag is no longer new from 2027-01-01 on. The
        // lines are those of the page as the update leaves it: the expiry
        // block of 3 lines above goes on 2026-12-26, with a log or without.
        WarnCase{"newContent",
                 {"--quiet"},
                 {-1, -2, -3, -4, -5, -6},
                 99,
                 "2026-12-26 news.htm:2: new 12/01/26 is no longer new in 6 days (2027-01-01)\n"
                 "2026-12-31 news.htm:2: new 12/01/26 is no longer new tomorrow (2027-01-01)\n"},
        WarnCase{"newContentWithoutALog",
                 {"--no-log"},
                 {-1, -2},
                 99,
                 "2026-12-26 news.htm:2: new 12/01/26 is no longer new in 6 days (2027-01-01)\n"
                 "2026-12-26 Updated 1 of 1 page.\n"}),
    [](const testing::TestParamInfo<WarnCase>& info) { return info.param.name; });

// A file of warnings that cannot be read repeats a warning, and the update
// goes on as ever.
TEST_F(CommandsTest, ADamagedFileOfWarningsRepeatsAWarningAndFailsNothing) {
  keepIn = dir_ / ".state";
  Write(dir_ / "news.htm", "<!--LAPSE 12/24/26 -->\nsale\n<!--ENDL-->\n");
  const std::vector<std::string> args{"update",  "--quiet",    "--warn-days", "7",
                                      "--today", "2026-12-20", "DIR"};
  EXPECT_EQ(Call(args).out, "news.htm:1: expiry 12/24/26 lapses in 5 days (2026-12-25)\n");
  EXPECT_EQ(Call(args).out, "");
  const std::filesystem::path warned = *keepIn / "warned";
  for (const auto& file : std::filesystem::directory_iterator(warned)) {
    Write(file.path(), std::string("lapse warned 1\n\x01\x02", 17));
  }
  const Outcome outcome = Call(args);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "news.htm:1: expiry 12/24/26 lapses in 5 days (2026-12-25)\n");
  EXPECT_EQ(Call(args).out, "");
}

#if !defined(_WIN32)
// Under a negative line count a lapsed new-content tag takes no line with
// it: the page's copy is the page, and an update leaves the page alone and
// does not count it, day after day; nothing of it is kept or journaled.
TEST_F(CommandsTest, AnUpdateLeavesAPageWhoseCopyIsThePage) {
  keepIn = dir_ / ".state";
  const auto look = [](const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return std::tuple(Read(path), info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                      info.st_ctim.tv_sec, info.st_ctim.tv_nsec);
  };
  Write(dir_ / "a.htm", "<p>\n<!--LNEW 10/01/26\nnew\n");
  Write(dir_ / "b.htm", "<!--LAPSE 12/01/26\nold\n<!--ENDL\nkept\n");
  const auto before = look(dir_ / "a.htm");
  for (const char* day : {"2026-12-08", "2026-12-09"}) {
    SCOPED_TRACE(day);
    const Outcome outcome = Call({"update", "--lines=-1", "--today", day, "DIR"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out,
              std::string("Updated ") + (updates.size() == 1 ? "1" : "0") + " of 2 pages.\n");
    EXPECT_EQ(look(dir_ / "a.htm"), before);
    EXPECT_EQ(Read(dir_ / "b.htm"), "kept\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "New"));
  }
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0].rewritten, 1u);
  EXPECT_EQ(updates[1].rewritten, 0u);
  const Outcome replaces = Call({"replaces", "DIR"});
  // The first day's replace, of b.htm; the second changed nothing and kept nothing.
  EXPECT_EQ(std::count(replaces.out.begin(), replaces.out.end(), '\n'), 1) << replaces.out;
  EXPECT_NE(replaces.out.find("  1 page  "), std::string::npos) << replaces.out;
  const Outcome log = Call({"log", "--json", "DIR"});
  const nlohmann::json blocks = nlohmann::json::parse(log.out);
  ASSERT_EQ(blocks.size(), 1u) << log.out;
  EXPECT_EQ(blocks[0]["page"], "b.htm");
}
#endif

// cron starts update --only-at every quarter hour: it updates in the one
// that the day's update starts in, on the days Berlin's clocks change too,
// and otherwise leaves no trace, not even in the history.
TEST_F(CommandsTest, UpdateOnlyAtUpdatesInTheQuarterHourOfTheDaysStart) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows reads the machine's zone only";
#endif
  if (!platform::IsZone("Europe/Berlin", platform::ZoneDatabase())) {
    GTEST_SKIP() << "this system has no zone database";
  }
  const struct {
    const char* name;
    system_clock::time_point now;
    bool due;
  } cases[] = {
      {"an ordinary day at 02:30", sys_days{year{2027} / 6 / 15} + minutes{30}, true},
      {"an ordinary day at 02:15", sys_days{year{2027} / 6 / 15} + minutes{15}, false},
      {"to summer time, at 01:45", sys_days{year{2027} / 3 / 28} - minutes{15}, false},
      {"to summer time, at 03:00", sys_days{year{2027} / 3 / 28} + hours{1}, true},
      {"to summer time, at 03:30", sys_days{year{2027} / 3 / 28} + minutes{90}, false},
      {"to winter time, at the first 02:30", sys_days{year{2027} / 10 / 31} + minutes{30}, true},
      {"to winter time, at the second 02:30", sys_days{year{2027} / 10 / 31} + minutes{90}, false},
  };
  const std::string page = "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n";
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    Write(dir_ / "a.htm", page);
    updates.clear();
    now = item.now;
    const Outcome outcome =
        Call({"update", "--no-log", "--time-zone", "Europe/Berlin", "--only-at", "02:30", "DIR"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out, item.due ? "Updated 1 of 1 page.\n"
                                    : "Not updated: the update at 02:30 (Europe/Berlin) is not "
                                      "due now.\n");
    EXPECT_EQ(Read(dir_ / "a.htm"), item.due ? "a\n" : page);
    EXPECT_EQ(updates.size(), item.due ? 1u : 0u);
    EXPECT_EQ(Call({"update", "--quiet", "--no-log", "--time-zone", "Europe/Berlin", "--only-at",
                    "02:30", "DIR"})
                  .out,
              "");
  }
  const Outcome bad = Call({"update", "--only-at", "2:30", "DIR"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err,
            "lapse-cli update: --only-at takes a time of day, HH:MM from 00:00 to 23:59; '2:30' "
            "is not one.\n");
}

// The identity of the folder at path, as update --folder-id takes it.
std::string FolderIdOf(const std::filesystem::path& path) {
  platform::Disk& disk = platform::MachineDisk();
  auto folder = disk.OpenFolder(path.native() + std::filesystem::path::string_type(
                                                    1, std::filesystem::path::preferred_separator));
  EXPECT_TRUE(folder) << path;
  const auto status = disk.FolderStatus(**folder);
  EXPECT_TRUE(status) << path;
  return std::to_string(status->stamp.device) + ":" + std::to_string(status->stamp.inode);
}

// A scheduled update names the folder it was scheduled for: a folder put in
// its place under its path (here a link to another user's folder) is left
// as it is, and the refusal goes to the history like any update.
TEST_F(CommandsTest, UpdateWithAFolderIdUpdatesThatFolderOnly) {
  const std::filesystem::path site = dir_ / "site";
  const std::filesystem::path others = dir_ / "others";
  std::filesystem::create_directories(site);
  std::filesystem::create_directories(others);
  const std::string page = "a\n<!--LAPSE 12/01/26\nold\n<!--ENDL\n";
  const std::string scheduled = FolderIdOf(site);
  Write(others / "a.htm", page);

  Write(site / "a.htm", page);
  Outcome outcome = Call({"update", "--quiet", "--folder-id", scheduled, site.string()});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Read(site / "a.htm"), "a\n");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_FALSE(updates[0].notTheScheduledFolder);

  // Another folder in its place (a link there is refused before: the site
  // folder is never opened through a link in its own place).
  std::filesystem::rename(site, dir_ / "site.old");
  const std::string othersId = FolderIdOf(others);
  std::filesystem::rename(others, site);
  const std::string found = FolderIdOf(site);
  EXPECT_EQ(found, othersId);
  Write(site / "a.htm", page);
  const std::vector<std::string> before = Names(site);
  updates.clear();
  outcome = Call({"update", "--quiet", "--folder-id", scheduled, site.string()});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.out, "");
  const std::string sep = testing_support::kSeparator;
  const auto numbers = [](const std::string& id) {
    return "device " + id.substr(0, id.find(':')) + ", file " + id.substr(id.find(':') + 1);
  };
  const std::string said =
      site.string() + sep + " is no longer the folder that was scheduled (it was " +
      numbers(scheduled) + "; now " + found.substr(0, found.find(':')) + ", " +
      found.substr(found.find(':') + 1) + "): nothing was updated. Schedule it again if it moved.";
  EXPECT_EQ(outcome.err, "lapse-cli update: " + said + "\n");
  EXPECT_EQ(Read(site / "a.htm"), page);
  EXPECT_EQ(Names(site), before);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_TRUE(updates[0].notTheScheduledFolder);
  EXPECT_EQ(updates[0].status, 2);
  EXPECT_EQ(updates[0].problem, said);
  EXPECT_EQ(updates[0].rewritten, 0u);

  for (const char* bad : {"", "2049", "2049:", ":1234", "a:b", "-1:5", "1:2:3", "2049 :1234"}) {
    SCOPED_TRACE(bad);
    updates.clear();
    outcome = Call({"update", "--folder-id", bad, site.string()});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err,
              std::string(bad).empty()
                  ? "lapse-cli update: an empty argument after --folder-id; give a value, or "
                    "leave the option out\n"
                  : "lapse-cli update: --folder-id takes DEVICE:INODE, two whole numbers "
                    "such as 2049:1234; '" +
                        std::string(bad) + "' is not one.\n");
    EXPECT_TRUE(updates.empty());
  }
}

TEST_F(CommandsTest, RunQuietSaysNothingUnlessSomethingWentWrong) {
  Write(dir_ / "a.htm", "a\n");
  const Outcome outcome = Call({"run", "--quiet", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out + outcome.err, "");
}

// A date that fits only the other order of day and month than the
// locale's is read so, and check says where; named with --date-order, that
// order alone is read and such a date is an error. The locale here reads day
// first, as a German user's does: the README's example mixes both orders.
TEST_F(CommandsTest, CheckSaysWhereADateWasReadInTheOtherOrder) {
  Write(dir_ / "a.htm",
        "<!--LNEW 12/01/26\nnew\n<!--LAPSE 12/31/26\nold\n<!--ENDL\n<!--LAPSE 31 Dec 26\n"
        "<!--ENDL\n");
  localeOrder = text::DateOrder::DayMonthYear;
  const std::string warning = "a.htm:3: 12/31/26 read as 2026-12-31: day first does not fit\n";
  Outcome outcome = Call({"check", "DIR"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, warning);
  EXPECT_EQ(outcome.out,
            "a.htm:1: new 2026-01-12 lapsed\na.htm:3: expiry 2026-12-31 current\n"
            "a.htm:6: expiry 2026-12-31 current\nNext change: 2027-01-01\n");

  const nlohmann::json document = nlohmann::json::parse(Call({"check", "--json", "DIR"}).out);
  ASSERT_EQ(document["warnings"].size(), 1u);
  EXPECT_EQ(document["warnings"][0]["file"], "a.htm");
  EXPECT_EQ(document["warnings"][0]["line"], 3);
  EXPECT_EQ(document["warnings"][0]["text"], "12/31/26");
  EXPECT_EQ(document["warnings"][0]["date"], "2026-12-31");
  EXPECT_EQ(document["warnings"][0]["message"], warning.substr(0, warning.size() - 1));

  outcome = Call({"check", "--date-order", "dmy", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "");
  EXPECT_NE(outcome.out.find("a.htm:3: date format error\n"), std::string::npos);
  outcome = Call({"run", "--date-order", "dmy", "DIR"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "a.htm:3: '12/31/26' is no date\n");

  // Month first, both dates fit.
  localeOrder = text::DateOrder::MonthDayYear;
  EXPECT_EQ(Call({"check", "DIR"}).err, "");

  const struct {
    text::DateOrder order;
    const char* date;
    const char* warning;
  } orders[] = {
      {text::DateOrder::MonthDayYear, "31/12/26",
       "b.htm:1: 31/12/26 read as 2026-12-31: month first does not fit\n"},
      {text::DateOrder::DayMonthYear, "12/31/26",
       "b.htm:1: 12/31/26 read as 2026-12-31: day first does not fit\n"},
      {text::DateOrder::YearMonthDay, "26/31/12",
       "b.htm:1: 26/31/12 read as 2026-12-31: year first does not fit\n"},
  };
  std::filesystem::remove(dir_ / "a.htm");
  for (const auto& order : orders) {
    Write(dir_ / "b.htm", std::string("<!--LAPSE ") + order.date + " -->\n");
    localeOrder = order.order;
    EXPECT_EQ(Call({"check", "DIR"}).err, order.warning);
  }
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
            "a.htm:1: expiry block has no <!--ENDL; it runs to the end of the page\n"
            "a.htm:2: expiry 2026-12-09 current\nNext change: 2026-12-10\n");
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
  // The page put back as it was: the second replace finishes, log and all,
  // however many runs came between.
  Write(dir_ / "sub" / "deep.htm", lapsed);
  outcome = Call({"run", "--recursive", "DIR"});
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
