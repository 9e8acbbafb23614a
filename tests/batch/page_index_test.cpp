#include "batch/page_index.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <chrono>
#include <set>

#include "batch/check.h"
#include "support/batch_fixture.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class PageIndexTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    site_ = dir_ / "site";
    state_ = dir_ / "state";
    fs::create_directories(site_);
    for (const char* name : {"a.htm", "b.htm", "c.htm"}) {
      Write(site_ / name, "<!--LAPSE 12/20/26\nsale\n<!--ENDL\n");
    }
    Write(site_ / "plain.htm", "no tags\n");
  }

  text::TagRules Rules(text::Today today = testing_support::kRunDay) const {
    return {30, 1, text::EnglishDateLocale(), [today] { return today; }};
  }

  // The pages a scan with the kept index read, by the tags it found.
  std::set<std::string> PagesRead(text::Today today = testing_support::kRunDay) {
    PageIndex index = PageIndex::Load(disk_, state_, site_, Rules(today));
    auto folder = disk_.OpenFolder(site_ / "");
    const CheckResult result =
        CheckFolder(disk_, std::shared_ptr<platform::Folder>(std::move(*folder)),
                    Recursion::ThisFolder, Rules(today), &index);
    EXPECT_EQ(result.pages, 4u);
    index.Save(disk_, state_, site_, saveTime_);
    std::set<std::string> read;
    for (const FoundTag& tag : result.tags) {
      read.insert(tag.page.string());
    }
    return read;
  }

  platform::Disk& disk_ = platform::MachineDisk();
  fs::path site_;
  fs::path state_;
  // Long after every page was written, unless a test says otherwise.
  std::chrono::system_clock::time_point saveTime_ = std::chrono::system_clock::now() + 1h;
};

TEST_F(PageIndexTest, PagesAsTheyWereAreNotReadUntilTheirDayComes) {
  EXPECT_EQ(PagesRead(), (std::set<std::string>{"a.htm", "b.htm", "c.htm"}));
  EXPECT_EQ(PagesRead(), std::set<std::string>{});
  // The day after the sale: every tagged page has its day.
  const text::Today after = std::chrono::local_days{std::chrono::year{2026} / 12 / 21};
  EXPECT_EQ(PagesRead(after), (std::set<std::string>{"a.htm", "b.htm", "c.htm"}));
}

// update --warn-days reads, beside today's pages, those the index says
// change within the days ahead, and no other.
TEST_F(PageIndexTest, PagesThatChangeWithinTheDaysAheadAreReadThroughThatDay) {
  Write(site_ / "c.htm", "<!--LAPSE 12/30/26\nsale\n<!--ENDL\n");
  EXPECT_EQ(PagesRead().size(), 3u);
  const struct {
    int daysAhead;
    std::set<std::string> read;
  } cases[] = {{0, {}}, {12, {}}, {13, {"a.htm", "b.htm"}}, {40, {"a.htm", "b.htm", "c.htm"}}};
  for (const auto& [daysAhead, expected] : cases) {
    PageIndex index = PageIndex::Load(disk_, state_, site_, Rules());
    ASSERT_EQ(index.Size(), 4u);
    auto folder = disk_.OpenFolder(site_ / "");
    const CheckResult result = CheckFolder(
        disk_, std::shared_ptr<platform::Folder>(std::move(*folder)), Recursion::ThisFolder,
        Rules(), &index, testing_support::kRunDay + std::chrono::days{daysAhead});
    std::set<std::string> read;
    for (const FoundTag& tag : result.tags) {
      read.insert(tag.page.string());
      EXPECT_FALSE(tag.lapsed);
    }
    EXPECT_EQ(read, expected) << daysAhead;
    EXPECT_TRUE(PagesToRewrite(result).empty());
    index.Save(disk_, state_, site_, saveTime_);
  }
}

// An index that cannot be trusted means reading every page, never a page
// missed.
TEST_F(PageIndexTest, ADamagedIndexOrOtherRulesMeanReadingEverything) {
  PagesRead();
  const fs::path file = state_ / "index" / SiteKey(site_);
  ASSERT_TRUE(fs::exists(file));
  const std::string whole = Read(file);
  for (const std::string& damaged :
       {std::string(), whole.substr(0, whole.size() - 3),
        std::string(whole).replace(whole.find("30 "), 3, "31 "), "x" + whole}) {
    Write(file, damaged);
    EXPECT_EQ(PagesRead(), (std::set<std::string>{"a.htm", "b.htm", "c.htm"})) << damaged;
  }
  EXPECT_TRUE(PageIndex::Parse(whole, Rules()));
  EXPECT_FALSE(PageIndex::Parse(whole, {31, 1, text::EnglishDateLocale(), {}}));
  // A named order reads no date in the other: the same pages answer otherwise.
  text::DateLocale given = text::EnglishDateLocale();
  given.orderGiven = true;
  EXPECT_FALSE(PageIndex::Parse(whole, {30, 1, given, {}}));
}

#if !defined(_WIN32)
// Edits that a look at the size and time alone would miss: the same size
// with the time set back, a save in the same tick as the index was written,
// another file renamed into the page's place.
TEST_F(PageIndexTest, NoEditIsMissed) {
  PagesRead();
  struct stat before {};
  ASSERT_EQ(::stat((site_ / "a.htm").c_str(), &before), 0);
  Write(site_ / "a.htm", "<!--LAPSE 12/21/26\nsold\n<!--ENDL\n");
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, (site_ / "a.htm").c_str(), times, 0), 0);
  Write(site_ / "new.htm", "<!--LAPSE 12/20/26\nnew\n<!--ENDL\n");
  fs::rename(site_ / "new.htm", site_ / "b.htm");
  EXPECT_EQ(PagesRead(), (std::set<std::string>{"a.htm", "b.htm"}));

  // Saved a moment before the index was written (as every page written
  // above was): read again next time.
  Write(site_ / "c.htm", "<!--LAPSE 12/20/26\nsame\n<!--ENDL\n");
  saveTime_ = std::chrono::system_clock::now();
  EXPECT_EQ(PagesRead(), std::set<std::string>{"c.htm"});
  saveTime_ += 1h;
  EXPECT_EQ(PagesRead(), (std::set<std::string>{"a.htm", "b.htm", "c.htm"}));
  EXPECT_EQ(PagesRead(), std::set<std::string>{});
}
#endif

}  // namespace
}  // namespace lapse::batch
