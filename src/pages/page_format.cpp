#include "pages/page_format.h"

#include <algorithm>
#include <cstring>

namespace lapse::pages {

namespace {

constexpr std::string_view kGzipMagic = "\x1F\x8B";

// The first bytes of files that are no text, whatever their name says: a
// line break put into them would break them.
struct Magic {
  std::string_view bytes;
  Content content;
};
constexpr Magic kMagics[] = {
    // zstd, bzip2 and xz: pages Lapse cannot rewrite inside.
    {"\x28\xB5\x2F\xFD", Content::Compressed},
    {"BZh", Content::Compressed},
    {std::string_view("\xFD\x37\x7A\x58\x5A\x00", 6), Content::Compressed},
    {"PK\x03\x04", Content::Archive},
    {"PK\x05\x06", Content::Archive},
    {"7z\xBC\xAF\x27\x1C", Content::Archive},
    {"Rar!\x1A\x07", Content::Archive},
    {"%PDF-", Content::Pdf},
    {"\x89PNG\r\n\x1A\n", Content::Image},
    {"\xFF\xD8\xFF", Content::Image},
    {"GIF87a", Content::Image},
    {"GIF89a", Content::Image},
    {std::string_view("II*\0", 4), Content::Image},
    {std::string_view("MM\0*", 4), Content::Image},
    {std::string_view("\0\0\1\0", 4), Content::Image},
};
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";

Content ContentOf(std::string_view head) {
  for (const Magic& magic : kMagics) {
    if (head.starts_with(magic.bytes)) {
      return magic.content;
    }
  }
  // A WebP image: "RIFF", its size, "WEBP".
  if (head.size() >= 12 && head.starts_with("RIFF") && head.substr(8, 4) == "WEBP") {
    return Content::Image;
  }
  return Content::Text;
}

std::string_view MarkOf(Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8WithMark:
      return kUtf8Mark;
    case Encoding::Utf16LittleEndian:
      return kUtf16LittleEndianMark;
    case Encoding::Utf16BigEndian:
      return kUtf16BigEndianMark;
    case Encoding::Bytes:
      break;
  }
  return {};
}

}  // namespace

bool NamedAsCompressed(const std::filesystem::path& name) {
  return name.native().ends_with(std::filesystem::path(".br").native());
}

std::string_view PeekingSource::Peek(std::size_t count) {
  return Fill(std::min<std::size_t>(count, kLongestPeek));
}

std::string_view PeekingSource::FirstBlock() {
  return Fill(kFirstBlock);
}

std::string_view PeekingSource::Fill(std::size_t count) {
  if (!head_) {
    head_.reset(new char[kFirstPiece]);  // NOLINT(cppcoreguidelines-owning-memory)
  }
  while (size_ < count && !ended_) {
    const std::size_t read = inner_.Read(std::span(head_.get() + size_, kFirstPiece - size_));
    ended_ = read == 0;
    size_ += read;
  }
  return std::string_view(head_.get() + at_, std::min(count, size_) - at_);
}

void PeekingSource::Skip(std::size_t count) {
  at_ = std::min(at_ + count, size_);
}

std::size_t PeekingSource::Read(std::span<char> buffer) {
  if (at_ < size_) {
    const std::size_t take = std::min(size_ - at_, buffer.size());
    std::memcpy(buffer.data(), head_.get() + at_, take);
    at_ += take;
    return take;
  }
  return ended_ ? 0 : inner_.Read(buffer);
}

PageSource::PageSource(text::ByteSource& raw) : raw_(raw) {
  const std::string_view head = raw_.Peek(PeekingSource::kLongestPeek);
  compression_ = head.starts_with(kGzipMagic) ? Compression::Gzip : Compression::None;
  content_ = compression_ == Compression::Gzip ? Content::Text : ContentOf(head);
  // The text is the file itself, or what its gzip stream holds.
  PeekingSource* text = &raw_;
  if (compression_ == Compression::Gzip) {
    text = &text_.emplace(gzip_.emplace(raw_));
  }
  PeekingSource& peeking = *text;
  const std::string_view textHead = peeking.Peek(3);
  if (textHead.starts_with(kUtf8Mark)) {
    encoding_ = Encoding::Utf8WithMark;
  } else if (textHead.starts_with(kUtf16LittleEndianMark)) {
    encoding_ = Encoding::Utf16LittleEndian;
  } else if (textHead.starts_with(kUtf16BigEndianMark)) {
    encoding_ = Encoding::Utf16BigEndian;
  }
  const bool utf16 =
      encoding_ == Encoding::Utf16LittleEndian || encoding_ == Encoding::Utf16BigEndian;
  if (content_ == Content::Text && !utf16 &&
      peeking.FirstBlock().find('\0') != std::string_view::npos) {
    content_ = Content::Binary;
  }
  // The mark is no part of the first line; the copy gets it back first.
  peeking.Skip(MarkOf(encoding_).size());
  top_ = &peeking;
  if (utf16) {
    top_ =
        &utf16_.emplace(peeking, encoding_ == Encoding::Utf16LittleEndian ? ByteOrder::LittleEndian
                                                                          : ByteOrder::BigEndian);
  }
}

// UTF-16 pages count their own characters; 8-bit pages, with a mark or not,
// count bytes as ever.
text::TextUnits PageSource::units() const {
  return utf16_ ? text::TextUnits::Utf8Characters : text::TextUnits::Bytes;
}

PageSink::PageSink(text::ByteSink& out, const PageSource& page) : out_(out) {
  text::ByteSink* under = &out_;
  if (page.compression() == Compression::Gzip) {
    under = &gzip_.emplace(out_);
  }
  // The mark goes first, as the page holds it, whatever follows.
  const std::string_view mark = MarkOf(page.encoding());
  marked_ = mark.empty() || under->Write(mark);
  top_ = under;
  if (page.encoding() == Encoding::Utf16LittleEndian ||
      page.encoding() == Encoding::Utf16BigEndian) {
    top_ = &utf16_.emplace(*under, page.encoding() == Encoding::Utf16LittleEndian
                                       ? ByteOrder::LittleEndian
                                       : ByteOrder::BigEndian);
  }
}

bool PageSink::Finish() {
  bool written = marked_;
  if (utf16_) {
    written = utf16_->Flush() && written;
  }
  if (gzip_) {
    written = gzip_->Finish() && written;
  }
  return written;
}

}  // namespace lapse::pages
