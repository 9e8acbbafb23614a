#include "batch/run_record.h"

#include <charconv>

#include "engine/io.h"

namespace lapse::batch {

namespace {

// A name may hold any byte but NUL, a line feed included.
constexpr std::string_view kHeader = "lapse sources 1\n";
constexpr char kNameEnd = '\0';

template <typename Number>
void Append(std::string& text, Number number) {
  text += std::to_string(number);
  text += ' ';
}

template <typename Number>
bool Take(std::string_view& text, Number& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end == text.data() + text.size() || *end != ' ') {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

}  // namespace

std::string_view RunRecordHeader() {
  return kHeader;
}

std::string FormatRecordEntry(const std::filesystem::path& name, const CopyRecord& copy) {
  std::string text;
  const engine::FileStamp& source = copy.source;
  Append(text, source.size);
  Append(text, source.modified);
  Append(text, source.device);
  Append(text, source.inode);
  Append(text, copy.copySize);
  text += engine::PathText(name);
  text += kNameEnd;
  return text;
}

RunRecord ParseRunRecord(std::string_view text) {
  RunRecord record;
  if (!text.starts_with(kHeader)) {
    return record;
  }
  text.remove_prefix(kHeader.size());
  while (!text.empty()) {
    CopyRecord copy;
    engine::FileStamp& source = copy.source;
    if (!Take(text, source.size) || !Take(text, source.modified) ||
        !Take(text, source.device) || !Take(text, source.inode) ||
        !Take(text, copy.copySize)) {
      return {};
    }
    const std::size_t nameLength = text.find(kNameEnd);
    if (nameLength == std::string_view::npos) {
      return {};
    }
    record[engine::PathFromText(text.substr(0, nameLength))] = copy;
    text.remove_prefix(nameLength + 1);
  }
  return record;
}

}  // namespace lapse::batch
