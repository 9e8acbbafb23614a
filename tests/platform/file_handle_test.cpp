#include "platform/file_handle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/memory_streams.h"
#include "support/temp_dir.h"

namespace lapse::platform {
namespace {

class FileIoTest : public testing_support::TempDirTest {
 protected:
  // Reads the whole file in reads of at most chunk bytes.
  static std::string ReadAll(InputFile& file, std::size_t chunk) {
    std::vector<char> buffer(chunk);
    std::string text;
    while (const std::size_t count = file.Read(buffer)) {
      text.append(buffer.data(), count);
    }
    return text;
  }
};

TEST_F(FileIoTest, ReadsTheWholeFileInAnyChunkSize) {
  const std::string text = std::string("a\r\nb\0c", 6) + std::string(300000, 'x');
  Write(dir_ / "a.htm", text);
  for (const std::size_t chunk : {1, 7, 4096, 1 << 20}) {
    InputFile file(dir_ / "a.htm");
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadAll(file, chunk), text) << "chunk " << chunk;
    EXPECT_FALSE(file.Error());
  }
}

TEST_F(FileIoTest, OpenAndReadFailuresCarryTheirReason) {
  InputFile missing(dir_ / "gone.htm");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Error(), std::errc::no_such_file_or_directory);
  std::vector<char> buffer(16);
  EXPECT_EQ(missing.Read(buffer), 0u);

  InputFile directory(dir_);
  EXPECT_EQ(directory.Read(buffer), 0u);
  EXPECT_EQ(directory.Error(), std::errc::is_a_directory);
}

struct WriteCase {
  const char* name;
  OpenMode mode;
  std::string before;  // empty: no file before
  std::string after;
};

TEST_F(FileIoTest, TruncateStartsAfreshAndAppendAddsAtTheEnd) {
  const WriteCase cases[] = {
      {"TruncateNew", OpenMode::Truncate, "", "one two"},
      {"TruncateExisting", OpenMode::Truncate, "old text", "one two"},
      {"AppendNew", OpenMode::Append, "", "one two"},
      {"AppendExisting", OpenMode::Append, "old ", "old one two"},
  };
  for (const WriteCase& c : cases) {
    const auto path = dir_ / c.name;
    if (!c.before.empty()) {
      Write(path, c.before);
    }
    OutputFile file(path, c.mode);
    ASSERT_TRUE(file.IsOpen()) << c.name;
    EXPECT_TRUE(file.Write("one "));
    EXPECT_TRUE(file.Write("two"));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(Read(path), c.after) << c.name;
  }
}

TEST_F(FileIoTest, WriteFailureIsReportedAndSticks) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full here";
  }
  OutputFile full("/dev/full", OpenMode::Truncate);
  ASSERT_TRUE(full.IsOpen());
  EXPECT_FALSE(full.Write("x"));
  EXPECT_EQ(full.Error(), std::errc::no_space_on_device);
  EXPECT_FALSE(full.Write("y"));
  EXPECT_FALSE(full.Close());
}

TEST_F(FileIoTest, OpenFailureForWritingCarriesItsReason) {
  OutputFile file(dir_ / "no-such-folder" / "a.htm", OpenMode::Truncate);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Error(), std::errc::no_such_file_or_directory);
  EXPECT_FALSE(file.Write("x"));
  EXPECT_FALSE(file.Close());
}

// Copied and lent bytes reach the sink in the order written, across buffer
// and piece limits, as one write per flush on a file and piece by piece
// elsewhere.
TEST_F(FileIoTest, BufferedWriterKeepsTheOrderOfCopiedAndLentBytes) {
  std::string lent;
  for (int i = 0; i < 300; ++i) {
    lent += "lent line " + std::to_string(i) + "\r\n";
  }
  const std::string large(100, 'L');
  for (const std::size_t bufferSize : {std::size_t{16}, std::size_t{4096}}) {
    std::vector<char> buffer(bufferSize);
    testing_support::MemorySink memory;
    OutputFile file(dir_ / "out.txt", OpenMode::Truncate);
    ASSERT_TRUE(file.IsOpen());
    std::string expected;
    for (text::ByteSink* sink :
         {static_cast<text::ByteSink*>(&memory), static_cast<text::ByteSink*>(&file)}) {
      text::BufferedWriter writer(*sink, buffer);
      expected.clear();
      std::size_t offset = 0;
      for (int i = 0; offset < lent.size(); ++i) {
        const std::size_t length = std::min<std::size_t>(5 + i % 13, lent.size() - offset);
        writer.Lend(std::string_view(lent).substr(offset, length));
        expected.append(lent, offset, length);
        offset += length;
        // Every third lent piece is followed by the next, adjoining it.
        if (i % 3 != 0) {
          const std::string copied = i % 40 == 1 ? large : std::to_string(i).append(";");
          writer.Write(copied);
          expected += copied;
        }
      }
      EXPECT_TRUE(writer.Flush());
    }
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(memory.text, expected) << "buffer " << bufferSize;
    EXPECT_EQ(Read(dir_ / "out.txt"), expected) << "buffer " << bufferSize;
  }
}

// A write of no bytes succeeds without a system call, which would answer 0
// and be taken for a failure.
TEST_F(FileIoTest, EmptyPiecesAreNoFailure) {
  OutputFile file(dir_ / "out.txt", OpenMode::Truncate);
  const std::string_view none[] = {"", ""};
  const std::string_view some[] = {"", "a", "", "b", ""};
  EXPECT_TRUE(file.WritePieces(none));
  EXPECT_TRUE(file.WritePieces(some));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(Read(dir_ / "out.txt"), "ab");
}

}  // namespace
}  // namespace lapse::platform
