// Feeds the page layers (UTF-16 of both byte orders, gzip, and gzip of
// UTF-16) any text, and holds them to the rewriter of plain text. A crash, a
// sanitizer report or a broken property is a finding:
//  - the copy of a UTF-16 page is the page's byte-order mark and then, in
//    its encoding, exactly what the rewriter makes of the page's text as
//    8-bit text, and its log is that text's log, byte for byte;
//  - the copy of a gzip page decompresses to the copy of what it holds;
//  - a copy is said to be its page exactly when its text, out of its
//    compression, is the page's byte for byte (so an LF page in UTF-16
//    keeps its lone LFs);
//  - a gzip page cut short after its header, or with a damaged trailer, is
//    never taken for a complete one;
//  - any bytes behind a gzip magic, or a UTF-16 page of an odd length, end
//    the stream as a failed read or as a complete one, without a crash.
//
// Input layout: [0] bits 0-1: the layers (UTF-16 LE, UTF-16 BE, gzip, gzip
// of UTF-16 LE); bit 2: the units come from the text as bytes pairs (else
// each byte of the text is one unit, so that tags stay easy to find);
// [1] read size - 1; [2..3] where a gzip stream is cut or damaged; then the
// text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/page_format.h"
#include "support/memory_streams.h"
#include "text/rewrite.h"

namespace {

using lapse::pages::ByteOrder;
using lapse::testing_support::MemorySink;
using lapse::testing_support::MemorySource;
using lapse::text::BufferedWriter;
using lapse::text::StreamEnd;
using lapse::text::TextUnits;

constexpr std::size_t kHeaderSize = 4;

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "page_format_fuzz: %s\n", what);
    std::abort();
  }
}

struct Output {
  StreamEnd end;
  bool copyIsSource;
  std::string copy;
  std::string log;
};

const lapse::text::Clock kClock = [] {
  return std::chrono::local_days{std::chrono::year{2026} / 12 / 8};
};

// Rewrites source as text, through the layers of a page when page is given.
Output Rewrite(lapse::text::ByteSource& source, std::size_t readSize, TextUnits units,
               const lapse::pages::PageSource* page) {
  std::vector<char> readBuffer(readSize);
  std::vector<char> copyBuffer(64);
  std::vector<char> logBuffer(64);
  MemorySink copySink;
  MemorySink logSink;
  std::optional<lapse::pages::PageSink> layers;
  lapse::text::ByteSink* sink = &copySink;
  if (page != nullptr) {
    sink = &layers.emplace(copySink, *page);
  }
  BufferedWriter copy(*sink, copyBuffer);
  BufferedWriter log(logSink, logBuffer);
  const lapse::text::RewrittenStream rewritten =
      lapse::text::RewriteStream(source, units, readBuffer, {copy, &log, "page.htm"},
                                 {30, 1, lapse::text::EnglishDateLocale(), kClock});
  StreamEnd end = rewritten.end;
  if (layers && !layers->Finish() && end == StreamEnd::Complete) {
    end = StreamEnd::CopyFailed;
  }
  return {end, rewritten.copyIsSource, std::move(copySink.text), std::move(logSink.text)};
}

std::string Units(std::u16string_view units, ByteOrder order) {
  std::string bytes;
  for (const char16_t unit : units) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += order == ByteOrder::LittleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

std::string Mark(ByteOrder order) {
  return order == ByteOrder::LittleEndian ? "\xFF\xFE" : "\xFE\xFF";
}

std::string Gzip(std::string_view text) {
  MemorySink out;
  lapse::pages::GzipSink gzip(out);
  gzip.Write(text);
  gzip.Finish();
  return out.text;
}

// What a UTF-16 page's text reads as, and back.
std::string Decoded(const std::string& bytes, ByteOrder order) {
  MemorySource raw(bytes, 4096);
  lapse::pages::Utf16Source source(raw, order);
  std::string text;
  std::vector<char> buffer(4096);
  while (const std::size_t count = source.Read(buffer)) {
    text.append(buffer.data(), count);
  }
  return text;
}

std::string Encoded(std::string_view text, ByteOrder order) {
  MemorySink out;
  lapse::pages::Utf16Sink sink(out, order);
  sink.Write(text);
  sink.Flush();
  return out.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) {
    return 0;
  }
  const std::string_view text(reinterpret_cast<const char*>(data + kHeaderSize),
                              size - kHeaderSize);
  const int layers = data[0] & 3;
  const bool utf16 = layers != 2;
  const ByteOrder order = layers == 1 ? ByteOrder::BigEndian : ByteOrder::LittleEndian;
  const std::size_t readSize = 1 + std::size_t{data[1]};

  std::string page(text);
  if (utf16) {
    if ((data[0] & 4) != 0) {
      page = Mark(order) + std::string(text);
    } else {
      std::u16string units(text.begin(), text.end());
      for (char16_t& unit : units) {
        unit = static_cast<unsigned char>(unit);
      }
      page = Mark(order) + Units(units, order);
    }
  }
  // One layer of compression only: gzip inside gzip is text to Lapse, and
  // the reference below would read it as a stream of its own.
  if (!utf16 && page.starts_with("\x1F\x8B")) {
    page.insert(0, 1, ' ');
  }
  const std::string plain = page;  // before any compression
  if (layers >= 2) {
    page = Gzip(page);
  }

  MemorySource raw(page, readSize);
  lapse::pages::PageSource source(raw);
  const Output layered = Rewrite(source, readSize, source.units(), &source);
  if (utf16 && plain.size() % 2 != 0) {
    Check(layered.end != StreamEnd::Complete, "a UTF-16 page of odd length reads as whole");
    return 0;
  }

  // What the copy must be, uncompressed: for UTF-16, the rewrite of the
  // page's text as 8-bit text, encoded again behind the mark; for gzip of
  // 8-bit text, the rewrite of what it holds (which may start with a mark of
  // its own).
  Output expected;
  if (utf16) {
    const std::string body = Decoded(plain.substr(2), order);
    MemorySource bodySource(body, 4096);
    expected = Rewrite(bodySource, 4096, TextUnits::Utf8Characters, nullptr);
    expected.copy = Mark(order) + Encoded(expected.copy, order);
  } else {
    MemorySource plainRaw(plain, 4096);
    lapse::pages::PageSource plainSource(plainRaw);
    expected = Rewrite(plainSource, 4096, plainSource.units(), &plainSource);
  }
  Check(layered.end == expected.end, "the layers change how the stream ends");
  Check(layered.log == expected.log, "the layers change the log");
  if (expected.end == StreamEnd::Complete) {
    std::string copy = layered.copy;
    if (layers >= 2) {
      MemorySource compressed(copy, 4096);
      lapse::pages::GzipSource gunzip(compressed);
      std::string inflated;
      std::vector<char> buffer(4096);
      while (const std::size_t count = gunzip.Read(buffer)) {
        inflated.append(buffer.data(), count);
      }
      Check(!gunzip.Error(), "a copy's gzip stream does not decompress");
      copy = inflated;
    }
    Check(copy == expected.copy, "the copy is not the text's copy in the page's layers");
    Check(layered.copyIsSource == (copy == plain),
          "the copy is said to be its page when it is not, or not when it is");
  }

  // Cut short after its header, or with its trailer damaged, a gzip page
  // never reads as whole.
  if (layers >= 2 && page.size() > 10) {
    const std::size_t at = 10 + (data[2] | (data[3] << 8)) % (page.size() - 10);
    for (const bool cut : {true, false}) {
      std::string broken = page;
      if (cut) {
        broken.resize(at);
      } else {
        // The check sum or the length in the trailer: damage elsewhere may
        // decode to the same text (a repeat found at another distance, the
        // unused bits of the last byte), which is no fault.
        char& trailer = broken[broken.size() - 1 - at % 8];
        trailer = static_cast<char>(trailer ^ 0x55);
      }
      MemorySource brokenRaw(broken, readSize);
      lapse::pages::PageSource brokenSource(brokenRaw);
      const Output damaged = Rewrite(brokenSource, readSize, brokenSource.units(), &brokenSource);
      Check(damaged.end != StreamEnd::Complete, "a broken gzip page reads as whole");
    }
  }

  // Any bytes behind the gzip magic.
  MemorySource anyRaw("\x1F\x8B" + std::string(text), readSize);
  lapse::pages::PageSource any(anyRaw);
  Rewrite(any, readSize, any.units(), &any);
  return 0;
}
