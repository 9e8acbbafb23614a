// Pages kept compressed with gzip, read and written through zlib.
#pragma once

#include <memory>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/io.h"

namespace lapse::engine {

// "the gzip stream is damaged" and "the gzip stream ends too soon".
std::error_code DamagedGzipError();
std::error_code TruncatedGzipError();

// What a gzip stream (one member or several, one after another) holds.
class GzipSource final : public ByteSource {
 public:
  explicit GzipSource(ByteSource& raw);
  ~GzipSource() override;
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;

  std::size_t Read(std::span<char> buffer) override;
  std::error_code Error() const override { return error_ ? error_ : raw_.Error(); }

 private:
  struct Stream;
  ByteSource& raw_;
  std::unique_ptr<Stream> stream_;
  std::vector<char> in_;
  bool ended_ = false;
  std::error_code error_;
};

// Compresses what it is given into a gzip stream; Finish() ends it.
class GzipSink final : public ByteSink {
 public:
  explicit GzipSink(ByteSink& out);
  ~GzipSink() override;
  GzipSink(const GzipSink&) = delete;
  GzipSink& operator=(const GzipSink&) = delete;

  bool Write(std::string_view bytes) override;
  std::error_code Error() const override { return out_.Error(); }
  bool Finish();

 private:
  bool Deflate(std::string_view bytes, int flush);

  struct Stream;
  ByteSink& out_;
  std::unique_ptr<Stream> stream_;
  std::vector<char> out8_;
  bool failed_ = false;
};

}  // namespace lapse::engine
