#include "engine/rewriter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "engine/names.h"
#include "engine/line_splitter.h"
#include "engine/page_format.h"
#include "engine/plain_lines.h"
#include "engine/tags.h"

namespace lapse::engine {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Every tag line starts so.
constexpr std::string_view kTagStart = "<!--";
// Two halves of 256 KiB: each read is as large as a plain copy's.
constexpr std::size_t kReadBufferSize = std::size_t{512} * 1024;
constexpr std::size_t kCopyBufferSize = std::size_t{256} * 1024;
constexpr std::size_t kLogBufferSize = std::size_t{64} * 1024;

// The per-line decisions of one file: where each line goes, and the log's
// entry heads.
class RewriteHandler {
 public:
  RewriteHandler(BufferedWriter& copy, BufferedWriter* log, std::string_view fileName,
                 const RewriteOptions& options, const DateLocale& locale, const Clock& clock,
                 TextUnits units)
      : copy_(copy),
        log_(log),
        fileName_(fileName),
        options_(options),
        locale_(locale),
        clock_(clock),
        units_(units) {}

  // The chunk that the splitter is fed next. What the copy takes of it
  // unchanged is lent to the copy's writer rather than copied; the caller
  // flushes the writer before that memory is read into again.
  void BeginChunk(std::string_view chunk) { chunk_ = chunk; }
  void EndChunk() { chunk_ = {}; }

  bool Head(std::string_view head) {
    if (!head.starts_with(kTagStart)) {
      // Most lines are no tag: one test of four bytes settles them.
    } else if (IsExpiryTag(head)) {
      const auto date = ReadTagDate(head, locale_, units_);
      if (!date) {
        return Stop();
      }
      if (ExpiryTagLapsed(*date, clock_())) {
        keep_ = false;
        WriteEntryHead();
      }
    } else if (IsEndTag(head) && !keep_) {
      keep_ = true;
      dropCounter_ = 0;
    } else if (IsNewTag(head)) {
      const auto date = ReadTagDate(head, locale_, units_);
      if (!date) {
        return Stop();
      }
      if (NewTagLapsed(*date, options_.newDays, clock_())) {
        WriteEntryHead();
        dropCounter_ = -std::int64_t{options_.lines};
      }
    }
    if (keep_ && dropCounter_ > 0) {
      target_ = &copy_;
    } else {
      ++dropCounter_;
      target_ = log_;
    }
    Pass(head);
    return true;
  }

  // While the copy takes every line, lines that are no tag and end in CR LF
  // need no decision: they go to the copy in one piece, without a look at
  // each.
  std::size_t PlainLines(std::string_view rest) {
    if (!keep_ || dropCounter_ <= 0) {
      return 0;
    }
    const std::size_t length = PlainLinesPrefix(rest);
    target_ = &copy_;
    Pass(rest.substr(0, length));
    return length;
  }

  void Body(std::string_view bytes) { Pass(bytes); }

  // A CR LF in the source is passed on as it is; any other ending becomes one.
  void End(std::string_view ending) {
    if (ending == kLineEnd) {
      Pass(ending);
    } else {
      Put(kLineEnd);
    }
  }

  bool dateFormatError() const { return dateFormatError_; }

 private:
  bool Stop() {
    dateFormatError_ = true;
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
    if (log_ != nullptr) {
      log_->Write(kLineEnd);
      log_->Write(fileName_);
      log_->Write(kLineEnd);
    }
  }

  BufferedWriter& copy_;
  BufferedWriter* log_;
  std::string_view fileName_;
  const RewriteOptions& options_;
  const DateLocale& locale_;
  const Clock& clock_;
  TextUnits units_;

  bool keep_ = true;
  // 64 bits: a lapsed block of any length counts up from here without overflow.
  std::int64_t dropCounter_ = 1;
  BufferedWriter* target_ = nullptr;
  bool dateFormatError_ = false;
  std::string_view chunk_;
};

}  // namespace

StreamEnd RewriteStream(ByteSource& source, std::span<char> readBuffer, BufferedWriter& copy,
                        BufferedWriter* log, std::string_view fileName,
                        const RewriteOptions& options, const DateLocale& locale,
                        const Clock& clock, TextUnits units, LogFlush logFlush) {
  RewriteHandler handler(copy, log, fileName, options, locale, clock, units);
  LineSplitter splitter;
  bool complete = false;
  // Reads go to the two halves of the buffer in turn, so that what the
  // copy was lent from one half is written together with what follows,
  // once that half is read into again or the file ends: a small file takes
  // one write, its last line's CR LF included.
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
      break;
    }
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
  const bool logWritten =
      log == nullptr || (logFlush == LogFlush::ByCaller ? !log->Failed() : log->Flush());
  if (handler.dateFormatError()) {
    return StreamEnd::DateFormatError;
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
}

FileRewriter::FileRewriter(Disk& disk, RewriteOptions options, DateLocale locale, Clock clock)
    : disk_(disk),
      options_(options),
      locale_(std::move(locale)),
      clock_(std::move(clock)),
      readBuffer_(kReadBufferSize),
      copyBuffer_(kCopyBufferSize),
      logBuffer_(kLogBufferSize) {}

FileRewriter::~FileRewriter() {
  Finish();
}

std::optional<FileFailure> FileRewriter::Finish() {
  if (logWriter_ && !logWriter_->Flush()) {
    return FileFailure{FileAction::Write, logPath_, log_->Error()};
  }
  return std::nullopt;
}

namespace {

FileReport Failure(FileAction action, const std::filesystem::path& path, std::error_code error) {
  FileReport report;
  report.outcome = FileOutcome::Failed;
  report.failure = {action, path, error};
  return report;
}

}  // namespace

// The log is opened by the first file and stays open to the end of the run;
// a file that cannot be rewritten whole is cut back out of it.
std::error_code FileRewriter::OpenLog(Folder& copies) {
  if (log_) {
    return {};
  }
  Expected<std::unique_ptr<AppendedFile>> log =
      disk_.OpenAppending(copies, std::filesystem::path(kLogFileName));
  if (!log) {
    return log.error();
  }
  log_ = std::move(*log);
  logWriter_.emplace(*log_, logBuffer_);
  logBase_ = log_->Size();
  logPath_ = copies.PathOf(kLogFileName);
  logMade_ = true;
  return {};
}

FileReport FileRewriter::ProcessFile(Folder& sources, Folder& copies, Folder& logFolder,
                                     const std::filesystem::path& fileName,
                                     const std::filesystem::path& shownName) {
  // An older copy goes with a file that cannot be rewritten whole, so that a
  // replace never puts stale content in place of its source. A folder under
  // the name stays: only files are removed.
  const auto removeOlderCopy = [&] { disk_.RemoveFile(copies, fileName); };

  FileReport leftAsItIs;
  leftAsItIs.outcome = FileOutcome::LeftAsItIs;
  if (NamedAsCompressed(fileName)) {
    removeOlderCopy();
    return leftAsItIs;
  }
  Expected<std::unique_ptr<SourceFile>> source = disk_.OpenSource(sources, fileName);
  if (!source) {
    removeOlderCopy();
    return Failure(FileAction::Read, sources.PathOf(fileName), source.error());
  }
  PageSource page(**source);
  if (page.compression() == Compression::Other) {
    removeOlderCopy();
    return leftAsItIs;
  }
  Expected<std::unique_ptr<NewFile>> copyFile =
      disk_.Create(copies, fileName, (*source)->Status().access.mode);
  if (!copyFile) {
    removeOlderCopy();
    return Failure(FileAction::Write, copies.PathOf(fileName), copyFile.error());
  }
  const bool firstLogged = options_.logging == Logging::On && !logMade_;
  if (options_.logging == Logging::On) {
    // A run that logs leaves a log, even when no file has lines for it.
    if (const std::error_code error = OpenLog(logFolder)) {
      removeOlderCopy();
      return Failure(FileAction::Write, logFolder.PathOf(kLogFileName), error);
    }
  }
  const std::uint64_t logMark = logWriter_ ? logWriter_->Taken() : 0;

  FileReport report;
  report.source = (*source)->Status().stamp;
  report.access = (*copyFile)->TakeAccess((*source)->Status().access);
  PageSink copySink(**copyFile, page);
  BufferedWriter copy(copySink, copyBuffer_);
  const std::string name = DisplayName(shownName);
  StreamEnd end = RewriteStream(page, readBuffer_, copy, logWriter_ ? &*logWriter_ : nullptr, name,
                                options_, locale_, clock_, page.units(), LogFlush::ByCaller);
  if (end == StreamEnd::Complete && !copySink.Finish()) {
    end = StreamEnd::CopyFailed;
  }
  std::error_code copyError;
  if (end == StreamEnd::Complete) {
    report.copySize = (*copyFile)->Written();
    copyError = (*copyFile)->Commit();
    if (copyError) {
      end = StreamEnd::CopyFailed;
    }
  } else if (end == StreamEnd::CopyFailed) {
    copyError = (*copyFile)->Error();
  }
  if (end == StreamEnd::Complete) {
    return report;
  }
  removeOlderCopy();
  const std::error_code logError = log_ ? log_->Error() : std::error_code();
  if (log_) {
    // An empty log that the first file opened was made by it.
    CutBackLog(logFolder, firstLogged && logBase_ == 0, logMark);
  }
  switch (end) {
    case StreamEnd::DateFormatError:
      report = {};
      report.outcome = FileOutcome::DateFormatError;
      return report;
    case StreamEnd::ReadFailed:
      return Failure(FileAction::Read, sources.PathOf(fileName), page.Error());
    case StreamEnd::CopyFailed:
      return Failure(FileAction::Write, copies.PathOf(fileName), copyError);
    case StreamEnd::LogFailed:
      return Failure(FileAction::Write, logFolder.PathOf(kLogFileName), logError);
    case StreamEnd::Complete:
      break;
  }
  return report;
}

// Takes a failed file's lines out of the log again; the log goes when that
// file created it, so a run whose files all failed leaves none.
void FileRewriter::CutBackLog(Folder& copies, bool createdByThisFile, std::uint64_t mark) {
  if (createdByThisFile) {
    logWriter_.reset();
    log_.reset();
    logMade_ = false;
    disk_.RemoveFile(copies, std::filesystem::path(kLogFileName));
    return;
  }
  // Lines still held are simply forgotten; those written are cut off.
  if (!logWriter_->TakeBack(mark)) {
    logWriter_->Flush();
    log_->CutBack(logBase_ + mark);
  }
  // After a failed write (a full disk, say) the next file opens it afresh,
  // since a file that is smaller may still fit.
  if (logWriter_->Failed() || log_->Error()) {
    logWriter_.reset();
    log_.reset();
  }
}

}  // namespace lapse::engine
