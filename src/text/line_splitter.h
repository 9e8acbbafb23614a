// Splits a byte stream into lines without ever holding a whole line.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "text/tags.h"

namespace lapse::text {

// A line ends at CR LF, at a lone CR, at a lone LF, or at the end of the data;
// the terminator is not part of the line. For each line the handler gets:
//   bool Head(std::string_view head)  the first kLineHeadBytes bytes (fewer
//                                     when the line is shorter); false stops
//   void Body(std::string_view bytes) the rest of the line, in pieces
//   void End(std::string_view ending) the line has ended; ending is its
//                                     terminator as it lies in the chunk, or
//                                     less of it where a chunk or the data ends
// and, at the start of a line, the chance to take whole lines in one piece:
//   std::size_t PlainLines(std::string_view rest)
//                                     rest is the chunk from that line on; the
//                                     handler returns the length of the whole
//                                     lines it took, which are not split
// Lines may straddle the chunks given to Feed() at any byte. Body bytes, and
// a head that lies whole in one chunk, are views of the chunk itself, so a
// handler can pass runs of lines on without copying them line by line.
class LineSplitter {
 public:
  template <class Handler>
  bool Feed(std::string_view chunk, Handler& handler);

  // Ends the last line when the data does not end with a terminator.
  template <class Handler>
  bool Finish(Handler& handler);

 private:
  std::array<char, kLineHeadBytes> head_{};
  std::size_t headSize_ = 0;
  bool inBody_ = false;
  bool skipLineFeed_ = false;  // the previous chunk ended with a CR
};

template <class Handler>
bool LineSplitter::Feed(std::string_view chunk, Handler& handler) {
  const char* p = chunk.data();
  const char* const end = p + chunk.size();
  // The next CR and LF at or after p; found once and kept until passed.
  const char* nextCr = nullptr;
  const char* nextLf = nullptr;
  auto lineEnd = [&]() {
    if (nextCr < p) {
      nextCr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
      if (nextCr == nullptr)
        nextCr = end;
    }
    if (nextLf < p) {
      nextLf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (nextLf == nullptr)
        nextLf = end;
    }
    return std::min(nextCr, nextLf);
  };

  while (p < end) {
    if (skipLineFeed_) {
      skipLineFeed_ = false;
      if (*p == '\n') {
        ++p;
        continue;
      }
    }
    if (!inBody_ && headSize_ == 0) {
      p += handler.PlainLines(std::string_view(p, static_cast<std::size_t>(end - p)));
      if (p == end) {
        break;
      }
    }
    const char* const eol = lineEnd();
    if (!inBody_) {
      const auto take =
          std::min<std::size_t>(static_cast<std::size_t>(eol - p), head_.size() - headSize_);
      std::string_view head;
      if (headSize_ == 0 && (take == head_.size() || p + take < end)) {
        head = std::string_view(p, take);  // whole in this chunk
      } else {
        std::memcpy(head_.data() + headSize_, p, take);
        headSize_ += take;
        if (headSize_ < head_.size() && p + take == end) {
          break;  // the head goes on in the next chunk
        }
        head = std::string_view(head_.data(), headSize_);
      }
      p += take;
      if (!handler.Head(head)) {
        return false;
      }
      inBody_ = true;
    }
    if (eol > p) {
      handler.Body(std::string_view(p, static_cast<std::size_t>(eol - p)));
      p = eol;
    }
    if (p == end) {
      break;
    }
    const char* const ending = p;
    skipLineFeed_ = *p == '\r';
    ++p;
    if (skipLineFeed_ && p < end && *p == '\n') {
      skipLineFeed_ = false;
      ++p;
    }
    handler.End(std::string_view(ending, static_cast<std::size_t>(p - ending)));
    inBody_ = false;
    headSize_ = 0;
  }
  return true;
}

template <class Handler>
bool LineSplitter::Finish(Handler& handler) {
  if (!inBody_ && headSize_ == 0) {
    return true;
  }
  if (!inBody_ && !handler.Head(std::string_view(head_.data(), headSize_))) {
    return false;
  }
  handler.End({});
  inBody_ = false;
  headSize_ = 0;
  return true;
}

}  // namespace lapse::text
