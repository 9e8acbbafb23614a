#include "batch/warned_tags.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "platform/disk.h"
#include "support/temp_dir.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using std::chrono::days;

const text::Today kDay = std::chrono::local_days{std::chrono::year{2026} / 12 / 25};

FoundTag Coming(const char* page, std::uint64_t line, const char* date = "12/24/26",
                text::Today day = kDay, text::DatedTagKind kind = text::DatedTagKind::Expiry) {
  FoundTag tag;
  tag.page = page;
  tag.line = line;
  tag.kind = kind;
  tag.date = text::TagDate{std::chrono::local_days{std::chrono::year{2026} / 12 / 24}};
  tag.lapseDay = day;
  tag.dateText = date;
  return tag;
}

// The days before kDay on which a tag was named, running daily from the
// first day given down to the day before it changes.
struct DaysCase {
  const char* name;
  int warnDays;
  std::vector<int> daysBefore;  // the days an update ran, as days before kDay
  std::vector<int> named;
  friend void PrintTo(const DaysCase& c, std::ostream* os) { *os << c.name; }
};

class WarnedDays : public testing::TestWithParam<DaysCase> {};

TEST_P(WarnedDays, ATagIsNamedOnTheFirstDayWithinAndOnTheDayBefore) {
  WarnedTags warned;
  std::vector<int> named;
  for (const int before : GetParam().daysBefore) {
    const std::vector<FoundTag> tags{Coming("news.htm", 12)};
    const std::vector<ComingChange> due =
        warned.Due(tags, kDay - days{before}, GetParam().warnDays);
    for (const ComingChange& change : due) {
      EXPECT_EQ(change.daysLeft, before);
      EXPECT_EQ(change.line, 12u);
      named.push_back(before);
    }
    // What was said survives the file between days.
    std::optional<WarnedTags> read = WarnedTags::Parse(warned.Format());
    ASSERT_TRUE(read.has_value());
    warned = std::move(*read);
  }
  EXPECT_EQ(named, GetParam().named);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WarnedDays,
    testing::Values(DaysCase{"daily", 7, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, {7, 1}},
                    DaysCase{"firstSeenWithin", 7, {3, 2, 1}, {3, 1}},
                    DaysCase{"firstSeenTheDayBefore", 7, {1}, {1}},
                    DaysCase{"oneDayAhead", 1, {3, 2, 1}, {1}},
                    // The machine was off on the day it came within: the
                    // next update names it.
                    DaysCase{"dayMissed", 7, {9, 8, 6, 5, 2}, {6}},
                    DaysCase{"dayBeforeMissed", 7, {8, 7, 2, 0}, {7}}),
    [](const testing::TestParamInfo<DaysCase>& info) { return info.param.name; });

TEST(WarnedTagsTest, ALineAddedAboveATagDoesNotNameItAgainButAMovedDateDoes) {
  WarnedTags warned;
  EXPECT_EQ(warned.Due({Coming("a.htm", 3), Coming("a.htm", 9)}, kDay - days{5}, 7).size(), 2u);
  // Both tags moved down a line; two alike are told apart by their order.
  EXPECT_TRUE(warned.Due({Coming("a.htm", 4), Coming("a.htm", 10)}, kDay - days{4}, 7).empty());
  // The second tag's date is put off a day: a new change, named.
  const std::vector<ComingChange> due = warned.Due(
      {Coming("a.htm", 4), Coming("a.htm", 10, "12/25/26", kDay + days{1})}, kDay - days{3}, 7);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].line, 10u);
  EXPECT_EQ(due[0].daysLeft, 4);
}

// Pages read again after an update rewrote them give their tags' lines,
// tags alike by their order; a page not read keeps its lines, and a tag
// gone with a removed block is no longer named.
TEST(WarnedTagsTest, PagesReadAgainGiveTheLinesOfTheirTags) {
  WarnedTags warned;
  std::vector<ComingChange> due =
      warned.Due({Coming("a.htm", 3), Coming("a.htm", 9), Coming("b.htm", 5), Coming("c.htm", 4)},
                 kDay - days{5}, 7);
  TakeLinesFrom(due, {"a.htm", "c.htm"}, {Coming("a.htm", 1), Coming("a.htm", 6)});
  std::vector<std::pair<fs::path, std::uint64_t>> named;
  named.reserve(due.size());
  for (const ComingChange& change : due) {
    named.emplace_back(change.page, change.line);
  }
  const std::vector<std::pair<fs::path, std::uint64_t>> expected{
      {"a.htm", 1}, {"a.htm", 6}, {"b.htm", 5}};
  EXPECT_EQ(named, expected);
}

TEST(WarnedTagsTest, TagsPassedGoneOrFurtherAheadAreForgotten) {
  WarnedTags warned;
  warned.Due({Coming("a.htm", 1), Coming("b.htm", 1), Coming("c.htm", 1)}, kDay - days{2}, 7);
  EXPECT_EQ(warned.Size(), 3u);
  FoundTag passed = Coming("a.htm", 1);
  passed.lapsed = true;
  FoundTag undated = Coming("c.htm", 1);
  undated.date.reset();
  undated.lapseDay.reset();
  // b.htm is gone; a.htm has changed its page; c.htm's date cannot be read.
  warned.Due({passed, undated, Coming("d.htm", 1, "1/30/27", kDay + days{36})}, kDay - days{1}, 7);
  EXPECT_EQ(warned.Size(), 0u);
}

TEST(WarnedTagsTest, TextThatIsNoFileOfWarningsIsRefused) {
  WarnedTags warned;
  warned.Due({Coming("news.htm", 2)}, kDay - days{3}, 7);
  const std::string text = warned.Format();
  ASSERT_TRUE(WarnedTags::Parse(text).has_value());
  for (const std::string& damaged :
       {std::string(), std::string("lapse warned 2\n"), text.substr(0, text.size() - 1),
        text.substr(0, 20), "lapse warned 1\n9 0 1 0 a.htm" + std::string(2, '\0'),
        "lapse warned 1\nx 0 1 0 a.htm" + std::string(2, '\0')}) {
    EXPECT_FALSE(WarnedTags::Parse(damaged).has_value()) << damaged;
  }
}

// A missing or damaged file repeats a warning at worst; the file written is
// its owner's alone.
class WarnedTagsFileTest : public testing_support::TempDirTest {};

TEST_F(WarnedTagsFileTest, ADamagedFileMeansWarningAgain) {
  platform::Disk& disk = platform::MachineDisk();
  const fs::path state = dir_ / "state";
  const fs::path site = dir_ / "site";
  fs::create_directories(site);

  WarnedTags warned = WarnedTags::Load(disk, state, site);
  EXPECT_EQ(warned.Due({Coming("news.htm", 2)}, kDay - days{3}, 7).size(), 1u);
  ASSERT_FALSE(warned.Save(disk, state, site));
  warned = WarnedTags::Load(disk, state, site);
  EXPECT_TRUE(warned.Due({Coming("news.htm", 2)}, kDay - days{2}, 7).empty());

  ASSERT_EQ(std::distance(fs::directory_iterator(state / "warned"), fs::directory_iterator()), 1);
  const fs::path file = fs::directory_iterator(state / "warned")->path();
#if !defined(_WIN32)
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  Write(file, "lapse warned 1\ngarbage");
  warned = WarnedTags::Load(disk, state, site);
  EXPECT_EQ(warned.Due({Coming("news.htm", 2)}, kDay - days{2}, 7).size(), 1u);
  EXPECT_FALSE(warned.Save(disk, state, site));
  EXPECT_TRUE(
      WarnedTags::Load(disk, state, site).Due({Coming("news.htm", 2)}, kDay - days{2}, 7).empty());
}

}  // namespace
}  // namespace lapse::batch
