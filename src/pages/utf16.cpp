#include "pages/utf16.h"

#include <algorithm>
#include <cstring>

#include "pages/page_errors.h"

namespace lapse::pages {

namespace {

constexpr std::size_t kInputSize = std::size_t{64} * 1024;

bool IsLeadSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsTrailSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The UTF-8 bytes of value (up to 0x10FFFF, surrogates included) at out.
std::size_t EncodeUtf8(std::uint32_t value, unsigned char* out) {
  if (value < 0x80) {
    out[0] = static_cast<unsigned char>(value);
    return 1;
  }
  if (value < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 2;
  }
  if (value < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 3;
  }
  out[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
  out[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
  return 4;
}

// The length of the sequence that lead starts, or 0 for a byte that starts
// none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC0 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF7) {
    return 4;
  }
  return 0;
}

}  // namespace

Utf16Source::Utf16Source(text::ByteSource& raw, ByteOrder order)
    : raw_(raw), order_(order), in_(kInputSize) {}

bool Utf16Source::NextUnit(std::uint16_t& unit) {
  if (haveAhead_) {
    haveAhead_ = false;
    unit = ahead_;
    return true;
  }
  while (inSize_ - inAt_ < 2 && !ended_) {
    // A byte left over from the last read starts the next unit.
    const std::size_t left = inSize_ - inAt_;
    std::memmove(in_.data(), in_.data() + inAt_, left);
    inAt_ = 0;
    const std::size_t count = raw_.Read(std::span(in_.data() + left, in_.size() - left));
    inSize_ = left + count;
    if (count == 0) {
      ended_ = true;
      if (left != 0 && !raw_.Error()) {
        error_ = HalfUnitError();
      }
    }
  }
  if (inSize_ - inAt_ < 2) {
    return false;
  }
  const auto first = static_cast<unsigned char>(in_[inAt_]);
  const auto second = static_cast<unsigned char>(in_[inAt_ + 1]);
  inAt_ += 2;
  unit = order_ == ByteOrder::LittleEndian ? static_cast<std::uint16_t>(first | (second << 8))
                                           : static_cast<std::uint16_t>((first << 8) | second);
  return true;
}

std::size_t Utf16Source::Read(std::span<char> buffer) {
  std::size_t count = 0;
  while (count < buffer.size()) {
    if (pendingAt_ < pendingSize_) {
      const std::size_t take = std::min(pendingSize_ - pendingAt_, buffer.size() - count);
      std::memcpy(buffer.data() + count, pending_.data() + pendingAt_, take);
      pendingAt_ += take;
      count += take;
      continue;
    }
    std::uint16_t unit = 0;
    if (!NextUnit(unit)) {
      break;
    }
    std::uint32_t value = unit;
    std::uint16_t next = 0;
    if (IsLeadSurrogate(unit) && NextUnit(next)) {
      if (IsTrailSurrogate(next)) {
        value = 0x10000 + ((std::uint32_t{unit} - 0xD800) << 10) + (next - 0xDC00);
      } else {
        haveAhead_ = true;
        ahead_ = next;
      }
    }
    pendingSize_ = EncodeUtf8(value, pending_.data());
    pendingAt_ = 0;
  }
  return count;
}

void Utf16Sink::Put(std::uint16_t unit) {
  const auto high = static_cast<char>(unit >> 8);
  const auto low = static_cast<char>(unit & 0xFF);
  out16_[out16Size_++] = order_ == ByteOrder::LittleEndian ? low : high;
  out16_[out16Size_++] = order_ == ByteOrder::LittleEndian ? high : low;
  if (out16Size_ == out16_.size()) {
    Flush();
  }
}

bool Utf16Sink::Write(std::string_view bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (sequenceSize_ == 0) {
      sequenceLength_ = SequenceLength(byte);
      if (sequenceLength_ <= 1) {
        // ASCII, and a byte that starts no sequence: one unit each.
        Put(byte);
        continue;
      }
    }
    sequence_[sequenceSize_++] = byte;
    if (sequenceSize_ < sequenceLength_) {
      continue;
    }
    std::uint32_t value = sequence_[0] & (0xFF >> (sequenceLength_ + 1));
    for (std::size_t i = 1; i < sequenceLength_; ++i) {
      value = (value << 6) | (sequence_[i] & 0x3F);
    }
    if (value >= 0x10000) {
      value -= 0x10000;
      Put(static_cast<std::uint16_t>(0xD800 + (value >> 10)));
      Put(static_cast<std::uint16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      Put(static_cast<std::uint16_t>(value));
    }
    sequenceSize_ = 0;
  }
  return !failed_;
}

bool Utf16Sink::Flush() {
  if (out16Size_ != 0 && !failed_) {
    failed_ = !out_.Write(std::string_view(out16_.data(), out16Size_));
  }
  out16Size_ = 0;
  return !failed_;
}

}  // namespace lapse::pages
