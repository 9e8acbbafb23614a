#include "text/show_block.h"

#include "text/tags.h"

namespace lapse::text {

namespace {

constexpr std::string_view kCommentEnd = "-->";
// The last three bytes of a line that ends a comment, as window_ has them.
constexpr std::uint32_t kCommentEndWindow =
    (std::uint32_t{'-'} << 16) | (std::uint32_t{'-'} << 8) | std::uint32_t{'>'};
constexpr std::uint32_t kWindowMask = 0xFFFFFF;

bool AllBlank(std::string_view bytes) {
  return bytes.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

ShowBlocks::Line ShowBlocks::Head(std::string_view head, std::uint64_t line) {
  window_ = 0;
  closing_ = false;
  if (broken_) {
    return Line::Outside;
  }
  if (!open_) {
    if (!IsShowTag(head)) {
      return Line::Outside;
    }
    open_ = true;
    openedAt_ = line;
    // "<!--LSHOW date -->" would show its content before the day.
    Scan(head);
    return Line::Opening;
  }
  if (IsTagLine(head)) {
    Break(BrokenBlockKind::ShowHoldsTag);
    return Line::Inside;
  }
  if (head.starts_with(kCommentEnd) && AllBlank(head.substr(kCommentEnd.size()))) {
    // Closes the block unless the rest of the line holds more than blanks.
    closing_ = true;
    return Line::Closing;
  }
  Scan(head);
  return Line::Inside;
}

void ShowBlocks::Body(std::string_view bytes) {
  if (!open_ || broken_) {
    return;
  }
  if (closing_) {
    if (!AllBlank(bytes)) {
      Break(BrokenBlockKind::ShowHoldsCommentEnd);
    }
    return;
  }
  Scan(bytes);
}

void ShowBlocks::End() {
  if (closing_ && !broken_) {
    open_ = false;
  }
  closing_ = false;
  window_ = 0;
}

void ShowBlocks::Finish() {
  if (open_ && !broken_) {
    Break(BrokenBlockKind::ShowUnclosed);
  }
}

void ShowBlocks::Scan(std::string_view bytes) {
  for (const char c : bytes) {
    window_ = ((window_ << 8) | static_cast<unsigned char>(c)) & kWindowMask;
    if (window_ == kCommentEndWindow) {
      Break(BrokenBlockKind::ShowHoldsCommentEnd);
      return;
    }
  }
}

void ShowBlocks::Break(BrokenBlockKind kind) {
  broken_ = BrokenBlock{openedAt_, kind};
  open_ = false;
}

}  // namespace lapse::text
