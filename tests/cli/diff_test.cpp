// lapse-cli diff and check --exit-code: the diff, applied by the real patch
// to a copy of the site, must make the pages the update makes on that day.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "pages/gzip.h"
#include "platform/clock.h"
#include "support/cli_call.h"
#include "support/memory_streams.h"
#include "support/temp_dir.h"

namespace lapse::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing_support::TempDirTest;

using testing_support::Outcome;

// Every file below a folder, by its path below it, with its bytes.
using Tree = std::map<std::string, std::string>;

class DiffTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    site_ = dir_ / "site";
    fs::create_directories(site_);
  }

  Outcome Call(std::vector<std::string> args) {
    for (auto& arg : args) {
      if (arg == "SITE")
        arg = site_.string();
    }
    cli::Environment environment = testing_support::TestEnvironment();
    environment.keepIn = dir_ / "state";
    return testing_support::Call(args, environment);
  }

  void Put(const Tree& pages) {
    for (const auto& [name, text] : pages) {
      fs::create_directories((site_ / name).parent_path());
      Write(site_ / name, text);
    }
  }

  static Tree Snapshot(const fs::path& top) {
    Tree tree;
    if (!fs::exists(top)) {
      return tree;
    }
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
      const std::string name = fs::relative(entry.path(), top).generic_string();
      tree[name] = entry.is_regular_file() ? Read(entry.path()) : "(folder)";
    }
    return tree;
  }

  fs::path site_;
};

std::string Gzip(std::string_view text) {
  testing_support::MemorySink out;
  pages::GzipSink gzip(out);
  gzip.Write(text);
  gzip.Finish();
  return out.text;
}

// UTF-16 little-endian behind its mark, for ASCII text.
std::string Utf16(std::string_view text) {
  std::string wide = "\xFF\xFE";
  for (const char c : text) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

const std::string kBlock = "<!--LAPSE 12/01/26\nold\n<!--ENDL\n";
const std::string kCrLfBlock = "<!--LAPSE 12/01/26\r\nold\r\n<!--ENDL\r\n";

TEST_F(DiffTest, ShowsTheRemovedLinesWithThreeLinesOfContext) {
  Put({{"news.htm", "a\nb\nc\nd\n" + kBlock + "e\n"}, {"same.htm", "nothing lapses\n"}});
  const Outcome diff = Call({"diff", "SITE"});
  EXPECT_EQ(diff.status, 0);
  EXPECT_EQ(diff.err, "");
  EXPECT_EQ(diff.out,
            "--- a/news.htm\n"
            "+++ b/news.htm\n"
            "@@ -2,7 +2,4 @@\n"
            " b\n"
            " c\n"
            " d\n"
            "-<!--LAPSE 12/01/26\n"
            "-old\n"
            "-<!--ENDL\n"
            " e\n");
  EXPECT_EQ(Call({"diff", "--today", "2026-11-30", "SITE"}).out, "");
}

// A lone CR ends a line for the rewriter, which writes CR LF in its place:
// the diff's line that holds it changes, and the lines after it do not.
TEST_F(DiffTest, ALineWhoseEndChangesIsTakenOutAndPutBack) {
  Put({{"p.htm", "x\ry\nz\n" + kBlock}});
  EXPECT_EQ(Call({"diff", "SITE"}).out,
            "--- a/p.htm\n"
            "+++ b/p.htm\n"
            "@@ -1,5 +1,3 @@\n"
            "-x\ry\n"
            "+x\r\n"
            "+y\n"
            " z\n"
            "-<!--LAPSE 12/01/26\n"
            "-old\n"
            "-<!--ENDL\n");
}

#if !defined(_WIN32)
// patch -p1 in a copy of the site takes it to what the update leaves.
struct PatchCase {
  const char* name;
  Tree pages;
  std::size_t hunks;  // in the whole diff
};

class DiffPatchTest : public DiffTest, public testing::WithParamInterface<PatchCase> {};

TEST_P(DiffPatchTest, PatchMakesWhatTheUpdateMakes) {
  const PatchCase& row = GetParam();
  Put(row.pages);
  const Tree before = Snapshot(dir_);
  const Outcome diff = Call({"diff", "--recursive", "--today", "2026-12-08", "SITE"});
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_EQ(diff.err, "");
  // Nothing written: not in the site, not in the state folder.
  EXPECT_EQ(Snapshot(dir_), before);
  std::size_t hunks = 0;
  for (std::size_t at = diff.out.find("\n@@ "); at != std::string::npos;
       at = diff.out.find("\n@@ ", at + 1)) {
    ++hunks;
  }
  hunks += diff.out.starts_with("@@ ") ? 1 : 0;
  EXPECT_EQ(hunks, row.hunks) << diff.out;

  const fs::path patched = dir_ / "patched";
  fs::copy(site_, patched, fs::copy_options::recursive);
  Write(dir_ / "site.diff", diff.out);
  // No patch program fails the test: the package list installs it.
  const std::string command =
      "patch -p1 -s -d '" + patched.string() + "' -i '" + (dir_ / "site.diff").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << diff.out;

  const Outcome update = Call({"update", "--recursive", "--no-log", "SITE"});
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_EQ(Snapshot(patched), Snapshot(site_)) << diff.out;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DiffPatchTest,
    testing::Values(
        PatchCase{"Lf", {{"a.htm", "1\n2\n" + kBlock + "3\n4\n5\n6\n"}}, 1},
        PatchCase{
            "CrLf", {{"a.htm", "1\r\n2\r\n3\r\n4\r\n" + kCrLfBlock + "5\r\n6\r\n7\r\n8\r\n"}}, 1},
        PatchCase{"BlockAtTheTop", {{"a.htm", kBlock + "1\n2\n3\n4\n5\n"}}, 1},
        PatchCase{"BlockAtTheBottom", {{"a.htm", "1\n2\n3\n4\n5\n" + kBlock}}, 1},
        PatchCase{"WholePage", {{"a.htm", kBlock}}, 1},
        // The last line kept gets the CR LF the rewriter ends it with.
        PatchCase{
            "NoFinalLineEndKept", {{"a.htm", "1\n" + kBlock + "2\n3\n4\n5\n6\n7\n8\nlast"}}, 2},
        PatchCase{
            "NoFinalLineEndRemoved", {{"a.htm", "1\n2\n<!--LAPSE 12/01/26\nold\n<!--ENDL"}}, 1},
        // Six lines between two changes join their hunks; seven part them.
        PatchCase{
            "TwoBlocksSixApart", {{"a.htm", kBlock + "1\n2\n3\n4\n5\n6\n" + kBlock + "z\n"}}, 1},
        PatchCase{"TwoBlocksSevenApart",
                  {{"a.htm", kBlock + "1\n2\n3\n4\n5\n6\n7\n" + kBlock + "z\n"}},
                  2},
        PatchCase{"ShowBlockDue",
                  {{"a.htm", "1\n2\n3\n4\n<!--LSHOW 12/01/26\n<p>shown</p>\n-->\n5\n6\n7\n8\n"}},
                  1},
        PatchCase{"NewTagLapsed", {{"a.htm", "1\n<!--LNEW 10/01/26\n<img src=new.gif>\n2\n"}}, 1},
        // A lone CR ends a line for the rewriter, not for patch.
        PatchCase{"LoneCr", {{"a.htm", "1\r<!--LAPSE 12/01/26\rold\r<!--ENDL\r2\r"}}, 1},
        PatchCase{
            "Utf8MarkOnARemovedLine",
            {{"a.htm", "\xEF\xBB\xBF" + kBlock + "1\n2\n"}, {"b.htm", "\xEF\xBB\xBF" + kBlock}},
            2},
        PatchCase{"SubfoldersAndBlanks",
                  {{"top.htm", kBlock + "t\n"},
                   {"my page.htm", kBlock + "m\n"},
                   {"sub/dir/deep.htm", "d\n" + kBlock},
                   {"sub/same.htm", "s\n"}},
                  3}),
    [](const testing::TestParamInfo<PatchCase>& info) { return std::string(info.param.name); });
#endif

// Pages patch cannot take as text are named as git names them, and still
// counted; the stat counts lines as git diff --stat does.
TEST_F(DiffTest, StatCountsEveryPageAndNamesBinaryPages) {
  Put({{"news.htm", "a\n" + kBlock + "b\n"},
       {"old.htm", "<!--LNEW 10/01/26\nnew\nkept\n"},
       {"page.html.gz", Gzip(kBlock + "kept\n")},
       {"wide.htm", Utf16("<!--LAPSE 12/01/26\r\nold\r\n<!--ENDL\r\nkept\r\n")},
       {"tail.htm", "<!--LNEW 10/01/26\nnew\nlast"}});
  const Outcome stat = Call({"diff", "--stat", "SITE"});
  EXPECT_EQ(stat.status, 0);
  EXPECT_EQ(stat.err, "");
  EXPECT_EQ(stat.out,
            " news.htm     | 3 ---\n"
            " old.htm      | 2 --\n"
            " page.html.gz | 3 ---\n"
            " tail.htm     | 4 +---\n"
            " wide.htm     | 3 ---\n"
            " 5 files changed, 1 insertion(+), 14 deletions(-)\n");
  const Outcome diff = Call({"diff", "SITE"});
  EXPECT_NE(diff.out.find("Binary files a/page.html.gz and b/page.html.gz differ\n"),
            std::string::npos)
      << diff.out;
  EXPECT_NE(diff.out.find("Binary files a/wide.htm and b/wide.htm differ\n"), std::string::npos)
      << diff.out;
  EXPECT_NE(diff.out.find("-last\n\\ No newline at end of file\n+last\r\n"), std::string::npos)
      << diff.out;
  EXPECT_EQ(Call({"diff", "--stat", "--today", "2026-09-01", "SITE"}).out, "");
}

TEST_F(DiffTest, ALongStatBarIsScaledToTheLine) {
  std::string many;
  for (int line = 0; line < 200; ++line) {
    many += "x\n";
  }
  Put({{"big.htm", "<!--LAPSE 12/01/26\n" + many + "<!--ENDL\n"}, {"small.htm", kBlock}});
  const Outcome stat = Call({"diff", "--stat", "SITE"});
  std::istringstream lines(stat.out);
  std::string line;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 79u) << line;
  }
  EXPECT_NE(stat.out.find(" big.htm   | 202 -"), std::string::npos) << stat.out;
  EXPECT_NE(stat.out.find(" small.htm |   3 -\n"), std::string::npos) << stat.out;
}

struct LeftOutCase {
  const char* name;
  std::string page;
  int status;
  std::string err;
};

class DiffLeftOutTest : public DiffTest, public testing::WithParamInterface<LeftOutCase> {};

// The pages the update would leave out are named as it names them, and
// have no diff.
TEST_P(DiffLeftOutTest, NamesThePageAsTheUpdateDoes) {
  const LeftOutCase& row = GetParam();
  Put({{"p.htm", row.page}, {"good.htm", kBlock + "g\n"}});
  const Outcome diff = Call({"diff", "SITE"});
  EXPECT_EQ(diff.status, row.status);
  EXPECT_EQ(diff.err, row.err);
  EXPECT_EQ(diff.out.find("p.htm"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("+++ b/good.htm"), std::string::npos) << diff.out;
  const Outcome update = Call({"update", "SITE"});
  EXPECT_EQ(update.status, row.status);
  EXPECT_EQ(update.err, row.err);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DiffLeftOutTest,
    testing::Values(
        LeftOutCase{"DateFormatError", "x\n<!--LAPSE when\n", 1, "p.htm:2: 'when' is no date\n"},
        LeftOutCase{"BrokenShowBlock", "<!--LSHOW 12/01/26\nx\n", 1,
                    "p.htm:1: show block has no closing line \"-->\". The page is left "
                    "as it is.\n"},
        LeftOutCase{"Image", "\x89PNG\r\n\x1A\nrest", 0, "p.htm: an image, left as it is\n"}),
    [](const testing::TestParamInfo<LeftOutCase>& info) { return std::string(info.param.name); });

TEST_F(DiffTest, ABadCommandLineOrFolderExitsWithTwo) {
  EXPECT_EQ(Call({"diff", (dir_ / "missing").string()}).status, 2);
  EXPECT_EQ(Call({"diff", "--today", "tomorrow", "SITE"}).status, 2);
  EXPECT_EQ(Call({"diff", "--wait", "3", "SITE"}).status, 2);
  std::vector<std::string> all{"diff",     "--days",       "3",   "--lines", "2",
                               "--no-log", "--date-order", "dmy", "--quiet", "SITE"};
#if !defined(_WIN32)
  // Windows takes today in the machine's own zone only.
  all.insert(all.end() - 1, {"--time-zone", "UTC"});
#endif
  EXPECT_EQ(Call(all).status, 0);
}

struct ExitCodeCase {
  const char* name;
  std::string page;
  int plain;     // check
  int exitCode;  // check --exit-code
};

class CheckExitCodeTest : public DiffTest, public testing::WithParamInterface<ExitCodeCase> {};

TEST_P(CheckExitCodeTest, SaysWhetherARunTodayChangesAPage) {
  const ExitCodeCase& row = GetParam();
  Put({{"p.htm", row.page}, {"current.htm", "<!--LAPSE 12/31/26\nstill\n<!--ENDL\n"}});
  EXPECT_EQ(Call({"check", "SITE"}).status, row.plain);
  EXPECT_EQ(Call({"check", "--exit-code", "SITE"}).status, row.exitCode);
  EXPECT_EQ(Call({"check", "--exit-code", "--json", "SITE"}).status, row.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CheckExitCodeTest,
    testing::Values(ExitCodeCase{"NothingLapsed", "plain\n", 0, 0},
                    ExitCodeCase{"ExpiryLapsed", kBlock, 0, 1},
                    ExitCodeCase{"NewTagLapsed", "<!--LNEW 10/01/26\nx\n", 0, 1},
                    ExitCodeCase{"NewTagStillNew", "<!--LNEW 12/01/26\nx\n", 0, 0},
                    ExitCodeCase{"ShowBlockDue", "<!--LSHOW 12/01/26\nx\n-->\n", 0, 1},
                    ExitCodeCase{"ShowBlockHidden", "<!--LSHOW 12/31/26\nx\n-->\n", 0, 0},
                    ExitCodeCase{"DateFormatError", "<!--LAPSE when\n", 1, 1},
                    ExitCodeCase{"BrokenShowBlock", "<!--LSHOW 12/01/26\nx\n", 1, 1}),
    [](const testing::TestParamInfo<ExitCodeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lapse::cli
