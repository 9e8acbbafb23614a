// How a page is kept, told by its first bytes: compressed with gzip, with
// another compression, or not; and as 8-bit text, as UTF-8 behind a
// byte-order mark, or as UTF-16 of either byte order. The rewriter reads and
// writes every page through these layers, so that it sees 8-bit text only.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "pages/gzip.h"
#include "pages/utf16.h"
#include "text/streams.h"
#include "text/tags.h"

namespace lapse::pages {

enum class Compression { None, Gzip };
// What a file holds, by its first bytes: text Lapse rewrites (plain or
// inside gzip), or something it leaves as it is. Binary is what holds a NUL
// byte in its first block (out of gzip where it is compressed), unless it
// is UTF-16 behind a byte-order mark: 8-bit text holds none, and programs,
// databases, fonts and UTF-16 without a mark would be broken by line breaks.
enum class Content { Text, Compressed, Image, Pdf, Archive, Binary };
enum class Encoding { Bytes, Utf8WithMark, Utf16LittleEndian, Utf16BigEndian };

// A name that says its file is compressed (".br") whatever its bytes.
bool NamedAsCompressed(const std::filesystem::path& name);

// A source that can look at its first bytes before they are read. The look
// reads a whole first piece, which most pages fit in, so that it costs no
// read of its own.
class PeekingSource final : public text::ByteSource {
 public:
  explicit PeekingSource(text::ByteSource& inner) : inner_(inner) {}
  static constexpr std::size_t kLongestPeek = 12;
  // How much of a file tells whether it is text: the first 8 KiB.
  static constexpr std::size_t kFirstBlock = std::size_t{8} * 1024;
  // Up to count (at most kLongestPeek) of the first bytes; fewer where the
  // data ends.
  std::string_view Peek(std::size_t count);
  // The first kFirstBlock bytes, fewer where the data ends. They lie in the
  // first piece, which the page's reading takes up afterwards: the look
  // costs no read that the page would not make anyway.
  std::string_view FirstBlock();
  void Skip(std::size_t count);
  std::size_t Read(std::span<char> buffer) override;
  std::error_code Error() const override { return inner_.Error(); }

 private:
  static constexpr std::size_t kFirstPiece = std::size_t{64} * 1024;
  static_assert(kFirstBlock <= kFirstPiece);
  // Up to count bytes from at_ in the first piece.
  std::string_view Fill(std::size_t count);

  text::ByteSource& inner_;
  // Left uninitialised: the look fills what it reads.
  std::unique_ptr<char[]> head_;
  std::size_t at_ = 0;
  std::size_t size_ = 0;
  // The inner source has said it ended: it is asked no more.
  bool ended_ = false;
};

// A page's text, out of its compression and its encoding.
class PageSource final : public text::ByteSource {
 public:
  explicit PageSource(text::ByteSource& raw);
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  Compression compression() const { return compression_; }
  Content content() const { return content_; }
  Encoding encoding() const { return encoding_; }
  // How the tag rules count characters in the text this source gives.
  text::TextUnits units() const;
  std::size_t Read(std::span<char> buffer) override { return top_->Read(buffer); }
  std::error_code Error() const override { return top_->Error(); }

 private:
  PeekingSource raw_;
  Compression compression_ = Compression::None;
  Content content_ = Content::Text;
  std::optional<GzipSource> gzip_;
  std::optional<PeekingSource> text_;
  Encoding encoding_ = Encoding::Bytes;
  std::optional<Utf16Source> utf16_;
  text::ByteSource* top_ = nullptr;
};

// Writes text as a copy of a page: with the page's byte-order mark at its
// start, in its encoding, and in its compression.
class PageSink final : public text::ByteSink {
 public:
  PageSink(text::ByteSink& out, const PageSource& page);
  PageSink(const PageSink&) = delete;
  PageSink& operator=(const PageSink&) = delete;

  bool Write(std::string_view bytes) override { return top_->Write(bytes); }
  // Plain pages go on in one call, as the file takes them.
  bool WritePieces(std::span<const std::string_view> pieces) override {
    return top_->WritePieces(pieces);
  }
  std::error_code Error() const override { return out_.Error(); }
  // Ends the encoding and the compression; false when a write failed.
  bool Finish();

 private:
  text::ByteSink& out_;
  std::optional<GzipSink> gzip_;
  std::optional<Utf16Sink> utf16_;
  text::ByteSink* top_ = nullptr;
  bool marked_ = false;
};

}  // namespace lapse::pages
