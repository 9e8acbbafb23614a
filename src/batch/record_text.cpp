#include "batch/record_text.h"

#include <vector>

namespace lapse::batch {

platform::Expected<std::string> ReadAll(text::ByteSource& file) {
  std::string text;
  std::vector<char> buffer(std::size_t{64} * 1024);
  while (const std::size_t count = file.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  if (file.Error()) {
    return file.Error();
  }
  return text;
}

bool TakeHash(std::string_view& text, std::optional<std::uint64_t>& hash) {
  if (text.starts_with(kNoHash) && text.substr(kNoHash.size()).starts_with(' ')) {
    text.remove_prefix(kNoHash.size() + 1);
    hash.reset();
    return true;
  }
  std::uint64_t value = 0;
  if (!Take(text, value, 16)) {
    return false;
  }
  hash = value;
  return true;
}

}  // namespace lapse::batch
