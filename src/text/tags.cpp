#include "text/tags.h"

#include <array>

namespace lapse::text {

namespace {

// True when the two characters belong to one number or one word, so that a
// candidate ending or starting between them would cut it in two.
bool SameRun(char left, char right) {
  return (IsDateDigit(left) && IsDateDigit(right)) || (IsDateLetter(left) && IsDateLetter(right));
}

// Where each column of a line's head starts, and where the last one ends.
class Columns {
 public:
  Columns(std::string_view line, TextUnits units) {
    for (std::size_t at = 0; at <= line.size() && count_ < starts_.size(); ++at) {
      const bool continuation = units == TextUnits::Utf8Characters && at < line.size() &&
                                (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80;
      if (!continuation) {
        starts_[count_++] = at;
      }
    }
  }
  // Columns in the line (the end of the line is one start more).
  std::size_t size() const { return count_ - 1; }
  std::size_t operator[](std::size_t column) const { return starts_[column]; }

 private:
  std::array<std::size_t, kLineHeadLength + 1> starts_{};
  std::size_t count_ = 0;
};

// A candidate that cuts a number or a word in two is no reading of the date:
// "<!--LAPSE 12/31/2026" must not be read as 12/31/20. Bytes of a multi-byte
// character are letters, so a look at the bytes either side of a cut is
// enough in both kinds of text.
bool CutsARun(std::string_view line, std::size_t start, std::size_t end) {
  if (SameRun(line[start - 1], line[start])) {
    return true;
  }
  return end < line.size() && SameRun(line[end - 1], line[end]);
}

std::string_view WithoutBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

bool IsExpiryTag(std::string_view line) {
  return line.starts_with(kExpiryTag);
}
bool IsEndTag(std::string_view line) {
  return line.starts_with(kEndTag);
}
bool IsNewTag(std::string_view line) {
  return line.starts_with(kNewTag);
}
bool IsShowTag(std::string_view line) {
  return line.starts_with(kShowTag);
}
bool IsTagLine(std::string_view line) {
  return IsExpiryTag(line) || IsEndTag(line) || IsNewTag(line) || IsShowTag(line);
}

std::optional<TagDate> ReadTagDate(std::string_view line, const DateLocale& locale,
                                   TextUnits units) {
  if (const std::optional<WrittenTagDate> reading = ReadTagDateAsWritten(line, locale, units)) {
    return reading->date;
  }
  return std::nullopt;
}

std::optional<WrittenTagDate> ReadTagDateAsWritten(std::string_view line, const DateLocale& locale,
                                                   TextUnits units) {
  const Columns columns(line, units);
  if (columns.size() <= kDateColumn) {
    return std::nullopt;
  }
  const std::size_t start = columns[kDateColumn];
  for (const std::size_t wanted : kCandidateLengths) {
    const std::size_t end = columns[std::min(kDateColumn + wanted, columns.size())];
    if (CutsARun(line, start, end)) {
      continue;
    }
    const std::string_view candidate = line.substr(start, end - start);
    if (const std::optional<DateReading> date = ReadDate(candidate, locale)) {
      return WrittenTagDate{date->date, WithoutBlanks(candidate), date->otherOrder};
    }
  }
  return std::nullopt;
}

std::string_view TagDateField(std::string_view line, TextUnits units) {
  const Columns columns(line, units);
  if (columns.size() <= kDateColumn) {
    return {};
  }
  const std::size_t start = columns[kDateColumn];
  const std::size_t end =
      columns[std::min(kDateColumn + std::ranges::max(kCandidateLengths), columns.size())];
  std::string_view field = line.substr(start, end - start);
  // The comment's end, or as much of it as the field holds.
  field = field.substr(0, field.find("--"));
  if (field.size() >= 2 && field.ends_with('-') &&
      WithoutBlanks(field.substr(field.size() - 2, 1)).empty()) {
    field.remove_suffix(1);
  }
  return WithoutBlanks(field);
}

bool ExpiryTagLapsed(TagDate date, Today today) {
  return date < today;
}

bool NewTagLapsed(TagDate date, std::int16_t newDays, Today today) {
  return date + std::chrono::days{newDays} < today;
}

bool ShowTagDue(TagDate date, Today today) {
  return std::chrono::floor<std::chrono::days>(date) <= today;
}

}  // namespace lapse::text
