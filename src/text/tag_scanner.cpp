#include "text/tag_scanner.h"

#include "text/line_splitter.h"
#include "text/tags.h"

namespace lapse::text {

namespace {

class ScanHandler {
 public:
  ScanHandler(const DateLocale& locale, TextUnits units,
              const std::function<void(const DatedTag&)>& onTag)
      : locale_(locale), units_(units), onTag_(onTag) {}

  bool Head(std::string_view head) {
    ++line_;
    if (IsExpiryTag(head)) {
      Tag(head, DatedTagKind::Expiry);
    } else if (IsNewTag(head)) {
      Tag(head, DatedTagKind::New);
    }
    return true;
  }
  // Every line is counted.
  std::size_t PlainLines(std::string_view) { return 0; }
  void Body(std::string_view) {}
  void End(std::string_view) {}

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
  std::uint64_t line_ = 0;
};

}  // namespace

bool ScanDatedTags(ByteSource& source, std::span<char> readBuffer, const DateLocale& locale,
                   TextUnits units, const std::function<void(const DatedTag&)>& onTag) {
  ScanHandler handler(locale, units, onTag);
  LineSplitter splitter;
  while (const std::size_t count = source.Read(readBuffer)) {
    splitter.Feed(std::string_view(readBuffer.data(), count), handler);
  }
  splitter.Finish(handler);
  return !source.Error();
}

Today LapseDay(TagDate date, DatedTagKind kind, std::int16_t newDays) {
  const Today day = std::chrono::floor<std::chrono::days>(date);
  const std::chrono::days extra{kind == DatedTagKind::New ? newDays : 0};
  return day + extra + std::chrono::days{1};
}

}  // namespace lapse::text
