// Pages kept compressed with gzip, read and written through zlib.
#pragma once

#include <memory>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "text/streams.h"

namespace lapse::pages {

// What a gzip stream (one member or several, one after another) holds.
class GzipSource final : public text::ByteSource {
 public:
  explicit GzipSource(text::ByteSource& raw);
  ~GzipSource() override;
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;

  std::size_t Read(std::span<char> buffer) override;
  std::error_code Error() const override { return error_ ? error_ : raw_.Error(); }

 private:
  struct Stream;
  text::ByteSource& raw_;
  std::unique_ptr<Stream> stream_;
  std::vector<char> in_;
  bool ended_ = false;
  std::error_code error_;
};

// Compresses what it is given into a gzip stream; Finish() ends it.
class GzipSink final : public text::ByteSink {
 public:
  explicit GzipSink(text::ByteSink& out);
  ~GzipSink() override;
  GzipSink(const GzipSink&) = delete;
  GzipSink& operator=(const GzipSink&) = delete;

  bool Write(std::string_view bytes) override;
  std::error_code Error() const override { return out_.Error(); }
  bool Finish();

 private:
  bool Deflate(std::string_view bytes, int flush);

  struct Stream;
  text::ByteSink& out_;
  std::unique_ptr<Stream> stream_;
  std::vector<char> out8_;
  bool failed_ = false;
};

}  // namespace lapse::pages
