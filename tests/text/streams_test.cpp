#include "text/streams.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/memory_streams.h"

namespace lapse::text {
namespace {

// A failed write sticks: nothing after it reaches the sink, and Flush says so.
TEST(BufferedWriterTest, AFailureSticks) {
  std::vector<char> buffer(8);
  testing_support::MemorySink sink(4);
  BufferedWriter writer(sink, buffer);
  writer.Write("12345678");
  writer.Write("9");
  EXPECT_FALSE(writer.Flush());
  EXPECT_TRUE(writer.Failed());
  writer.Write("more");
  EXPECT_FALSE(writer.Flush());
  EXPECT_EQ(sink.text, "");
  EXPECT_EQ(writer.Taken(), 13u);
}

}  // namespace
}  // namespace lapse::text
