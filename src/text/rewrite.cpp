#include "text/rewrite.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "text/line_splitter.h"
#include "text/plain_lines.h"
#include "text/tags.h"

namespace lapse::text {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kLineFeed = "\n";
// Every tag line starts so.
constexpr std::string_view kTagStart = "<!--";

// The per-line decisions of one file: where each line goes, and the log's
// entry heads.
class RewriteHandler {
 public:
  RewriteHandler(const RewriteTarget& target, const TagRules& rules, TextUnits units)
      : copy_(target.copy),
        log_(target.log),
        fileName_(target.entryName),
        blocks_(target.blocks),
        rules_(rules),
        units_(units) {}

  // The chunk that the splitter is fed next. What the copy takes of it
  // unchanged is lent to the copy's writer rather than copied; the caller
  // flushes the writer before that memory is read into again.
  void BeginChunk(std::string_view chunk) { chunk_ = chunk; }
  void EndChunk() { chunk_ = {}; }

  bool Head(std::string_view head) {
    ++line_;
    const ShowBlocks::Line show = shows_.Head(head, line_);
    // A show tag's date is read first, as every tag's is, whatever its
    // line holds after it.
    if (show == ShowBlocks::Line::Opening) {
      const auto date = ReadTagDate(head, rules_.locale, units_);
      if (!date) {
        return Stop(head);
      }
      showDue_ = ShowTagDue(*date, rules_.clock());
    }
    if (shows_.broken()) {
      return false;
    }
    bool leaveOut = false;
    if (show == ShowBlocks::Line::Opening || show == ShowBlocks::Line::Closing) {
      leaveOut = showDue_;
    } else if (!head.starts_with(kTagStart)) {
      // Most lines are no tag: one test of four bytes settles them.
    } else if (IsExpiryTag(head)) {
      const auto date = ReadTagDate(head, rules_.locale, units_);
      if (!date) {
        return Stop(head);
      }
      if (ExpiryTagLapsed(*date, rules_.clock())) {
        if (keep_) {
          lapsedAt_ = line_;
        }
        keep_ = false;
        WriteEntryHead();
      }
    } else if (IsEndTag(head) && !keep_) {
      keep_ = true;
      dropCounter_ = 0;
    } else if (IsNewTag(head)) {
      const auto date = ReadTagDate(head, rules_.locale, units_);
      if (!date) {
        return Stop(head);
      }
      if (NewTagLapsed(*date, rules_.newDays, rules_.clock())) {
        WriteEntryHead();
        dropCounter_ = -std::int64_t{rules_.lines};
      }
    }
    if (leaveOut && keep_ && dropCounter_ > 0) {
      // A line of a show block that is due, where it would have been
      // copied; elsewhere it goes with the lines around it.
      WriteEntryHead();
    }
    if (keep_ && dropCounter_ > 0 && !leaveOut) {
      target_ = &copy_;
    } else {
      ++dropCounter_;
      target_ = log_;
      leftOut_ = true;
      if (blocks_ != nullptr && !blocks_->empty()) {
        ++blocks_->back().lineCount;
      }
    }
    Pass(head);
    return true;
  }

  // While the copy takes every line, lines that are no tag need no
  // decision: a run of them that end in CR LF, or in a lone LF, goes to the
  // copy in one piece as it stands, without a look at each line by the
  // splitter.
  std::size_t PlainLines(std::string_view rest) {
    if (!keep_ || dropCounter_ <= 0 || shows_.open()) {
      return 0;
    }
    target_ = &copy_;
    std::size_t length = PlainLinesPrefix(rest, LineEnding::CrLf);
    if (length == 0) {
      length = PlainLinesPrefix(rest, LineEnding::Lf);
    }
    Pass(rest.substr(0, length));
    // Every line of the run ends in an LF.
    line_ += CountLineFeeds(rest.substr(0, length));
    return length;
  }

  void Body(std::string_view bytes) {
    shows_.Body(bytes);
    Pass(bytes);
  }

  // A CR LF in the source is passed on as it is, and so is a lone LF on its
  // way to the copy; any other ending becomes CR LF. A CR that ends a chunk
  // comes here alone whether or not an LF starts the next one (which the
  // splitter then skips): CR LF is right for both.
  void End(std::string_view ending) {
    shows_.End();
    if (ending == kLineEnd || (ending == kLineFeed && target_ == &copy_)) {
      Pass(ending);
    } else {
      Put(kLineEnd);
    }
  }

  // The page has been read to its end.
  void Finish() { shows_.Finish(); }

  bool dateFormatError() const { return dateFormatError_; }
  std::uint64_t line() const { return line_; }
  const std::string& badDateText() const { return badDateText_; }
  const std::optional<BrokenBlock>& brokenShowBlock() const { return shows_.broken(); }
  // A lapsed expiry block that is still open, and so runs to the end.
  std::optional<BrokenBlock> unclosedBlock() const {
    if (keep_) {
      return std::nullopt;
    }
    return BrokenBlock{lapsedAt_, BrokenBlockKind::ExpiryUnclosed};
  }
  // Whether any line went elsewhere than to the copy.
  bool leftOut() const { return leftOut_; }

 private:
  bool Stop(std::string_view head) {
    dateFormatError_ = true;
    badDateText_ = TagDateField(head, units_);
    return false;
  }

  // Source bytes, written unchanged to the line's target.
  void Pass(std::string_view bytes) {
    if (target_ == &copy_ && InChunk(bytes)) {
      copy_.Lend(bytes);
    } else {
      Put(bytes);
    }
  }

  // Bytes from anywhere, copied to the line's target.
  void Put(std::string_view bytes) {
    if (target_ != nullptr) {
      target_->Write(bytes);
    }
  }

  bool InChunk(std::string_view bytes) const {
    const std::less_equal<const char*> notAfter;
    return notAfter(chunk_.data(), bytes.data()) &&
           notAfter(bytes.data() + bytes.size(), chunk_.data() + chunk_.size());
  }

  void WriteEntryHead() {
    if (blocks_ != nullptr) {
      blocks_->push_back({line_, 0});
    }
    if (log_ != nullptr) {
      log_->Write(kLineEnd);
      log_->Write(fileName_);
      log_->Write(kLineEnd);
    }
  }

  BufferedWriter& copy_;
  BufferedWriter* log_;
  std::string_view fileName_;
  std::vector<RemovedBlock>* blocks_;
  const TagRules& rules_;
  TextUnits units_;

  std::uint64_t line_ = 0;  // the number of the line at hand
  ShowBlocks shows_;
  bool showDue_ = false;  // the show block open, or last closed, is due
  bool keep_ = true;
  std::uint64_t lapsedAt_ = 0;  // the tag that opened the lapsed block
  // 64 bits: a lapsed block of any length counts up from here without overflow.
  std::int64_t dropCounter_ = 1;
  BufferedWriter* target_ = nullptr;
  bool dateFormatError_ = false;
  std::string badDateText_;
  bool leftOut_ = false;
  std::string_view chunk_;
};

}  // namespace

std::uint64_t EntryHeadSize(std::string_view entryName) {
  return kLineEnd.size() + entryName.size() + kLineEnd.size();
}

RewrittenStream RewriteStream(ByteSource& source, TextUnits units, std::span<char> readBuffer,
                              const RewriteTarget& target, const TagRules& rules) {
  RewriteHandler handler(target, rules, units);
  BufferedWriter& copy = target.copy;
  BufferedWriter* const log = target.log;
  LineSplitter splitter;
  bool complete = false;
  const std::uint64_t copiedBefore = copy.Taken();
  std::uint64_t read = 0;
  // Reads go to the two halves of the buffer in turn, so that what the
  // copy was lent from one half is written together with what follows,
  // once that half is read into again or the file ends: a small file takes
  // one write, its last line's end included.
  const std::size_t halves = readBuffer.size() >= 2 ? 2 : 1;
  const std::size_t halfSize = readBuffer.size() / halves;
  std::array<bool, 2> lent{};
  for (std::size_t half = 0; !copy.Failed() && (log == nullptr || !log->Failed());
       half = (half + 1) % halves) {
    if (lent[half]) {
      copy.Flush();
      lent = {};
    }
    const std::span<char> into = readBuffer.subspan(half * halfSize, halfSize);
    const std::size_t count = source.Read(into);
    if (count == 0) {
      complete = !source.Error() && splitter.Finish(handler);
      if (complete) {
        handler.Finish();
      }
      break;
    }
    read += count;
    lent[half] = true;
    const std::string_view chunk(into.data(), count);
    handler.BeginChunk(chunk);
    const bool fed = splitter.Feed(chunk, handler);
    handler.EndChunk();
    if (!fed) {
      break;
    }
  }
  // The disk may fill up with either output; the one that failed first is
  // the one to name.
  const bool logFailedFirst = log != nullptr && log->Failed() && !copy.Failed();
  const bool copyWritten = copy.Flush();
  const bool logWritten = log == nullptr || log->Flush();
  RewrittenStream result;
  result.end = [&] {
    if (handler.dateFormatError()) {
      result.badDateLine = handler.line();
      result.badDateText = handler.badDateText();
      return StreamEnd::DateFormatError;
    }
    if (handler.brokenShowBlock()) {
      return StreamEnd::BrokenBlock;
    }
    if (source.Error()) {
      return StreamEnd::ReadFailed;
    }
    if (logFailedFirst) {
      return StreamEnd::LogFailed;
    }
    if (!copyWritten) {
      return StreamEnd::CopyFailed;
    }
    if (!logWritten) {
      return StreamEnd::LogFailed;
    }
    return complete ? StreamEnd::Complete : StreamEnd::ReadFailed;
  }();
  // With every line kept, the copy is the source with a byte put in here
  // and there (the LF after a lone CR, the CR LF after a last line without
  // one): it is the source when it is no longer.
  result.copyIsSource = result.end == StreamEnd::Complete && !handler.leftOut() &&
                        copy.Taken() - copiedBefore == read;
  if (result.end == StreamEnd::BrokenBlock) {
    result.broken = handler.brokenShowBlock();
  } else if (result.end == StreamEnd::Complete) {
    result.broken = handler.unclosedBlock();
  }
  return result;
}

}  // namespace lapse::text
