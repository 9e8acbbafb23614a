#include "batch/journal.h"

#include <gtest/gtest.h>

#include "batch/kept_store.h"
#include "platform/memory_disk.h"
#include "support/memory_streams.h"
#include "text/names.h"

namespace lapse::batch {
namespace {

using namespace std::chrono;

JournalBlock Block(int day, std::string page, std::vector<std::string> lines) {
  return {sys_days{year{2026} / 12 / day} + hours{3}, "/srv/www", text::PathFromText(page), 12,
          std::move(lines)};
}

// Any byte may stand in a name or a line; a journal cut short by a crash
// keeps every whole block before the cut.
TEST(Journal, ReadsBackWhatItWroteAndWhatCameBeforeADamagedEnd) {
  const std::vector<JournalBlock> blocks = {
      Block(1, "a.htm", {"<!--LAPSE 12/01/26", "", "\t<p>\xFF old 42 7 9</p>"}),
      Block(2, std::string("new\nline\0.htm", 14), {"1 2 3 4 5 6"}),
      Block(3, "sub/c.htm", {}),
  };
  const std::string text = FormatJournalBlocks(blocks);
  EXPECT_EQ(ParseJournal(text).blocks, blocks);
  EXPECT_FALSE(ParseJournal(text).damaged);
  EXPECT_FALSE(ParseJournal("").damaged);
  const std::string firstTwo = FormatJournalBlocks({blocks.data(), 2});
  for (std::size_t cut = firstTwo.size() + 1; cut < text.size(); ++cut) {
    const Journal read = ParseJournal(std::string_view(text).substr(0, cut));
    EXPECT_TRUE(read.damaged) << cut;
    EXPECT_EQ(read.blocks, std::vector<JournalBlock>(blocks.begin(), blocks.begin() + 2)) << cut;
  }
  EXPECT_TRUE(ParseJournal("no journal\n").damaged);
}

// The lines of a page as the run's log holds them: a head before each
// block, every line ended by CR LF.
TEST(Journal, TakesAPagesBlocksFromTheLog) {
  const std::string head = "\r\np.htm\r\n";
  const std::string bytes = head + "one\r\ntwo\r\n" + head + head + "three\r\n";
  const LoggedLines logged{0, bytes.size(), head.size(), {{2, 2}, {9, 0}, {20, 1}}};
  std::vector<JournalBlock> blocks;
  ASSERT_TRUE(AddLoggedBlocks(bytes, logged, Block(1, "p.htm", {}), blocks));
  ASSERT_EQ(blocks.size(), 2u);  // the head without lines stands for nothing
  EXPECT_EQ(blocks[0].firstLine, 2u);
  EXPECT_EQ(blocks[0].lines, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(blocks[1].firstLine, 20u);
  EXPECT_EQ(blocks[1].lines, std::vector<std::string>{"three"});
  // Bytes that are not what the record says are not taken.
  for (const std::string& other : {bytes + "x", bytes.substr(0, bytes.size() - 1), head}) {
    std::vector<JournalBlock> none;
    EXPECT_FALSE(AddLoggedBlocks(other, logged, Block(1, "p.htm", {}), none));
  }

  testing_support::MemorySource log("0123456789", 3);
  LogReader reader(log);
  EXPECT_EQ(reader.Read(2, 3), "234");
  EXPECT_EQ(reader.Read(7, 2), "78");
  EXPECT_FALSE(reader.Read(3, 1));  // behind what was read
  EXPECT_TRUE(reader.Error());
}

// Appends keep every block until the journal outgrows its limit; then the
// newest are kept and the oldest go.
TEST(Journal, AppendsAndDropsTheOldestPastItsLimit) {
  platform::MemoryDisk disk;
  const std::filesystem::path state = "/state";
  const std::filesystem::path site = "/site";
  ASSERT_EQ(ReadJournal(disk, state, site)->blocks.size(), 0u);
  const std::string line(64 * 1024, 'x');
  const std::vector<std::string> lines(16, line);  // a MiB a block
  std::vector<JournalBlock> written;
  for (int day = 1; day <= 20; ++day) {
    written.push_back(Block(day, "p.htm", lines));
    ASSERT_FALSE(AppendToJournal(disk, state, site, {&written.back(), 1}));
  }
  const platform::Expected<Journal> read = ReadJournal(disk, state, site);
  ASSERT_TRUE(read);
  EXPECT_FALSE(read->damaged);
  ASSERT_GE(read->blocks.size(), 8u);
  ASSERT_LE(read->blocks.size(), 16u);
  EXPECT_EQ(read->blocks.back(), written.back());
  EXPECT_EQ(read->blocks.front(), written[written.size() - read->blocks.size()]);
  // A block cut short by a crash is cut off before the next append, which
  // would else stand behind it unread.
  const std::string file = "/state/journal/" + SiteKey(site);
  disk.AddFile(file, *disk.Content(file) + "1765250000000000 8 5 1 2 40\n/srv/www");
  ASSERT_FALSE(AppendToJournal(disk, state, site, {&written.front(), 1}));
  const platform::Expected<Journal> mended = ReadJournal(disk, state, site);
  EXPECT_FALSE(mended->damaged);
  ASSERT_GE(mended->blocks.size(), 2u);
  EXPECT_EQ(mended->blocks.back(), written.front());
  EXPECT_EQ(mended->blocks[mended->blocks.size() - 2], written.back());
  // Another site has a journal of its own.
  EXPECT_EQ(ReadJournal(disk, state, "/other")->blocks.size(), 0u);
}

}  // namespace
}  // namespace lapse::batch
