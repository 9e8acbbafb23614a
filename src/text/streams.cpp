#include "text/streams.h"

namespace lapse::text {

bool ByteSink::WritePieces(std::span<const std::string_view> pieces) {
  for (const std::string_view piece : pieces) {
    if (!Write(piece)) {
      return false;
    }
  }
  return true;
}

void BufferedWriter::Lend(std::string_view bytes) {
  if (bytes.empty()) {
    return;
  }
  // A short piece costs less copied than written on its own: lines whose
  // ends change come in many of them.
  if (bytes.size() <= kShortPiece && bytes.size() <= buffer_.size() - used_) {
    Write(bytes);
    return;
  }
  if (pieceCount_ == pieces_.size()) {
    Flush();
  }
  taken_ += bytes.size();
  AddPiece(bytes);
}

bool BufferedWriter::Flush() {
  if (pieceCount_ != 0 && !failed_) {
    failed_ = !sink_.WritePieces(std::span(pieces_.data(), pieceCount_));
  }
  pieceCount_ = 0;
  used_ = 0;
  return !failed_;
}

void BufferedWriter::WriteLarge(std::string_view bytes) {
  Flush();
  if (bytes.size() >= buffer_.size()) {
    taken_ += bytes.size();
    if (!failed_) {
      failed_ = !sink_.Write(bytes);
    }
    return;
  }
  Write(bytes);
}

}  // namespace lapse::text
