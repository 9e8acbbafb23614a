#include "batch/page_rewrite.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "pages/gzip.h"
#include "pages/page_errors.h"
#include "pages/utf16.h"
#include "platform/memory_disk.h"
#include "support/memory_streams.h"
#include "support/temp_dir.h"

namespace lapse::batch {
namespace {

namespace fs = std::filesystem;
using pages::ByteOrder;
using platform::MemoryDisk;
using testing_support::MemorySink;
using testing_support::MemorySource;

constexpr text::Today kToday = std::chrono::local_days{std::chrono::year{2026} / 12 / 8};

PageSettings Settings() {
  return {{30, 1, text::EnglishDateLocale(), [] { return kToday; }}, true};
}

// A page rewritten and, when it was, its copy named and its lines taken.
struct Processed {
  PageReport report;
  std::string lines;
  std::error_code commit;
  bool sameAsPage = false;
  bool recordedSame = false;  // as the run record says: byte for byte
};

Processed Process(platform::Disk& disk, const fs::path& sourceDir, const fs::path& newDir,
                  const fs::path& name) {
  auto sources = disk.OpenFolder(sourceDir);
  auto copies = disk.OpenFolder(newDir);
  EXPECT_TRUE(sources && copies);
  std::shared_ptr<platform::Folder> copiesFolder(std::move(*copies));
  const PageSettings settings = Settings();
  PageRewriter rewriter(disk, settings, *copiesFolder);
  RewrittenPage page = rewriter.Rewrite(
      {std::shared_ptr<platform::Folder>(std::move(*sources)), copiesFolder, name, name, {}});
  Processed processed{page.report, {}, {}, page.sameAsPage, page.record.sameAsPage};
  if (page.report.outcome == PageOutcome::Rewritten) {
    MemorySink sink;
    std::vector<char> buffer(64);
    std::vector<char> replay(16);
    text::BufferedWriter lines(sink, buffer);
    EXPECT_TRUE(page.lines->WriteTo(lines, replay) && lines.Flush());
    processed.lines = sink.text;
    processed.commit = page.named ? page.nameError : page.copy->Commit();
  }
  return processed;
}

// text (ASCII here) as UTF-16 units of the given order, with the mark.
std::string Utf16(std::u16string_view text, ByteOrder order) {
  std::string bytes = order == ByteOrder::LittleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += order == ByteOrder::LittleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

std::string Gzip(std::string_view text) {
  MemorySink out;
  pages::GzipSink gzip(out);
  EXPECT_TRUE(gzip.Write(text) && gzip.Finish());
  return out.text;
}

// The same stream as another system's gzip writes it: the header names
// another operating system (which no reader of the data looks at).
std::string GzipFromAnotherSystem(std::string_view text) {
  std::string gzip = Gzip(text);
  gzip[9] = gzip[9] == '\x03' ? '\x0B' : '\x03';
  return gzip;
}

struct PageCase {
  const char* name;
  std::string page;
  std::string copy;
  std::string log;
  bool sameAsPage = false;
  // The copy is the page's bytes, not only its text: the same but for a
  // gzip page compressed otherwise.
  std::optional<bool> bytesSame = std::nullopt;
  friend void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }
};

// A tag on the first line, a lapsed block, lines ending in lone LF and CR.
constexpr std::u16string_view kPage16 =
    u"<!--LAPSE 1/1/20\nold \u00e4\U0001F600\r<!--ENDL\r\nkept \xd800!\n";
constexpr std::u16string_view kCopy16 = u"kept \xd800!\n";
const std::string kLog16 =
    "\r\na.htm\r\n<!--LAPSE 1/1/20\r\nold \xC3\xA4\xF0\x9F\x98\x80\r\n<!--ENDL\r\n";
const std::string kPage8 = "<!--LAPSE 1/1/20\nold\r\n<!--ENDL\nkept\n";
const std::string kLog8 = "\r\na.htm\r\n<!--LAPSE 1/1/20\r\nold\r\n<!--ENDL\r\n";

class PageFormatTest : public testing::TestWithParam<PageCase> {
 protected:
  Processed Rewrite(const std::string& name, const std::string& page) {
    disk_.AddFile("/site/" + name, page);
    disk_.AddFolder("/site/New");
    return Process(disk_, "/site/", "/site/New/", name);
  }
  MemoryDisk disk_;
};

TEST_P(PageFormatTest, IsRewrittenInItsOwnEncodingAndCompression) {
  const PageCase& c = GetParam();
  const Processed processed = Rewrite("a.htm", c.page);
  ASSERT_EQ(processed.report.outcome, PageOutcome::Rewritten);
  EXPECT_EQ(disk_.Content("/site/New/a.htm"), c.copy);
  EXPECT_EQ(processed.lines, c.log);
  EXPECT_EQ(processed.sameAsPage, c.sameAsPage);
  EXPECT_EQ(processed.recordedSame, c.bytesSame.value_or(c.sameAsPage));
}

// Pages of lone LFs, in UTF-16 as in 8-bit text; what tells the same
// compares the text under the compression.
constexpr std::u16string_view kLfPage16 = u"a\n<!--LAPSE 12/31/26\n\u00e4\nb\n<!--ENDL\n";
constexpr std::u16string_view kLapsedLfPage16 = u"a\n<!--LAPSE 1/1/20\nx\n<!--ENDL\nb\n";
const std::string kUtf8Mark = "\xEF\xBB\xBF";
// A show block that is due, and one whose day has not come.
constexpr std::u16string_view kShownPage16 = u"a\r\n<!--LSHOW 1/1/20\r\n\u00e4\r\n-->\r\nb\r\n";
constexpr std::u16string_view kHiddenPage16 = u"a\n<!--LSHOW 12/31/26\n\u00e4\n-->\nb\n";
const std::string kShownLog = "\r\na.htm\r\n<!--LSHOW 1/1/20\r\n\r\na.htm\r\n-->\r\n";
const std::string kLapsedLfLog = "\r\na.htm\r\n<!--LAPSE 1/1/20\r\nx\r\n<!--ENDL\r\n";

INSTANTIATE_TEST_SUITE_P(
    Pages, PageFormatTest,
    testing::Values(PageCase{"EightBit", kPage8, "kept\n", kLog8},
                    PageCase{"Utf8Mark", "\xEF\xBB\xBF" + kPage8, "\xEF\xBB\xBFkept\n", kLog8},
                    PageCase{"Utf16LittleEndian", Utf16(kPage16, ByteOrder::LittleEndian),
                             Utf16(kCopy16, ByteOrder::LittleEndian), kLog16},
                    PageCase{"Utf16BigEndian", Utf16(kPage16, ByteOrder::BigEndian),
                             Utf16(kCopy16, ByteOrder::BigEndian), kLog16},
                    PageCase{"Gzip", Gzip(kPage8), Gzip("kept\n"), kLog8},
                    PageCase{"GzipOfUtf16", Gzip(Utf16(kPage16, ByteOrder::LittleEndian)),
                             Gzip(Utf16(kCopy16, ByteOrder::LittleEndian)), kLog16},
                    // A mark anywhere but at the start is text.
                    PageCase{"MarkLater", "a\n\xEF\xBB\xBF<!--LAPSE 1/1/20\n",
                             "a\n\xEF\xBB\xBF<!--LAPSE 1/1/20\n", "", true},
                    PageCase{"Utf16LfPage", Utf16(kLfPage16, ByteOrder::LittleEndian),
                             Utf16(kLfPage16, ByteOrder::LittleEndian), "", true},
                    PageCase{"Utf16BigEndianLfPage", Utf16(kLfPage16, ByteOrder::BigEndian),
                             Utf16(kLfPage16, ByteOrder::BigEndian), "", true},
                    PageCase{"Utf16LapsedLfPage", Utf16(kLapsedLfPage16, ByteOrder::LittleEndian),
                             Utf16(u"a\nb\n", ByteOrder::LittleEndian), kLapsedLfLog},
                    PageCase{"Utf16LoneCr", Utf16(u"a\rb\n", ByteOrder::BigEndian),
                             Utf16(u"a\r\nb\n", ByteOrder::BigEndian), ""},
                    PageCase{"Utf8MarkLfPage", kUtf8Mark + "a\nb\n", kUtf8Mark + "a\nb\n", "",
                             true},
                    PageCase{"Utf16ShowBlockDue", Utf16(kShownPage16, ByteOrder::LittleEndian),
                             Utf16(u"a\r\n\u00e4\r\nb\r\n", ByteOrder::LittleEndian), kShownLog},
                    PageCase{"GzipOfAShowBlockDue", Gzip("a\r\n<!--LSHOW 1/1/20\r\nx\r\n-->\r\n"),
                             Gzip("a\r\nx\r\n"), kShownLog},
                    PageCase{"Utf16ShowBlockHidden", Utf16(kHiddenPage16, ByteOrder::BigEndian),
                             Utf16(kHiddenPage16, ByteOrder::BigEndian), "", true},
                    PageCase{"GzipOfAnUnchangedText", Gzip("a\nb\r\n"), Gzip("a\nb\r\n"), "", true},
                    PageCase{"GzipOfAnUnchangedTextFromAnotherSystem",
                             GzipFromAnotherSystem("a\nb\r\n"), Gzip("a\nb\r\n"), "", true, false}),
    [](const testing::TestParamInfo<PageCase>& info) { return info.param.name; });

// What cannot be rewritten whole, and what is no text, gets no copy.
TEST_F(PageFormatTest, DamagedPagesAndFilesOfOtherKindsGetNoCopy) {
  const std::string gzip = Gzip(kPage8);
  const struct {
    std::string name;
    std::string page;
    PageOutcome outcome;
    std::error_code error;
    NotText notText = NotText::Compressed;
  } cases[] = {
      {"cut.htm.gz", gzip.substr(0, gzip.size() - 3), PageOutcome::Failed,
       pages::TruncatedGzipError()},
      {"bad.htm.gz", std::string(gzip).replace(12, 4, "junk"), PageOutcome::Failed,
       pages::DamagedGzipError()},
      {"odd.htm", Utf16(u"a\n", ByteOrder::BigEndian) + "x", PageOutcome::Failed,
       pages::HalfUnitError()},
      {"a.htm.zst", "\x28\xB5\x2F\xFD" + kPage8, PageOutcome::LeftAsItIs, {}},
      {"a.htm.bz2", "BZh9" + kPage8, PageOutcome::LeftAsItIs, {}},
      {"a.htm.xz",
       std::string("\xFD\x37\x7A\x58\x5A\x00", 6) + kPage8,
       PageOutcome::LeftAsItIs,
       {}},
      {"a.htm.zip", "PK\x03\x04" + kPage8, PageOutcome::LeftAsItIs, {}, NotText::Archive},
      {"a.html.br", kPage8, PageOutcome::LeftAsItIs, {}},
      {"logo.png.htm", "\x89PNG\r\n\x1A\n\r\n", PageOutcome::LeftAsItIs, {}, NotText::Image},
      {"doc.pdf.html", "%PDF-1.7\n" + kPage8, PageOutcome::LeftAsItIs, {}, NotText::Pdf},
  };
  for (const auto& c : cases) {
    const Processed processed = Rewrite(c.name, c.page);
    EXPECT_EQ(processed.report.outcome, c.outcome) << c.name;
    EXPECT_EQ(processed.report.failure.error, c.error) << c.name;
    if (c.outcome == PageOutcome::LeftAsItIs) {
      EXPECT_EQ(processed.report.notText, c.notText) << c.name;
    }
    EXPECT_FALSE(disk_.Content("/site/New/" + c.name)) << c.name;
    EXPECT_EQ(disk_.Content("/site/" + c.name), c.page) << c.name;
  }
}

// A copy takes everything its page has: the permission bits, the owner where
// the process may give it, the ACL and the other attributes; where they
// cannot be carried over the page gets no copy rather than a more open one.
TEST(PageAccessTest, ACopyTakesWhatItsPageHas) {
  for (const bool privileged : {false, true}) {
    MemoryDisk disk;
    disk.privileged = privileged;
    disk.AddFile("/site/a.htm", "a\n", {0640, 33, 33});
    disk.SetAttribute("/site/a.htm", "system.posix_acl_access", "u:nobody:---");
    disk.SetAttribute("/site/a.htm", "user.note", "kept");
    disk.AddFolder("/site/New");
    ASSERT_EQ(Process(disk, "/site/", "/site/New/", "a.htm").report.outcome,
              PageOutcome::Rewritten);
    const platform::FileAccess access = *disk.AccessOf("/site/New/a.htm");
    EXPECT_EQ(access.mode, 0640u);
    EXPECT_EQ(access.owner, privileged ? 33u : MemoryDisk::kUser);
    EXPECT_EQ(disk.AttributesOf("/site/New/a.htm"), disk.AttributesOf("/site/a.htm"));
  }
  MemoryDisk plain;
  plain.keepsAttributes = false;
  plain.AddFile("/site/a.htm", "a\n");
  plain.SetAttribute("/site/a.htm", "system.posix_acl_access", "u:nobody:---");
  plain.AddFolder("/site/New");
  const Processed refused = Process(plain, "/site/", "/site/New/", "a.htm");
  EXPECT_EQ(refused.report.outcome, PageOutcome::Failed);
  EXPECT_EQ(refused.report.failure.action, FileAction::GiveAccess);
  EXPECT_FALSE(plain.Content("/site/New/a.htm"));
}

class MachinePageTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directories(dir_ / "New");
  }
  Processed Run(const fs::path& name) { return Run(dir_ / "", dir_ / "New" / "", name); }
  Processed Run(const fs::path& sourceDir, const fs::path& newDir, const fs::path& name) {
    return Process(platform::MachineDisk(), sourceDir, newDir, name);
  }
  std::vector<std::string> NewDirEntries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "New")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(MachinePageTest, WritesTheCopyAndHoldsTheLinesForTheLog) {
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nx\n<!--ENDL\nb\n");
  const Processed processed = Run("a.htm");
  EXPECT_EQ(processed.report.outcome, PageOutcome::Rewritten);
  EXPECT_FALSE(processed.commit);
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "a\nb\n");
  EXPECT_EQ(processed.lines, "\r\na.htm\r\n<!--LAPSE 12/01/26\r\nx\r\n<!--ENDL\r\n");
  EXPECT_EQ(NewDirEntries(), (std::vector<std::string>{"a.htm"}));
}

TEST_F(MachinePageTest, ACopyTakesThePlaceOfAnotherOfItsName) {
  Write(dir_ / "a.htm", "first\n");
  Run("a.htm");
  Write(dir_ / "a.htm", "second\n");
  EXPECT_EQ(Run("a.htm").report.outcome, PageOutcome::Rewritten);
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "second\n");
}

TEST_F(MachinePageTest, DateFormatErrorLeavesNoCopyAndNoLines) {
  Write(dir_ / "a.htm", "<!--LAPSE 12/01/26\nx\n<!--LNEW when\n");
  const Processed processed = Run("a.htm");
  EXPECT_EQ(processed.report.outcome, PageOutcome::DateFormatError);
  EXPECT_EQ(NewDirEntries(), std::vector<std::string>{});
  EXPECT_EQ(Read(dir_ / "a.htm"), "<!--LAPSE 12/01/26\nx\n<!--LNEW when\n");
}

TEST_F(MachinePageTest, UnreadableSourceIsReportedWithItsReason) {
  fs::create_directory(dir_ / "dir.htm");
  const Processed directory = Run("dir.htm");
  EXPECT_EQ(directory.report.outcome, PageOutcome::Failed);
  EXPECT_EQ(directory.report.failure.action, FileAction::Read);
  EXPECT_EQ(directory.report.failure.path, dir_ / "dir.htm");
  EXPECT_EQ(directory.report.failure.error, std::errc::is_a_directory);
  const Processed missing = Run("gone.htm");
  EXPECT_EQ(missing.report.outcome, PageOutcome::Failed);
  EXPECT_EQ(missing.report.failure.error, std::errc::no_such_file_or_directory);
  EXPECT_EQ(NewDirEntries(), std::vector<std::string>{});
}

TEST_F(MachinePageTest, LinkInNewIsReplacedNotWrittenThrough) {
  Write(dir_ / "a.htm", "a\n");
  Write(dir_ / "target.txt", "untouched");
  if (!testing_support::MakeSymlink(dir_ / "target.txt", dir_ / "New" / "a.htm")) {
    // Windows without developer mode, and wine, make no symbolic links.
    GTEST_SKIP() << "no symbolic links here";
  }
  EXPECT_EQ(Run("a.htm").report.outcome, PageOutcome::Rewritten);
  EXPECT_EQ(Read(dir_ / "target.txt"), "untouched");
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "a\n");
}

// The bytes of a UTF-8 literal, as the messages and the log hold them.
std::string Utf8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}

TEST_F(MachinePageTest, NamesOutsideAsciiAreReadWrittenAndLogged) {
  const fs::path dir = dir_ / u8"Ünïcödé 目录";
  const fs::path name = u8"Grüße-ελληνικά.htm";
  fs::create_directories(dir / "New");
  Write(dir / name, "a\n<!--LAPSE 12/01/26\nx\n<!--ENDL\nb\n");

  const Processed processed = Run(dir / "", dir / "New" / "", name);
  EXPECT_EQ(processed.report.outcome, PageOutcome::Rewritten)
      << processed.report.failure.error.message();
  EXPECT_EQ(Read(dir / "New" / name), "a\nb\n");
  EXPECT_EQ(processed.lines,
            "\r\n" + Utf8(u8"Grüße-ελληνικά.htm") + "\r\n<!--LAPSE 12/01/26\r\nx\r\n<!--ENDL\r\n");

  const Processed missing = Run(dir / "", dir / "New" / "", u8"Fehlt-ä.htm");
  EXPECT_EQ(missing.report.outcome, PageOutcome::Failed);
  EXPECT_EQ(missing.report.failure.path, dir / u8"Fehlt-ä.htm");
}

TEST_F(MachinePageTest, DoubledSeparatorOfADriveRootStillNamesTheFiles) {
  // A run over a drive's root appends a separator to C:\ as to any other
  // directory, so both directories end in two.
  const auto doubled = [](const fs::path& dir) {
    return fs::path(dir.native() + fs::path::preferred_separator);
  };
  Write(dir_ / "a.htm", "a\n<!--LAPSE 12/01/26\nx\n<!--ENDL\n");
  const Processed processed = Run(doubled(dir_ / ""), doubled(dir_ / "New" / ""), "a.htm");
  EXPECT_EQ(processed.report.outcome, PageOutcome::Rewritten)
      << processed.report.failure.error.message();
  EXPECT_EQ(Read(dir_ / "New" / "a.htm"), "a\n");
}

}  // namespace
}  // namespace lapse::batch
