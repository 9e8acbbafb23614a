#include "batch/record_text.h"

#include <vector>

namespace lapse::batch {

std::string ReadAll(text::ByteSource& file) {
  std::string text;
  std::vector<char> buffer(std::size_t{64} * 1024);
  while (const std::size_t count = file.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  return text;
}

}  // namespace lapse::batch
