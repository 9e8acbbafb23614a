#include "engine/tags.h"

namespace lapse::engine {

namespace {

// True when the two characters belong to one number or one word, so that a
// candidate ending or starting between them would cut it in two.
bool SameRun(char left, char right) {
  return (IsDateDigit(left) && IsDateDigit(right)) || (IsDateLetter(left) && IsDateLetter(right));
}

// A candidate that cuts a number or a word in two is no reading of the date:
// "<!--LAPSE 12/31/2026" must not be read as 12/31/20.
bool CutsARun(std::string_view line, std::size_t length) {
  const std::size_t end = kDateColumn + length;
  if (SameRun(line[kDateColumn - 1], line[kDateColumn])) {
    return true;
  }
  return end < line.size() && SameRun(line[end - 1], line[end]);
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

std::optional<TagDate> ReadTagDate(std::string_view line, const DateLocale& locale) {
  if (line.size() <= kDateColumn) {
    return std::nullopt;
  }
  const std::string_view field = line.substr(kDateColumn);
  for (const std::size_t wanted : kCandidateLengths) {
    const std::size_t length = std::min(wanted, field.size());
    if (CutsARun(line, length)) {
      continue;
    }
    if (auto date = ParseDate(field.substr(0, length), locale)) {
      return date;
    }
  }
  return std::nullopt;
}

bool ExpiryTagLapsed(TagDate date, Today today) {
  return date < today;
}

bool NewTagLapsed(TagDate date, std::int16_t newDays, Today today) {
  return date + std::chrono::days{newDays} < today;
}

}  // namespace lapse::engine
