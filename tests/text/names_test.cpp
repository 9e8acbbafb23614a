#include "text/names.h"

#include <gtest/gtest.h>

namespace lapse::text {
namespace {

TEST(DisplayName, ShowsControlCharactersEscapedAndEverythingElseAsItStands) {
  const struct {
    std::string_view name;
    std::string_view shown;
  } cases[] = {
      {"index.htm", "index.htm"},
      {"new\nline.htm", "new\\nline.htm"},
      {"cr\r.htm", "cr\\r.htm"},
      {"tab\t\x01\x7F.htm", "tab\\t\\x01\\x7F.htm"},
      {"C:\\web\\Grüße.htm", "C:\\web\\Grüße.htm"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DisplayText(c.name), c.shown) << c.name;
  }
}

}  // namespace
}  // namespace lapse::text
