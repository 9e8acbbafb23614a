#include "pages/gzip.h"

#include <zlib.h>

#include <limits>

#include "pages/page_errors.h"

namespace lapse::pages {

namespace {

constexpr std::size_t kBufferSize = std::size_t{64} * 1024;
// zlib's window of 2^15 bytes, plus 16: a gzip header and trailer, not zlib's.
constexpr int kGzipWindow = 15 + 16;

uInt Size(std::size_t size) {
  return static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
}

}  // namespace

struct GzipSource::Stream {
  z_stream z{};
  bool open = false;
};

GzipSource::GzipSource(text::ByteSource& raw)
    : raw_(raw), stream_(std::make_unique<Stream>()), in_(kBufferSize) {
  stream_->open = inflateInit2(&stream_->z, kGzipWindow) == Z_OK;
  if (!stream_->open) {
    error_ = std::make_error_code(std::errc::not_enough_memory);
  }
}

GzipSource::~GzipSource() {
  if (stream_->open) {
    inflateEnd(&stream_->z);
  }
}

std::size_t GzipSource::Read(std::span<char> buffer) {
  z_stream& z = stream_->z;
  if (error_ || buffer.empty()) {
    return 0;
  }
  z.next_out = reinterpret_cast<Bytef*>(buffer.data());
  z.avail_out = Size(buffer.size());
  while (z.avail_out == Size(buffer.size())) {
    if (z.avail_in == 0 && !ended_) {
      const std::size_t count = raw_.Read(in_);
      z.next_in = reinterpret_cast<Bytef*>(in_.data());
      z.avail_in = static_cast<uInt>(count);
      ended_ = count == 0;
    }
    if (z.avail_in == 0 && ended_) {
      // The data ends: between members is its end, anywhere else too soon.
      if (z.total_in != 0 && !raw_.Error()) {
        error_ = TruncatedGzipError();
      }
      break;
    }
    const int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      // Another member may follow; the data may as well end here.
      inflateReset(&z);
      z.total_in = 0;
      continue;
    }
    if (result != Z_OK && result != Z_BUF_ERROR) {
      error_ = DamagedGzipError();
      break;
    }
  }
  return buffer.size() - z.avail_out;
}

struct GzipSink::Stream {
  z_stream z{};
  bool open = false;
};

GzipSink::GzipSink(text::ByteSink& out)
    : out_(out), stream_(std::make_unique<Stream>()), out8_(kBufferSize) {
  // gzip's own default level: the best one makes a page of text about half
  // a percent smaller and takes a fifth longer.
  stream_->open = deflateInit2(&stream_->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindow, 9,
                               Z_DEFAULT_STRATEGY) == Z_OK;
  failed_ = !stream_->open;
}

GzipSink::~GzipSink() {
  if (stream_->open) {
    deflateEnd(&stream_->z);
  }
}

bool GzipSink::Deflate(std::string_view bytes, int flush) {
  z_stream& z = stream_->z;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = Size(bytes.size());
  int result = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(out8_.data());
    z.avail_out = Size(out8_.size());
    result = deflate(&z, flush);
    const std::size_t produced = out8_.size() - z.avail_out;
    if (produced != 0 && !out_.Write(std::string_view(out8_.data(), produced))) {
      return false;
    }
  } while (z.avail_out == 0 || (flush == Z_FINISH && result == Z_OK));
  return result != Z_STREAM_ERROR;
}

bool GzipSink::Write(std::string_view bytes) {
  while (!failed_ && !bytes.empty()) {
    const std::size_t take = Size(bytes.size());
    failed_ = !Deflate(bytes.substr(0, take), Z_NO_FLUSH);
    bytes.remove_prefix(take);
  }
  return !failed_;
}

bool GzipSink::Finish() {
  if (!failed_) {
    failed_ = !Deflate({}, Z_FINISH);
  }
  return !failed_;
}

}  // namespace lapse::pages
