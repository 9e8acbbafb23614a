#include "batch/check.h"

#include <gtest/gtest.h>

#include "platform/memory_disk.h"

namespace lapse::batch {
namespace {

using namespace std::chrono;

constexpr text::Today kToday = local_days{year{2026} / 12 / 8};

text::TagRules Rules() {
  return {30, 1, text::EnglishDateLocale(), [] { return kToday; }};
}

// The tags come sorted by page and line whatever order the folders list
// them in, and the next lapse is the earliest day a current tag lapses.
TEST(CheckSite, ListsEveryDatedTagInOrderAndTheNextLapse) {
  platform::MemoryDisk disk;
  disk.AddFile("/site/news.htm", "x\n<!--LAPSE 12/10/26\n<!--ENDL\n<!--LNEW 11/20/26\n");
  disk.AddFile("/site/bad.htm", "<!--LAPSE when\n");
  disk.AddFile("/site/index.html", "<!--LAPSE 12/01/26\n");
  disk.AddFile("/site/sub/deep.htm", "<!--LAPSE 12/09/26\n");
  disk.AddFile("/site/logo.png.htm", "\x89PNG\r\n\x1A\n");
  const CheckResult result = CheckSite(disk, "/site", Recursion::Subfolders, Rules());
  ASSERT_EQ(result.tags.size(), 5u);
  std::vector<std::string> order;
  for (const FoundTag& tag : result.tags) {
    order.push_back(tag.page.generic_string() + ":" + std::to_string(tag.line));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"bad.htm:1", "index.html:1", "news.htm:2",
                                             "news.htm:4", "sub/deep.htm:1"}));
  EXPECT_FALSE(result.tags[0].date);
  EXPECT_TRUE(result.tags[1].lapsed);
  // Dated the 20th of November, new for 30 days: it lapses on the 21st of December.
  EXPECT_EQ(result.tags[3].lapseDay, local_days{year{2026} / 12 / 21});
  EXPECT_EQ(result.nextChange, local_days{year{2026} / 12 / 10});
  ASSERT_EQ(result.leftOut.size(), 1u);
  EXPECT_EQ(result.leftOut[0].report.notText, NotText::Image);
  EXPECT_TRUE(result.Faulty());
}

// Show blocks are listed as tags, hidden before their day and due from it,
// and count for the next change; every block that does not close as it
// should is named by its tag's line and makes the check faulty.
TEST(CheckSite, ShowBlocksAndBrokenBlocks) {
  struct BrokenCase {
    const char* name;
    std::string page;
    std::vector<text::BrokenBlock> broken;
  };
  using text::BrokenBlockKind;
  const std::vector<BrokenCase> cases = {
      {"closed blocks", "<!--LAPSE 12/01/26\nx\n<!--ENDL\n<!--LSHOW 12/09/26\ny\n-->\n", {}},
      {"an expiry block without its end tag",
       "a\n<!--LAPSE 12/31/26\n<!--LAPSE 12/31/26\nx\n",
       {{2, BrokenBlockKind::ExpiryUnclosed}}},
      {"a stray end tag",
       "<!--LAPSE 12/31/26\n<!--ENDL\n<!--ENDL\n",
       {{3, BrokenBlockKind::StrayEndTag}}},
      {"a show block without its closing line",
       "<!--LSHOW 12/09/26\nx\n",
       {{1, BrokenBlockKind::ShowUnclosed}}},
      {"a show block holding -->",
       "a\n<!--LSHOW 12/09/26\nx -->\n-->\n",
       {{2, BrokenBlockKind::ShowHoldsCommentEnd}}},
      {"a show block holding a tag",
       "<!--LSHOW 12/09/26\n<!--LNEW 12/01/26\n-->\n",
       {{1, BrokenBlockKind::ShowHoldsTag}}},
  };
  for (const BrokenCase& item : cases) {
    platform::MemoryDisk disk;
    disk.AddFile("/site/a.htm", item.page);
    const CheckResult result = CheckSite(disk, "/site", Recursion::ThisFolder, Rules());
    std::vector<text::BrokenBlock> broken;
    for (const FoundBrokenBlock& found : result.brokenBlocks) {
      broken.push_back(found.block);
    }
    EXPECT_EQ(broken, item.broken) << item.name;
    EXPECT_EQ(result.Faulty(), !item.broken.empty()) << item.name;
  }

  platform::MemoryDisk disk;
  disk.AddFile("/site/a.htm", "<!--LSHOW 12/08/26\nnow\n-->\n<!--LSHOW 12/09/26\nnext\n-->\n");
  disk.AddFile("/site/b.htm", "<!--LSHOW 12/01/26\nx -->\n");
  const CheckResult result = CheckSite(disk, "/site", Recursion::ThisFolder, Rules());
  ASSERT_EQ(result.tags.size(), 3u);
  EXPECT_EQ(result.tags[0].kind, text::DatedTagKind::Show);
  EXPECT_TRUE(result.tags[0].lapsed);
  EXPECT_FALSE(result.tags[1].lapsed);
  EXPECT_EQ(result.tags[1].lapseDay, local_days{year{2026} / 12 / 9});
  EXPECT_EQ(result.nextChange, local_days{year{2026} / 12 / 9});
  // A run today changes the page with a due show block and names the
  // broken one.
  EXPECT_EQ(PagesToRewrite(result), (std::set<std::filesystem::path>{"a.htm", "b.htm"}));
}

TEST(CheckSite, AFolderThatIsNotThereIsSaid) {
  platform::MemoryDisk disk;
  const CheckResult result = CheckSite(disk, "/nowhere", Recursion::ThisFolder, Rules());
  EXPECT_EQ(result.folderError, std::errc::no_such_file_or_directory);
}

}  // namespace
}  // namespace lapse::batch
