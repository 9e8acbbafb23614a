#include "text/tag_scanner.h"

#include "text/line_splitter.h"
#include "text/tags.h"

namespace lapse::text {

namespace {

class ScanHandler {
 public:
  ScanHandler(const DateLocale& locale, TextUnits units,
              const std::function<void(const DatedTag&)>& onTag,
              const std::function<void(const BrokenBlock&)>* onBroken)
      : locale_(locale), units_(units), onTag_(onTag), onBroken_(onBroken) {}

  bool Head(std::string_view head) {
    ++line_;
    const bool hadBroken = shows_.broken().has_value();
    if (shows_.Head(head, line_) == ShowBlocks::Line::Opening) {
      Tag(head, DatedTagKind::Show);
    } else if (IsExpiryTag(head)) {
      Tag(head, DatedTagKind::Expiry);
      if (expiryOpenedAt_ == 0) {
        expiryOpenedAt_ = line_;
      }
    } else if (IsEndTag(head)) {
      if (expiryOpenedAt_ == 0) {
        Broken({line_, BrokenBlockKind::StrayEndTag});
      }
      expiryOpenedAt_ = 0;
    } else if (IsNewTag(head)) {
      Tag(head, DatedTagKind::New);
    }
    if (!hadBroken && shows_.broken()) {
      Broken(*shows_.broken());
    }
    return true;
  }
  // Every line is counted.
  std::size_t PlainLines(std::string_view) { return 0; }
  void Body(std::string_view bytes) { shows_.Body(bytes); }
  void End(std::string_view) {
    const bool hadBroken = shows_.broken().has_value();
    shows_.End();
    if (!hadBroken && shows_.broken()) {
      Broken(*shows_.broken());
    }
  }
  // The page has been read to its end.
  void Finish() {
    const bool hadBroken = shows_.broken().has_value();
    shows_.Finish();
    if (!hadBroken && shows_.broken()) {
      Broken(*shows_.broken());
    }
    if (expiryOpenedAt_ != 0) {
      Broken({expiryOpenedAt_, BrokenBlockKind::ExpiryUnclosed});
    }
  }

 private:
  void Tag(std::string_view head, DatedTagKind kind) {
    DatedTag tag;
    tag.line = line_;
    tag.kind = kind;
    if (const std::optional<WrittenTagDate> reading = ReadTagDateAsWritten(head, locale_, units_)) {
      tag.date = reading->date;
      tag.text = reading->text;
      tag.otherOrder = reading->otherOrder;
    } else {
      tag.text = TagDateField(head, units_);
    }
    onTag_(tag);
  }

  const DateLocale& locale_;
  TextUnits units_;
  const std::function<void(const DatedTag&)>& onTag_;
  const std::function<void(const BrokenBlock&)>* onBroken_;
  std::uint64_t line_ = 0;
  ShowBlocks shows_;
  std::uint64_t expiryOpenedAt_ = 0;  // the tag of the expiry block open, or 0

  void Broken(const BrokenBlock& block) {
    if (onBroken_ != nullptr) {
      (*onBroken_)(block);
    }
  }
};

}  // namespace

bool ScanDatedTags(ByteSource& source, std::span<char> readBuffer, const DateLocale& locale,
                   TextUnits units, const std::function<void(const DatedTag&)>& onTag) {
  return ScanTags(source, readBuffer, locale, units, onTag, nullptr);
}

bool ScanTags(ByteSource& source, std::span<char> readBuffer, const DateLocale& locale,
              TextUnits units, const std::function<void(const DatedTag&)>& onTag,
              const std::function<void(const BrokenBlock&)>& onBroken) {
  ScanHandler handler(locale, units, onTag, onBroken ? &onBroken : nullptr);
  LineSplitter splitter;
  while (const std::size_t count = source.Read(readBuffer)) {
    splitter.Feed(std::string_view(readBuffer.data(), count), handler);
  }
  splitter.Finish(handler);
  if (source.Error()) {
    return false;
  }
  handler.Finish();
  return true;
}

Today LapseDay(TagDate date, DatedTagKind kind, std::int16_t newDays) {
  const Today day = std::chrono::floor<std::chrono::days>(date);
  if (kind == DatedTagKind::Show) {
    return day;
  }
  const std::chrono::days extra{kind == DatedTagKind::New ? newDays : 0};
  return day + extra + std::chrono::days{1};
}

}  // namespace lapse::text
