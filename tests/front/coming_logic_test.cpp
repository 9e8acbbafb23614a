#include "front/coming_logic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "pages/gzip.h"
#include "platform/memory_disk.h"
#include "support/memory_streams.h"
#include "text/date.h"
#include "text/names.h"

namespace lapse::front {
namespace {

namespace fs = std::filesystem;
using std::chrono::day;
using std::chrono::local_days;
using std::chrono::month;
using std::chrono::year;

constexpr text::Today kToday = local_days{year{2026} / 12 / 8};

text::Today Day(int m, int d) {
  return local_days{year{2026} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}};
}

ComingSettings Settings(bool subfolders = true) {
  ComingSettings settings;
  settings.locale = text::EnglishDateLocale();
  settings.subfolders = subfolders;
  return settings;
}

// One expiry block that lapses in three days, a new tag, a show block due
// today and an expiry block that lapsed a week ago but still stands.
constexpr const char* kPage =
    "<p>top</p>\n"               // 1
    "<!--LAPSE 12/10/26\n"       // 2
    "\n"                         // 3
    "  <p>Sale ends soon</p>\n"  // 4
    "<!--ENDL\n"                 // 5
    "<!--LNEW 11/20/26\n"        // 6
    "<img src=\"new.gif\">\n"    // 7
    "<!--LSHOW 12/08/26\n"       // 8
    "<p>Now open</p>\n"          // 9
    "-->\n"                      // 10
    "<!--LAPSE 12/01/26\n"       // 11
    "<p>old</p>\n"               // 12
    "<!--ENDL\n";                // 13

class ComingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_.AddFile("/site/a.htm", kPage);
    disk_.AddFile("/site/bad.htm", "<!--LAPSE when\n<p>x</p>\n");
    disk_.AddFile("/site/b.htm", "<!--LSHOW 12/20/26\nhidden\n");
    disk_.AddFile("/site/sub/deep.htm", "<!--LAPSE 12/09/26\r\n\r\n\tDeep\r\n");
    disk_.AddFile("/site/plain.htm", "<p>no tags</p>\n");
  }

  platform::MemoryDisk disk_;
};

struct RowSeen {
  std::string page;
  std::uint64_t line;
  std::string in;
  std::string kind;
  std::string content;
  bool operator==(const RowSeen&) const = default;
  friend void PrintTo(const RowSeen& row, std::ostream* out) {
    *out << row.page << ":" << row.line << " " << row.in << " " << row.kind << " " << row.content;
  }
};

std::vector<RowSeen> Seen(const ComingList& list) {
  std::vector<RowSeen> seen;
  for (const ComingRow& row : list.rows) {
    seen.push_back({ComingCell(row, 2, kToday), row.line, ComingCell(row, 1, kToday),
                    ComingCell(row, 4, kToday), ComingCell(row, 5, kToday)});
  }
  return seen;
}

TEST_F(ComingTest, RowsComeFaultsFirstThenByDayPageAndLine) {
  const ComingList list = ListComing(disk_, "/site", Settings(), kToday);
  ASSERT_FALSE(list.folderError);
  const std::vector<RowSeen> expected{
      {"b.htm", 1, "broken: no closing -->", "show", "hidden"},
      {"bad.htm", 1, "broken: no <!--ENDL", "expiry", "<p>x</p>"},
      {"bad.htm", 1, "date format error", "expiry", "<p>x</p>"},
      // In the separator of the system, as the file list shows names.
      {text::DisplayName(fs::path("sub") / "deep.htm"), 1, "broken: no <!--ENDL", "expiry", "Deep"},
      {"a.htm", 11, "6 days ago", "expiry", "<p>old</p>"},
      {"a.htm", 8, "today", "show", "<p>Now open</p>"},
      {"a.htm", 2, "in 3 days", "expiry", "<p>Sale ends soon</p>"},
      {"a.htm", 6, "in 13 days", "new", "<img src=\"new.gif\">"},
  };
  EXPECT_EQ(Seen(list), expected);
  EXPECT_EQ(list.rows[4].day, Day(12, 2));
  EXPECT_EQ(ComingCell(list.rows[4], 0, kToday), "2026-12-02");
  // A date that cannot be read shows what stands in its place.
  EXPECT_EQ(ComingCell(list.rows[2], 0, kToday), "when");
}

TEST_F(ComingTest, WithoutSubfoldersTheFolderAloneIsListed) {
  const ComingList list = ListComing(disk_, "/site", Settings(false), kToday);
  for (const ComingRow& row : list.rows) {
    EXPECT_EQ(row.page.parent_path(), fs::path()) << row.page;
  }
  EXPECT_EQ(list.rows.size(), 7U);
}

TEST_F(ComingTest, TheOptionsDaysMoveANewTagsDay) {
  ComingSettings settings = Settings(false);
  settings.newDays = 5;
  const ComingList list = ListComing(disk_, "/site", settings, kToday);
  const auto tag = std::find_if(list.rows.begin(), list.rows.end(),
                                [](const ComingRow& row) { return row.kind == ComingKind::New; });
  ASSERT_NE(tag, list.rows.end());
  EXPECT_EQ(tag->day, Day(11, 26));
  EXPECT_EQ(ComingCell(*tag, 1, kToday), "12 days ago");
}

TEST_F(ComingTest, AFolderThatCannotBeReadSaysSo) {
  const ComingList list = ListComing(disk_, "/nowhere", Settings(), kToday);
  EXPECT_TRUE(list.folderError);
  EXPECT_TRUE(list.rows.empty());
  EXPECT_NE(NoRowsText(list, "/nowhere").find("Cannot read"), std::string::npos);
  EXPECT_EQ(NoRowsText(ListComing(disk_, "/site", Settings(), kToday), "/site"), "");
}

TEST(ComingContentTest, LongContentIsShortenedBetweenCharacters) {
  platform::MemoryDisk disk;
  const std::string word = "\xC3\xA9t\xC3\xA9";  // "été": five bytes, three characters
  std::string line;
  for (int i = 0; i < 30; ++i) {
    line += word;
  }
  disk.AddFile("/site/a.htm", "<!--LAPSE 12/10/26\n   " + line + "   \n<!--ENDL\n");
  const ComingList list = ListComing(disk, "/site", Settings(), kToday);
  ASSERT_EQ(list.rows.size(), 1U);
  // 60 characters: twenty words, then the mark of the cut.
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    expected += word;
  }
  EXPECT_EQ(list.rows[0].content, expected + "...");
}

TEST(InDaysTest, SaysHowFarTheDayIs) {
  const struct {
    int offset;
    const char* text;
  } cases[] = {
      {0, "today"},         {1, "tomorrow"},   {2, "in 2 days"},   {3, "in 3 days"},
      {400, "in 400 days"}, {-1, "yesterday"}, {-2, "2 days ago"},
  };
  for (const auto& item : cases) {
    EXPECT_EQ(InDays(kToday + std::chrono::days{item.offset}, kToday), item.text) << item.offset;
  }
}

std::string Marks(const Preview& preview) {
  std::string marks;
  for (const PreviewLine& line : preview.lines) {
    marks += line.mark == PreviewMark::Kept ? '.' : line.mark == PreviewMark::Goes ? 'x' : '+';
  }
  return marks;
}

TEST_F(ComingTest, PreviewMarksWhatGoesAndAppearsOnTheDay) {
  const struct {
    text::Today day;
    const char* marks;  // one per line: kept '.', goes 'x', appears '+'
  } cases[] = {
      {Day(11, 1), "............."},   // before any tag: nothing changes
      {kToday, ".......x+xxxx"},       // the show block due, the old block still standing
      {Day(12, 11), ".xxxx..x+xxxx"},  // the sale block lapsed too
      {Day(12, 21), ".xxxxxxx+xxxx"},  // and the new tag with its line
  };
  for (const auto& item : cases) {
    const Preview preview = PreviewPage(disk_, "/site", "a.htm", Settings(), item.day);
    EXPECT_EQ(preview.end, PreviewEnd::Shown);
    EXPECT_FALSE(preview.cut);
    EXPECT_EQ(Marks(preview), item.marks) << text::FormatDay(item.day);
  }
  const Preview preview = PreviewPage(disk_, "/site", "a.htm", Settings(), kToday);
  ASSERT_EQ(preview.lines.size(), 13U);
  EXPECT_EQ(preview.lines[8], (PreviewLine{9, PreviewMark::Appears, "<p>Now open</p>"}));
  EXPECT_EQ(preview.lines[2], (PreviewLine{3, PreviewMark::Kept, ""}));
}

TEST_F(ComingTest, PreviewOfAPageTheRunLeavesKeepsEveryLine) {
  const struct {
    const char* page;
    PreviewEnd end;
    std::size_t lines;
  } cases[] = {
      {"bad.htm", PreviewEnd::DateFormatError, 2},
      {"b.htm", PreviewEnd::BrokenBlock, 2},
      {"missing.htm", PreviewEnd::Unreadable, 0},
  };
  for (const auto& item : cases) {
    const Preview preview = PreviewPage(disk_, "/site", item.page, Settings(), Day(12, 31));
    EXPECT_EQ(preview.end, item.end) << item.page;
    EXPECT_EQ(preview.lines.size(), item.lines) << item.page;
    EXPECT_EQ(Marks(preview), std::string(item.lines, '.')) << item.page;
    EXPECT_FALSE(PreviewNote(preview).empty()) << item.page;
  }
  // An expiry block without its end tag takes the rest of the page.
  const Preview deep = PreviewPage(disk_, "/site", "sub/deep.htm", Settings(), Day(12, 31));
  EXPECT_EQ(deep.end, PreviewEnd::Shown);
  EXPECT_EQ(Marks(deep), "xxx");
  EXPECT_EQ(deep.lines[2].text, "\tDeep");
}

std::string Utf16LittleEndian(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

std::string Gzipped(const std::string& text) {
  testing_support::MemorySink sink;
  pages::GzipSink gzip(sink);
  EXPECT_TRUE(gzip.Write(text));
  EXPECT_TRUE(gzip.Finish());
  return sink.text;
}

TEST(ComingPagesTest, UnicodeAndGzipPagesAreReadThroughTheirLayers) {
  const std::string page = "<!--LSHOW 12/08/26\nshown\n-->\n<!--LAPSE 12/20/26\nsale\n<!--ENDL\n";
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"utf16.htm", Utf16LittleEndian(page)},
      {"zipped.htm.gz", Gzipped(page)},
  };
  for (const auto& item : cases) {
    platform::MemoryDisk disk;
    disk.AddFile(std::string("/site/") + item.name, item.bytes);
    const ComingList list = ListComing(disk, "/site", Settings(), kToday);
    ASSERT_EQ(list.rows.size(), 2U) << item.name;
    EXPECT_EQ(list.rows[0].content, "shown") << item.name;
    EXPECT_EQ(list.rows[1].content, "sale") << item.name;
    const Preview preview = PreviewPage(disk, "/site", item.name, Settings(), Day(12, 21));
    EXPECT_EQ(Marks(preview), "x+xxxx") << item.name;
    EXPECT_EQ(preview.lines[1].text, "shown") << item.name;
  }
}

TEST_F(ComingTest, LogicFollowsTheSelectionAndTheDay) {
  ComingLogic logic(disk_, "/site", Settings(), kToday);
  logic.Load();
  EXPECT_EQ(logic.LookAt(), kToday);
  EXPECT_FALSE(logic.Shown());
  EXPECT_FALSE(logic.SelectedFile());

  logic.Select(6);  // a.htm, line 2
  ASSERT_TRUE(logic.Shown());
  EXPECT_EQ(Marks(*logic.Shown()), ".......x+xxxx");
  EXPECT_EQ(logic.SelectedFile(), fs::path("/site/a.htm"));
  EXPECT_EQ(logic.SelectedLine(), 2U);

  logic.LookAt(Day(12, 11));
  EXPECT_EQ(Marks(*logic.Shown()), ".xxxx..x+xxxx");

  logic.Select(logic.List().rows.size());  // past the last row: none
  EXPECT_FALSE(logic.Shown());
  EXPECT_FALSE(logic.SelectedFile());

  logic.Select(0);
  logic.Load();  // read again: the selection goes, the day stays
  EXPECT_FALSE(logic.Selected());
  EXPECT_EQ(logic.LookAt(), Day(12, 11));
}

TEST(EditorAtLineTest, TellsEditorsThatTakeALineWhereToOpen) {
  const fs::path file = "/site/a b.htm";
  const struct {
    const char* editor;
    const char* terminal;
    std::optional<std::vector<std::string>> command;  // program first
  } cases[] = {
      {"gedit", "", {{"gedit", "+12", "/site/a b.htm"}}},
      {"/usr/bin/gvim -f", "", {{"/usr/bin/gvim", "-f", "+12", "/site/a b.htm"}}},
      {"kate", "", {{"kate", "--line", "12", "/site/a b.htm"}}},
      {"code --wait", "", {{"code", "--wait", "-g", "/site/a b.htm:12"}}},
      {"vim",
       "x-terminal-emulator",
       {{"x-terminal-emulator", "-e", "vim", "+12", "/site/a b.htm"}}},
      {"emacs -nw", "xterm", {{"xterm", "-e", "emacs", "-nw", "+12", "/site/a b.htm"}}},
      {"micro", "xterm", {{"xterm", "-e", "micro", "/site/a b.htm:12"}}},
      // A terminal editor without a terminal, an editor not known to take a
      // line, and none at all: the file is opened as the log is.
      {"nano", "", std::nullopt},
      {"emacs -nw", "", std::nullopt},
      {"mousepad", "xterm", std::nullopt},
      {"", "xterm", std::nullopt},
      {"   ", "xterm", std::nullopt},
  };
  for (const auto& item : cases) {
    const std::optional<EditorCommand> command = EditorAtLine(item.editor, item.terminal, file, 12);
    ASSERT_EQ(command.has_value(), item.command.has_value()) << item.editor;
    if (!command) {
      continue;
    }
    std::vector<std::string> seen{command->program};
    seen.insert(seen.end(), command->arguments.begin(), command->arguments.end());
    EXPECT_EQ(seen, *item.command) << item.editor;
    EXPECT_TRUE(command->atLine);
  }
}

TEST(ComingTextTest, BothFacesShowTheSameWords) {
  std::vector<std::string> headings;
  for (std::size_t column = 0; column < kComingColumns; ++column) {
    headings.push_back(ComingColumnHeading(column));
  }
  EXPECT_EQ(headings, (std::vector<std::string>{"Day", "In", "Page", "Line", "Kind", "Content"}));
  EXPECT_EQ(OnDayHeading(kToday), "On 2026-12-08");
  EXPECT_EQ(MarkName(PreviewMark::Appears), "appears");
  EXPECT_EQ(KindName(ComingKind::New), "new");
}

}  // namespace
}  // namespace lapse::front
