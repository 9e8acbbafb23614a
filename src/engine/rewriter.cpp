#include "engine/rewriter.h"

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/atomic_file.h"
#include "engine/line_splitter.h"
#include "engine/plain_lines.h"
#include "engine/tags.h"

namespace lapse::engine {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Every tag line starts so.
constexpr std::string_view kTagStart = "<!--";
constexpr std::size_t kReadBufferSize = std::size_t{256} * 1024;
constexpr std::size_t kCopyBufferSize = std::size_t{256} * 1024;
constexpr std::size_t kLogBufferSize = std::size_t{64} * 1024;

// The per-line decisions of one file: where each line goes, and the log's
// entry heads.
class RewriteHandler {
 public:
  RewriteHandler(BufferedWriter& copy, BufferedWriter* log, std::string_view fileName,
                 const RewriteOptions& options, const DateLocale& locale, const Clock& clock)
      : copy_(copy),
        log_(log),
        fileName_(fileName),
        options_(options),
        locale_(locale),
        clock_(clock) {}

  // The chunk that the splitter is fed next. What the copy takes of it
  // unchanged is lent to the copy's writer rather than copied.
  void BeginChunk(std::string_view chunk) { chunk_ = chunk; }
  // Writes what was lent before the chunk's memory is reused.
  void EndChunk() {
    copy_.Flush();
    chunk_ = {};
  }

  bool Head(std::string_view head) {
    if (!head.starts_with(kTagStart)) {
      // Most lines are no tag: one test of four bytes settles them.
    } else if (IsExpiryTag(head)) {
      const auto date = ReadTagDate(head, locale_);
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
      const auto date = ReadTagDate(head, locale_);
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

  bool keep_ = true;
  // 64 bits: a lapsed block of any length counts up from here without overflow.
  std::int64_t dropCounter_ = 1;
  BufferedWriter* target_ = nullptr;
  bool dateFormatError_ = false;
  std::string_view chunk_;
};

}  // namespace

std::filesystem::path Join(const std::filesystem::path& dir, const std::filesystem::path& name) {
  return std::filesystem::path(dir.native() + name.native());
}

std::string DateFormatErrorMessage(std::string_view fileName) {
  return "Date Format error in " + std::string(fileName);
}

StreamEnd RewriteStream(ByteSource& source, std::span<char> readBuffer, BufferedWriter& copy,
                        BufferedWriter* log, std::string_view fileName,
                        const RewriteOptions& options, const DateLocale& locale,
                        const Clock& clock) {
  RewriteHandler handler(copy, log, fileName, options, locale, clock);
  LineSplitter splitter;
  bool complete = false;
  while (!copy.Failed() && (log == nullptr || !log->Failed())) {
    const std::size_t count = source.Read(readBuffer);
    if (count == 0) {
      complete = !source.Error() && splitter.Finish(handler);
      break;
    }
    const std::string_view chunk(readBuffer.data(), count);
    handler.BeginChunk(chunk);
    const bool fed = splitter.Feed(chunk, handler);
    handler.EndChunk();
    if (!fed) {
      break;
    }
  }
  const bool copyWritten = copy.Flush();
  const bool logWritten = log == nullptr || log->Flush();
  if (handler.dateFormatError()) {
    return StreamEnd::DateFormatError;
  }
  if (source.Error()) {
    return StreamEnd::ReadFailed;
  }
  if (!copyWritten) {
    return StreamEnd::CopyFailed;
  }
  if (!logWritten) {
    return StreamEnd::LogFailed;
  }
  return complete ? StreamEnd::Complete : StreamEnd::ReadFailed;
}

FileRewriter::FileRewriter(RewriteOptions options, DateLocale locale, Clock clock)
    : options_(options),
      locale_(std::move(locale)),
      clock_(std::move(clock)),
      readBuffer_(kReadBufferSize),
      copyBuffer_(kCopyBufferSize),
      logBuffer_(kLogBufferSize) {}

namespace {

std::string Failure(std::string_view what, const std::filesystem::path& path,
                    std::error_code error) {
  return "Cannot " + std::string(what) + " " + PathText(path) + ": " + error.message() + ".";
}

// What std::filesystem::file_size gives for a log that is not there.
constexpr auto kNoLog = static_cast<std::uintmax_t>(-1);

// The run log of one file, opened for appending at its first write: most
// files have no lines for it.
class LogFile final : public ByteSink {
 public:
  explicit LogFile(const std::filesystem::path& path) : path_(path) {}

  bool Open() {
    if (!file_) {
      std::error_code missing;
      sizeBefore_ = std::filesystem::file_size(path_, missing);
      file_.emplace(path_, OpenMode::Append);
    }
    return file_->IsOpen();
  }
  bool Write(std::string_view bytes) override { return Open() && file_->Write(bytes); }
  std::error_code Error() const override { return file_ ? file_->Error() : std::error_code(); }
  bool Close() { return !file_ || file_->Close(); }

  // Cuts the log back to what it held before this file, and removes it when
  // this file created it. Returns whether a log is left.
  bool Restore() {
    if (!file_) {
      return true;
    }
    Close();
    std::error_code ignored;
    if (sizeBefore_ == kNoLog) {
      std::filesystem::remove(path_, ignored);
      return false;
    }
    std::filesystem::resize_file(path_, sizeBefore_, ignored);
    return true;
  }

 private:
  const std::filesystem::path& path_;
  std::optional<OutputFile> file_;
  std::uintmax_t sizeBefore_ = kNoLog;
};

}  // namespace

FileReport FileRewriter::ProcessFile(const std::filesystem::path& sourceDir,
                                     const std::filesystem::path& newDir,
                                     const std::filesystem::path& fileName) {
  const std::filesystem::path sourcePath = Join(sourceDir, fileName);
  const std::filesystem::path copyPath = Join(newDir, fileName);
  const std::filesystem::path logPath = Join(newDir, std::filesystem::path(kLogFileName));
  // An older copy goes with a file that cannot be rewritten whole, so that a
  // replace never puts stale content in place of its source.
  const auto removeOlderCopy = [&copyPath] {
    std::error_code ignored;
    std::filesystem::remove(copyPath, ignored);
  };

  InputFile source(sourcePath);
  if (!source.IsOpen()) {
    removeOlderCopy();
    return {FileOutcome::Failed, Failure("read", sourcePath, source.Error())};
  }
  // The copy takes its name only when it is whole, so that an interrupted run
  // never leaves a short copy for a replace to put in place of its source.
  AtomicFile copyFile(newDir, fileName);
  if (!copyFile.IsOpen()) {
    removeOlderCopy();
    return {FileOutcome::Failed, Failure("write", copyPath, copyFile.Error())};
  }
  std::optional<LogFile> logFile;
  if (options_.logging == Logging::On) {
    logFile.emplace(logPath);
    // A run that logs leaves a log, even when no file has lines for it.
    if (!logCreated_ && !logFile->Open()) {
      removeOlderCopy();
      return {FileOutcome::Failed, Failure("write", logPath, logFile->Error())};
    }
    logCreated_ = true;
  }

  BufferedWriter copy(copyFile, copyBuffer_);
  std::optional<BufferedWriter> log;
  if (logFile) {
    log.emplace(*logFile, logBuffer_);
  }
  const std::string name = PathText(fileName);
  StreamEnd end = RewriteStream(source, readBuffer_, copy, log ? &*log : nullptr, name, options_,
                                locale_, clock_);
  if (logFile && !logFile->Close() && end == StreamEnd::Complete) {
    end = StreamEnd::LogFailed;
  }
  if (end == StreamEnd::Complete && !copyFile.Commit()) {
    end = StreamEnd::CopyFailed;
  }
  if (end == StreamEnd::Complete) {
    return {};
  }
  removeOlderCopy();
  if (logFile) {
    logCreated_ = logFile->Restore();
  }
  switch (end) {
    case StreamEnd::DateFormatError:
      return {FileOutcome::DateFormatError, DateFormatErrorMessage(name)};
    case StreamEnd::ReadFailed:
      return {FileOutcome::Failed, Failure("read", sourcePath, source.Error())};
    case StreamEnd::CopyFailed:
      return {FileOutcome::Failed, Failure("write", copyPath, copyFile.Error())};
    case StreamEnd::LogFailed:
      return {FileOutcome::Failed, Failure("write", logPath, logFile->Error())};
    case StreamEnd::Complete:
      break;
  }
  return {};
}

}  // namespace lapse::engine
