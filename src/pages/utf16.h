// Pages saved as UTF-16, read and written as 8-bit text for the rewriter.
//
// Each 16-bit unit becomes its UTF-8 sequence, a surrogate pair the sequence
// of its character, and a surrogate without its partner the three bytes of
// its value (as WTF-8 does), so that every unit comes back unchanged: CR and
// LF stay single bytes, and no other unit yields one of them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <vector>

#include "text/streams.h"

namespace lapse::pages {

enum class ByteOrder { LittleEndian, BigEndian };

// The units of raw, after its byte-order mark, as 8-bit text.
class Utf16Source final : public text::ByteSource {
 public:
  Utf16Source(text::ByteSource& raw, ByteOrder order);
  std::size_t Read(std::span<char> buffer) override;
  std::error_code Error() const override { return error_ ? error_ : raw_.Error(); }

 private:
  // The next unit, or nothing at the end of the data or on failure.
  bool NextUnit(std::uint16_t& unit);

  text::ByteSource& raw_;
  ByteOrder order_;
  std::vector<char> in_;
  std::size_t inAt_ = 0;
  std::size_t inSize_ = 0;
  bool ended_ = false;
  // A unit read ahead to see whether it completes a surrogate pair.
  bool haveAhead_ = false;
  std::uint16_t ahead_ = 0;
  // The bytes of the last unit that did not fit the caller's buffer.
  std::array<unsigned char, 4> pending_{};
  std::size_t pendingAt_ = 0;
  std::size_t pendingSize_ = 0;
  std::error_code error_;
};

// 8-bit text as Utf16Source gives it, written back as the same units.
class Utf16Sink final : public text::ByteSink {
 public:
  Utf16Sink(text::ByteSink& out, ByteOrder order) : out_(out), order_(order) {}
  bool Write(std::string_view bytes) override;
  std::error_code Error() const override { return out_.Error(); }
  // Writes what is held; false when the last write failed.
  bool Flush();

 private:
  void Put(std::uint16_t unit);

  text::ByteSink& out_;
  ByteOrder order_;
  std::array<unsigned char, 4> sequence_{};
  std::size_t sequenceSize_ = 0;
  std::size_t sequenceLength_ = 0;
  std::array<char, std::size_t{16} * 1024> out16_{};
  std::size_t out16Size_ = 0;
  bool failed_ = false;
};

}  // namespace lapse::pages
