// Show blocks, followed line by line, and the blocks of tags that do not
// close as they should.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lapse::text {

enum class BrokenBlockKind {
  // An expiry block that no end tag closes: lapsed, it runs to the end of
  // the page.
  ExpiryUnclosed,
  StrayEndTag,  // an end tag outside any expiry block
  // A show block whose closing line never comes.
  ShowUnclosed,
  // A show block holding "-->", which would end its comment early and show
  // what follows before its day.
  ShowHoldsCommentEnd,
  // A show block holding a tag line, whose block would cross it.
  ShowHoldsTag,
};

// A block that does not close as it should, by the line its tag is on.
struct BrokenBlock {
  std::uint64_t line = 0;  // counted from 1
  BrokenBlockKind kind = BrokenBlockKind::ExpiryUnclosed;
  friend bool operator==(const BrokenBlock&, const BrokenBlock&) = default;
};

// Where the lines of a page stand to its show blocks. A show block runs from
// a show tag line to the first line after it that is "-->" with nothing but
// blanks or tabs after it; a "-->" anywhere else in it, the tag line
// included, breaks it. It is told the lines as the line splitter gives
// them: the head, the body in pieces and the end of each line, so that a
// "-->" anywhere in a long line is seen.
class ShowBlocks {
 public:
  enum class Line {
    Outside,
    Opening,  // the show tag line
    Inside,
    Closing,  // the line that closes the block
  };

  // The line numbered line starts with head.
  Line Head(std::string_view head, std::uint64_t line);
  void Body(std::string_view bytes);
  void End();
  // The page has ended.
  void Finish();

  // The first broken show block: once there is one, every later line is
  // outside.
  const std::optional<BrokenBlock>& broken() const { return broken_; }
  bool open() const { return open_; }

 private:
  // Looks for "-->" in bytes of one line, across the pieces of the line.
  void Scan(std::string_view bytes);
  void Break(BrokenBlockKind kind);

  bool open_ = false;
  bool closing_ = false;  // the line at hand starts the way a closing line does
  std::uint64_t openedAt_ = 0;
  std::uint32_t window_ = 0;  // the last bytes of the line at hand
  std::optional<BrokenBlock> broken_;
};

}  // namespace lapse::text
