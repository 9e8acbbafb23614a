// Byte streams for the rewriter: sources and sinks that a page, a file or a
// test stands behind, and a write buffer that turns many small writes into
// few large ones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <system_error>

namespace lapse::text {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buffer.size() bytes; 0 at the end of the data or on failure.
  virtual std::size_t Read(std::span<char> buffer) = 0;
  virtual std::error_code Error() const = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all bytes, or fails; after a failure every later write fails too.
  virtual bool Write(std::string_view bytes) = 0;
  // Writes the pieces one after another, in one call where the platform can.
  virtual bool WritePieces(std::span<const std::string_view> pieces);
  virtual std::error_code Error() const = 0;
};

// Collects small writes into large ones. Bytes that stay put until the next
// Flush() can be lent instead of copied: they are written from where they lie.
class BufferedWriter {
 public:
  BufferedWriter(ByteSink& sink, std::span<char> buffer) : sink_(sink), buffer_(buffer) {}
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;

  void Write(std::string_view bytes) {
    if (bytes.size() <= buffer_.size() - used_ && pieceCount_ < pieces_.size()) {
      char* const at = buffer_.data() + used_;
      bytes.copy(at, bytes.size());
      used_ += bytes.size();
      taken_ += bytes.size();
      AddPiece(std::string_view(at, bytes.size()));
    } else {
      WriteLarge(bytes);
    }
  }
  // Writes bytes that the caller keeps unchanged until the next Flush().
  void Lend(std::string_view bytes);
  bool Flush();
  bool Failed() const { return failed_; }
  // The bytes taken so far, written or still held.
  std::uint64_t Taken() const { return taken_; }

 private:
  void AddPiece(std::string_view piece) {
    if (pieceCount_ != 0 &&
        pieces_[pieceCount_ - 1].data() + pieces_[pieceCount_ - 1].size() == piece.data()) {
      const std::string_view last = pieces_[pieceCount_ - 1];
      pieces_[pieceCount_ - 1] = std::string_view(last.data(), last.size() + piece.size());
    } else {
      pieces_[pieceCount_++] = piece;
    }
  }
  void WriteLarge(std::string_view bytes);

  static constexpr std::size_t kShortPiece = 512;

  ByteSink& sink_;
  std::span<char> buffer_;
  std::size_t used_ = 0;
  // What the next Flush() writes: ranges of buffer_ and lent bytes, in order.
  std::array<std::string_view, 64> pieces_;
  std::size_t pieceCount_ = 0;
  std::uint64_t taken_ = 0;
  bool failed_ = false;
};

}  // namespace lapse::text
