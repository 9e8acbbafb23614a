// In-memory byte streams for the tests of the rewrite and the page layers.
#pragma once

#include <algorithm>
#include <string>

#include "text/streams.h"

namespace lapse::testing_support {

// Gives its text in pieces of at most chunk bytes, so that lines and tags
// straddle the reads.
class MemorySource final : public text::ByteSource {
 public:
  MemorySource(std::string text, std::size_t chunk) : text_(std::move(text)), chunk_(chunk) {}
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = std::min({buffer.size(), chunk_, text_.size() - offset_});
    text_.copy(buffer.data(), count, offset_);
    offset_ += count;
    return count;
  }
  std::error_code Error() const override { return {}; }

 private:
  std::string text_;
  std::size_t chunk_;
  std::size_t offset_ = 0;
};

// Collects what is written; fails once it holds more than capacity bytes.
class MemorySink final : public text::ByteSink {
 public:
  explicit MemorySink(std::size_t capacity = std::string::npos) : capacity_(capacity) {}
  bool Write(std::string_view bytes) override {
    if (error_ || text.size() + bytes.size() > capacity_) {
      error_ = std::make_error_code(std::errc::no_space_on_device);
      return false;
    }
    text.append(bytes);
    return true;
  }
  std::error_code Error() const override { return error_; }

  std::string text;

 private:
  std::size_t capacity_;
  std::error_code error_;
};

}  // namespace lapse::testing_support
