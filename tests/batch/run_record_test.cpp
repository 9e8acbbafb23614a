#include "batch/run_record.h"

#include <gtest/gtest.h>

#include "text/names.h"

namespace lapse::batch {
namespace {

constexpr RecordPlace kPlace{{2049, 11}, {2049, 12}};

std::string FormatRunRecord(const RunRecord& record) {
  std::string text(
      RunRecordHeader(record.state, record.place.value_or(kPlace), record.logWaits, record.keptAs));
  for (const auto& [name, copy] : record.copies) {
    text += FormatRecordEntry(name, copy);
  }
  return text;
}

CopyRecord Copy(std::uint64_t size) {
  return {{size, 3, 5, 6}, 1, std::nullopt, 10, WrittenCopy{{5, 99}, 0xABCDEFu}};
}

TEST(RunRecord, ReadsBackWhatItWroteWhateverTheNamesAndState) {
  for (const RecordState state :
       {RecordState::Running, RecordState::Complete, RecordState::PartPlaced}) {
    RunRecord record{state, false, {}, kPlace, {}};
    record.copies["a.htm"] = {{12, 1'700'000'000'123'456'789, 2049, 77},
                              2,
                              0xFEDCBA9876543210u,
                              10,
                              WrittenCopy{{2049, 78}, 0x0123456789ABCDEFu}};
    record.copies[text::PathFromText("new\nline \xC3\xA4.htm")] = {
        {0, 0, 0, 0}, 1, std::nullopt, 0, WrittenCopy{}};
    record.copies[text::PathFromText("sub/deeper/b.html")] = Copy(7);
    record.copies.at(text::PathFromText("sub/deeper/b.html")).logged =
        LoggedLines{4096, 310, 19, {{3, 4}, {40, 0}}};
    const std::optional<RunRecord> read = ParseRunRecord(FormatRunRecord(record));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->state, state);
    EXPECT_EQ(read->place, kPlace);
    ASSERT_EQ(read->copies.size(), 3u);
    const CopyRecord& a = read->copies.at("a.htm");
    EXPECT_EQ(a.source, record.copies.at("a.htm").source);
    EXPECT_EQ(a.links, 2u);
    EXPECT_EQ(a.hash, 0xFEDCBA9876543210u);
    EXPECT_EQ(a.copySize, 10u);
    EXPECT_EQ(a.written, record.copies.at("a.htm").written);
    EXPECT_FALSE(read->copies.at(text::PathFromText("new\nline \xC3\xA4.htm")).hash);
    EXPECT_FALSE(a.logged);
    EXPECT_EQ(read->copies.at(text::PathFromText("sub/deeper/b.html")).logged,
              record.copies.at(text::PathFromText("sub/deeper/b.html")).logged);
  }
}

// A replace cut short says where it keeps the pages it began to replace.
TEST(RunRecord, NamesTheKeptReplaceOfAReplaceUnderWay) {
  RunRecord record{RecordState::PartPlaced, true, "20261209T080412.702298Z", kPlace, {}};
  record.copies["a.htm"] = Copy(12);
  const std::optional<RunRecord> read = ParseRunRecord(FormatRunRecord(record));
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->logWaits);
  EXPECT_EQ(read->keptAs, "20261209T080412.702298Z");
  EXPECT_EQ(read->place, kPlace);
  EXPECT_EQ(read->copies.size(), 1u);
}

// Records of earlier versions name no place and no copy as written: New is
// still Lapse's, but none of their copies is put in place.
TEST(RunRecord, EarlierVersionsReadWithoutPlaceOrWrittenCopies) {
  const std::string first = std::string("lapse sources 1\n12 3 5 6 10 a.htm") + '\0';
  const std::string second =
      std::string("lapse sources 2 part-placed log\n12 3 5 6 1 - 10 a.htm") + '\0';
  for (const std::string& text : {first, second}) {
    const std::optional<RunRecord> read = ParseRunRecord(text);
    ASSERT_TRUE(read) << text;
    EXPECT_FALSE(read->place);
    EXPECT_EQ(read->copies.at("a.htm").copySize, 10u);
    EXPECT_FALSE(read->copies.at("a.htm").written);
  }
  EXPECT_EQ(ParseRunRecord(first)->state, RecordState::Complete);
  EXPECT_EQ(ParseRunRecord(second)->state, RecordState::PartPlaced);
  EXPECT_TRUE(ParseRunRecord(second)->logWaits);
}

// A copy that is its page byte for byte says so after its name; a record
// written before that was said reads as copies that differ.
TEST(RunRecord, SaysWhichCopiesAreTheirPages) {
  RunRecord record{RecordState::PartPlaced, true, "20261209T080412.702298Z", kPlace, {}};
  record.copies["a.htm"] = Copy(12);
  record.copies["a.htm"].sameAsPage = true;
  record.copies["b.htm"] = Copy(7);
  // A name that reads as the mark does not fool the reader.
  record.copies[text::PathFromText("same ")] = Copy(9);
  record.copies[text::PathFromText("same ")].sameAsPage = true;
  record.copies[text::PathFromText("z/same")] = Copy(3);
  const std::string text = FormatRunRecord(record);
  const std::optional<RunRecord> read = ParseRunRecord(text);
  ASSERT_TRUE(read);
  ASSERT_EQ(read->copies.size(), 4u);
  for (const auto& [name, copy] : record.copies) {
    EXPECT_EQ(read->copies.at(name).sameAsPage, copy.sameAsPage) << name;
    EXPECT_EQ(read->copies.at(name).written, copy.written) << name;
  }

  const std::string entry = std::string("12 3 5 6 1 - 12 5 99 abcdef a.htm") + '\0';
  const std::string header = "lapse sources 3 complete 2049 11 2049 12\n";
  struct Case {
    std::string text;
    std::optional<bool> same;  // nothing: no record
  };
  for (const Case& c :
       {Case{header + entry, false}, Case{header + entry + "same ", true},
        Case{header + entry + "same " + entry, false}, Case{header + entry + "same", std::nullopt},
        Case{header + entry + "same same ", std::nullopt},
        Case{header + entry + "Same ", std::nullopt},
        Case{header + "same " + entry, std::nullopt}}) {
    const std::optional<RunRecord> parsed = ParseRunRecord(c.text);
    ASSERT_EQ(parsed.has_value(), c.same.has_value()) << c.text;
    if (parsed) {
      EXPECT_EQ(parsed->copies.at("a.htm").sameAsPage, *c.same) << c.text;
    }
  }
}

// A record cut short by a crash, one from another program, or one that
// names a file outside the site's folder is no record: the replace then
// refuses it rather than trust a part of it, or follow it out of the site.
TEST(RunRecord, TextThatIsNoWholeRecordReadsAsNone) {
  RunRecord record{RecordState::Complete, false, {}, kPlace, {}};
  record.copies["a.htm"] = Copy(12);
  const std::string text = FormatRunRecord(record);
  const auto withPath = [&](const std::string& path) {
    RunRecord forged = record;
    forged.copies.clear();
    forged.copies[text::PathFromText(path)] = Copy(12);
    return FormatRunRecord(forged);
  };
  for (const std::string& damaged :
       {std::string(), text.substr(0, text.size() - 1), text.substr(0, 20), "lapse\n" + text,
        std::string(text).replace(text.find("12 3"), 2, "x2"),
        std::string(text).replace(text.find("complete"), 8, "finished"),
        std::string(text).replace(text.find(" 2049 12"), 8, ""), withPath("../../victim/secret"),
        withPath("/etc/shadow"), withPath("a/../../b.htm"), withPath("./a.htm"),
        withPath("a//b.htm"), withPath("a/"), withPath("..")}) {
    EXPECT_FALSE(ParseRunRecord(damaged)) << damaged;
  }
}

TEST(RunRecord, APathBelowIsNamesAndNothingElse) {
  struct Case {
    const char* path;
    bool below;
  };
  for (const Case& test :
       {Case{"a.htm", true}, Case{"a/b/c.html", true}, Case{".hidden", true}, Case{"", false},
        Case{".", false}, Case{"..", false}, Case{"../a", false}, Case{"a/..", false},
        Case{"/a", false}, Case{"a/./b", false}, Case{"a//b", false}}) {
    EXPECT_EQ(IsPathBelow(text::PathFromText(test.path)), test.below) << test.path;
  }
}

// Only a file that no one but the user could have written counts: the
// owner of a site may write into New.
TEST(RunRecord, OnlyTheUsersOwnUnsharedFileIsTheirRecord) {
  constexpr std::uint32_t kUser = 0;
  struct Case {
    platform::EntryKind kind;
    std::uint32_t mode;
    std::uint32_t owner;
    std::uint64_t links;
    bool own;
  };
  using platform::EntryKind;
  for (const Case& test : {Case{EntryKind::Hidden, 0600, kUser, 1, true},
                           Case{EntryKind::Hidden, 0644, kUser, 1, true},
                           Case{EntryKind::Hidden, 0600, 65534, 1, false},
                           Case{EntryKind::Hidden, 0620, kUser, 1, false},
                           Case{EntryKind::Hidden, 0602, kUser, 1, false},
                           Case{EntryKind::Hidden, 0600, kUser, 2, false},
                           Case{EntryKind::Link, 0600, kUser, 1, false},
                           Case{EntryKind::HiddenDirectory, 0700, kUser, 1, false}}) {
    platform::FileStatus status;
    status.kind = test.kind;
    status.access = {test.mode, test.owner, 0};
    status.links = test.links;
    EXPECT_EQ(IsOwnFile(status, kUser), test.own)
        << std::oct << test.mode << " owner " << std::dec << test.owner << " links " << test.links;
  }
}

}  // namespace
}  // namespace lapse::batch
