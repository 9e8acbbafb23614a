#include "batch/run_record.h"

#include <gtest/gtest.h>

namespace lapse::batch {
namespace {

std::string FormatRunRecord(const RunRecord& record) {
  std::string text(RunRecordHeader());
  for (const auto& [name, copy] : record) {
    text += FormatRecordEntry(name, copy);
  }
  return text;
}

TEST(RunRecord, ReadsBackWhatItWroteWhateverTheNames) {
  RunRecord record;
  record["a.htm"] = {{12, 1'700'000'000'123'456'789, 2049, 77}, 10};
  record[engine::PathFromText("new\nline \xC3\xA4.htm")] = {{0, 0, 0, 0}, 0};
  const RunRecord read = ParseRunRecord(FormatRunRecord(record));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read.at("a.htm").source, record.at("a.htm").source);
  EXPECT_EQ(read.at("a.htm").copySize, 10u);
  EXPECT_TRUE(read.contains(engine::PathFromText("new\nline \xC3\xA4.htm")));
}

// A record cut short by a crash, or one from another program, holds nothing:
// the replace then holds every copy back rather than trust a part of it.
TEST(RunRecord, TextThatIsNoWholeRecordReadsAsEmpty) {
  RunRecord record;
  record["a.htm"] = {{12, 3, 5, 6}, 10};
  const std::string text = FormatRunRecord(record);
  for (const std::string& damaged :
       {std::string(), text.substr(0, text.size() - 1), text.substr(0, 20), "lapse\n" + text,
        std::string(text).replace(text.find("12"), 2, "x2")}) {
    EXPECT_TRUE(ParseRunRecord(damaged).empty()) << damaged;
  }
}

}  // namespace
}  // namespace lapse::batch
