// Rewrites one HTML file: lapsed blocks and lapsed new-content tags, with the
// lines that go with them, are left out of the copy and written to the log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/date.h"
#include "engine/io.h"

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
StreamEnd RewriteStream(ByteSource& source, std::span<char> readBuffer, BufferedWriter& copy,
                        BufferedWriter* log, std::string_view fileName,
                        const RewriteOptions& options, const DateLocale& locale,
                        const Clock& clock);

enum class FileOutcome { Rewritten, DateFormatError, Failed };

struct FileReport {
  FileOutcome outcome = FileOutcome::Rewritten;
  std::string message;  // what to tell the user; empty when rewritten
};

// The message for a tag whose date cannot be read.
std::string DateFormatErrorMessage(std::string_view fileName);

// Rewrites files of one directory into another and appends to the run log
// there; keeps its buffers from one file to the next.
class FileRewriter {
 public:
  FileRewriter(RewriteOptions options, DateLocale locale, Clock clock);

  // Reads sourceDir + fileName and writes newDir + fileName, appending to
  // newDir + "Log.txt" while logging is on; both directories end in a
  // separator. A file that cannot be rewritten whole leaves no copy and
  // nothing in the log; the source is never changed.
  FileReport ProcessFile(const std::filesystem::path& sourceDir,
                         const std::filesystem::path& newDir,
                         const std::filesystem::path& fileName);

 private:
  RewriteOptions options_;
  DateLocale locale_;
  Clock clock_;
  std::vector<char> readBuffer_;
  std::vector<char> copyBuffer_;
  std::vector<char> logBuffer_;
  // Whether the run log has been made, by this rewriter or before it.
  bool logCreated_ = false;
};

// dir + name, where dir ends in a separator.
std::filesystem::path Join(const std::filesystem::path& dir, const std::filesystem::path& name);

inline constexpr std::string_view kLogFileName = "Log.txt";

}  // namespace lapse::engine
