#include "front/shown_text.h"

#include <utf8.h>

#include <algorithm>
#include <optional>

#include "text/names.h"

namespace lapse::front {

namespace {

// Nothing for a line of ASCII, which reads the same either way.
std::optional<TextEncoding> EncodingOf(std::string_view line) {
  if (std::all_of(line.begin(), line.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::nullopt;
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8
  // either: a byte sequence that holds one came from 8-bit text.
  return utf8::is_valid(line.begin(), line.end()) ? TextEncoding::Utf8 : TextEncoding::EightBit;
}

}  // namespace

ShownText TextToShow(std::string_view start, bool more) {
  ShownText shown;
  shown.cut = more;
  if (more) {
    const std::size_t lastBreak = start.rfind('\n');
    if (lastBreak != std::string_view::npos) {
      start = start.substr(0, lastBreak + 1);
    }
  }
  // The first line that is not ASCII decides the encoding of the ASCII
  // lines before it; an ASCII line after a run joins that run.
  std::optional<TextEncoding> current;
  std::size_t runStart = 0;
  std::size_t at = 0;
  while (at < start.size()) {
    const std::size_t lineBreak = start.find('\n', at);
    const std::size_t end = lineBreak == std::string_view::npos ? start.size() : lineBreak + 1;
    const std::optional<TextEncoding> line = EncodingOf(start.substr(at, end - at));
    if (line && current && *line != *current) {
      shown.runs.push_back({start.substr(runStart, at - runStart), *current});
      runStart = at;
    }
    if (line) {
      current = line;
    }
    at = end;
  }
  if (runStart < start.size()) {
    shown.runs.push_back({start.substr(runStart), current.value_or(TextEncoding::Utf8)});
  }
  return shown;
}

std::string TextWindowTitle(const std::filesystem::path& file) {
  std::string name = text::DisplayName(file.filename());
  if (!file.has_parent_path()) {
    return name;
  }
  return name + " in " + text::DisplayName(file.parent_path());
}

}  // namespace lapse::front
