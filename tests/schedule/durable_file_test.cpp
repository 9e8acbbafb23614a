#include "schedule/durable_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace lapse::schedule::detail {
namespace {

namespace fs = std::filesystem;

class DurableFileTest : public testing_support::TempDirTest {
 protected:
  long FilesIn(const fs::path& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  }
};

// The scheduler's units and records: a write leaves the new file whole, or,
// when it fails, the old one and nothing beside it.
TEST_F(DurableFileTest, AWriteLeavesTheNewFileOrTheOldAndNoTemporaryOne) {
  struct Case {
    const char* name;
    const char* before;  // nullptr: no file stands there
    bool folderExists;
    bool written;
  };
  const Case cases[] = {
      {"a new file", nullptr, true, true},
      {"over a file", "old unit\n", true, true},
      {"into a folder that is gone", nullptr, false, false},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    const fs::path folder = dir_ / each.name;
    if (each.folderExists) {
      fs::create_directories(folder);
    }
    const fs::path unit = folder / "lapse-update.timer";
    if (each.before != nullptr) {
      Write(unit, each.before);
    }
    const std::error_code error = WriteFileDurably(unit, "[Timer]\nOnCalendar=*-*-* 00:05\n");
    EXPECT_EQ(!error, each.written) << error.message();
    if (each.written) {
      EXPECT_EQ(Read(unit), "[Timer]\nOnCalendar=*-*-* 00:05\n");
    } else if (each.before != nullptr) {
      EXPECT_EQ(Read(unit), each.before);
    }
    if (fs::exists(folder)) {
      EXPECT_EQ(FilesIn(folder), fs::exists(unit) ? 1 : 0);
    }
  }
}

}  // namespace
}  // namespace lapse::schedule::detail
