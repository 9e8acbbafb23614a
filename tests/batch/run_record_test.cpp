#include "batch/run_record.h"

#include <gtest/gtest.h>

#include "text/names.h"

namespace lapse::batch {
namespace {

std::string FormatRunRecord(const RunRecord& record) {
  std::string text(RunRecordHeader(record.state, record.logWaits, record.keptAs));
  for (const auto& [name, copy] : record.copies) {
    text += FormatRecordEntry(name, copy);
  }
  return text;
}

TEST(RunRecord, ReadsBackWhatItWroteWhateverTheNamesAndState) {
  for (const RecordState state :
       {RecordState::Running, RecordState::Complete, RecordState::PartPlaced}) {
    RunRecord record{state, false, {}, {}};
    record.copies["a.htm"] = {
        {12, 1'700'000'000'123'456'789, 2049, 77}, 2, 0xFEDCBA9876543210u, 10};
    record.copies[text::PathFromText("new\nline \xC3\xA4.htm")] = {
        {0, 0, 0, 0}, 1, std::nullopt, 0};
    const std::optional<RunRecord> read = ParseRunRecord(FormatRunRecord(record));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->state, state);
    ASSERT_EQ(read->copies.size(), 2u);
    const CopyRecord& a = read->copies.at("a.htm");
    EXPECT_EQ(a.source, record.copies.at("a.htm").source);
    EXPECT_EQ(a.links, 2u);
    EXPECT_EQ(a.hash, 0xFEDCBA9876543210u);
    EXPECT_EQ(a.copySize, 10u);
    EXPECT_FALSE(read->copies.at(text::PathFromText("new\nline \xC3\xA4.htm")).hash);
  }
}

// A replace cut short says where it keeps the pages it began to replace.
TEST(RunRecord, NamesTheKeptReplaceOfAReplaceUnderWay) {
  RunRecord record{RecordState::PartPlaced, true, "20261209T080412.702298Z", {}};
  record.copies["a.htm"] = {{12, 3, 5, 6}, 1, std::nullopt, 10};
  const std::optional<RunRecord> read = ParseRunRecord(FormatRunRecord(record));
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->logWaits);
  EXPECT_EQ(read->keptAs, "20261209T080412.702298Z");
  EXPECT_EQ(read->copies.size(), 1u);
}

// A record of the version before, written only when its run had ended,
// reads as complete: its copies wait for a replace.
TEST(RunRecord, TheFirstVersionReadsAsComplete) {
  const std::string first = std::string("lapse sources 1\n12 3 5 6 10 a.htm") + '\0';
  const std::optional<RunRecord> read = ParseRunRecord(first);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->state, RecordState::Complete);
  EXPECT_EQ(read->copies.at("a.htm").copySize, 10u);
  EXPECT_EQ(read->copies.at("a.htm").links, 1u);
}

// A record cut short by a crash, or one from another program, is no record:
// the replace then holds every copy back rather than trust a part of it.
TEST(RunRecord, TextThatIsNoWholeRecordReadsAsNone) {
  RunRecord record{RecordState::Complete, false, {}, {}};
  record.copies["a.htm"] = {{12, 3, 5, 6}, 1, std::nullopt, 10};
  const std::string text = FormatRunRecord(record);
  for (const std::string& damaged :
       {std::string(), text.substr(0, text.size() - 1), text.substr(0, 20), "lapse\n" + text,
        std::string(text).replace(text.find("12"), 2, "x2"),
        std::string(text).replace(text.find("complete"), 8, "finished")}) {
    EXPECT_FALSE(ParseRunRecord(damaged)) << damaged;
  }
}

}  // namespace
}  // namespace lapse::batch
