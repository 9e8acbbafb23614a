// Rewrites one HTML file: lapsed blocks and lapsed new-content tags, with the
// lines that go with them, are left out of the copy and written to the log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/date.h"
#include "engine/disk.h"
#include "engine/io.h"
#include "engine/tags.h"

namespace lapse::engine {

enum class Logging { Off, On };

struct RewriteOptions {
  std::int16_t newDays = 30;
  std::int16_t lines = 1;
  Logging logging = Logging::On;
};

// Gives the current local date; asked afresh for every dated tag.
using Clock = std::function<Today()>;

enum class StreamEnd { Complete, DateFormatError, ReadFailed, CopyFailed, LogFailed };

// The rewriting itself, over streams: reads the source to its end, or up to a
// tag whose date cannot be read, writing kept lines to the copy and, when log
// is given, entry heads and dropped lines to the log. Every line written ends
// in CR LF. Flushes both writers before it returns.
// The text counts its columns in units (UTF-8 characters for a UTF-16 page).
// With LogFlush::ByCaller the log's writer keeps what it holds, so that the
// log of many files takes few writes.
enum class LogFlush { AtEnd, ByCaller };
StreamEnd RewriteStream(ByteSource& source, std::span<char> readBuffer, BufferedWriter& copy,
                        BufferedWriter* log, std::string_view fileName,
                        const RewriteOptions& options, const DateLocale& locale,
                        const Clock& clock, TextUnits units = TextUnits::Bytes,
                        LogFlush logFlush = LogFlush::AtEnd);

// LeftAsItIs: a page compressed otherwise than with gzip, which no copy can
// be made of; it stays out of the run.
enum class FileOutcome { Rewritten, DateFormatError, Failed, LeftAsItIs };
enum class FileAction { Read, Write };

// A file that could not be read or written, and why.
struct FileFailure {
  FileAction action = FileAction::Read;
  std::filesystem::path path;
  std::error_code error;
};

struct FileReport {
  FileOutcome outcome = FileOutcome::Rewritten;
  FileFailure failure;  // when Failed
  // When rewritten: the source as it was read, the copy's size, and whether
  // the copy could take its source's owner as well as its permissions.
  FileStamp source;
  std::uint64_t copySize = 0;
  AccessKept access = AccessKept::All;
};

// Rewrites the files of one folder into another and writes the run log
// there; keeps its buffers, and the log open, from one file to the next.
class FileRewriter {
 public:
  FileRewriter(Disk& disk, RewriteOptions options, DateLocale locale, Clock clock);
  ~FileRewriter();
  FileRewriter(const FileRewriter&) = delete;
  FileRewriter& operator=(const FileRewriter&) = delete;

  // Reads fileName in sources and writes its copy under the same name in
  // copies, with the source's permissions, appending to "Log.txt" there
  // while logging is on. A gzip page is rewritten inside its compression,
  // a UTF-16 page in its encoding (its dropped lines go to the log as
  // UTF-8). A file that cannot be rewritten whole leaves no copy and
  // nothing in the log; the source is never changed.
  FileReport ProcessFile(Folder& sources, Folder& copies, const std::filesystem::path& fileName) {
    return ProcessFile(sources, copies, copies, fileName, fileName);
  }
  // The same, with the log in logFolder and the file named shownName in it
  // (its path below the folder of the run, in a run over a tree).
  FileReport ProcessFile(Folder& sources, Folder& copies, Folder& logFolder,
                         const std::filesystem::path& fileName,
                         const std::filesystem::path& shownName);

  // Writes what the log still holds; the failure when it cannot. The
  // rewriter's end does the same, without telling.
  std::optional<FileFailure> Finish();

 private:
  std::error_code OpenLog(Folder& copies);
  void CutBackLog(Folder& copies, bool createdByThisFile, std::uint64_t size);

  Disk& disk_;
  RewriteOptions options_;
  DateLocale locale_;
  Clock clock_;
  std::vector<char> readBuffer_;
  std::vector<char> copyBuffer_;
  std::vector<char> logBuffer_;
  std::unique_ptr<AppendedFile> log_;
  // Holds the log's lines across files; the log's size when it was opened.
  std::optional<BufferedWriter> logWriter_;
  std::uint64_t logBase_ = 0;
  std::filesystem::path logPath_;
  // Whether this run has made the log.
  bool logMade_ = false;
};

inline constexpr std::string_view kLogFileName = "Log.txt";

}  // namespace lapse::engine
