#include "batch/page_diff.h"

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "batch/batch.h"
#include "batch/check.h"
#include "pages/page_format.h"
#include "text/names.h"

namespace lapse::batch {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kReadBufferSize = std::size_t{256} * 1024;
constexpr std::size_t kCopyBufferSize = std::size_t{16} * 1024;
// The lines of context around each change, as diff and git write them.
constexpr std::size_t kContext = 3;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kNoNewline = "\\ No newline at end of file\n";

// Takes the copy's bytes and keeps none: the first pass wants only the
// rewriter's decisions.
class DiscardingSink final : public text::ByteSink {
 public:
  bool Write(std::string_view) override { return true; }
  std::error_code Error() const override { return {}; }
};

// Reads through the page's folder and keeps nothing of what it read.
class FileSource final : public text::ByteSource {
 public:
  explicit FileSource(platform::SourceFile& file) : file_(file) {}
  std::size_t Read(std::span<char> buffer) override { return file_.Read(buffer); }
  std::error_code Error() const override { return file_.Error(); }

 private:
  platform::SourceFile& file_;
};

std::string Range(std::uint64_t start, std::uint64_t count) {
  // An empty range names the line before it, as diff does.
  if (count == 0) {
    return std::to_string(start - 1) + ",0";
  }
  return count == 1 ? std::to_string(start) : std::to_string(start) + "," + std::to_string(count);
}

// Appends a line of the hunk with its mark; a line without its end gets the
// note patch reads so.
void AddLine(std::string& to, char mark, std::string_view line) {
  to += mark;
  to += line;
  if (!line.ends_with('\n')) {
    to += '\n';
    to += kNoNewline;
  }
}

// Makes the hunks of one page from its lines as they are and what each
// becomes, with three lines of context, merging changes that close lines of
// context would join. Holds one hunk at a time.
class HunkMaker {
 public:
  HunkMaker(const DiffText& text, std::string header, ChangedPage& counts)
      : text_(text), header_(std::move(header)), counts_(counts) {}

  // line: a line of the page as it is (ending in LF, but for the last);
  // becomes: what the copy holds in its place (any number of whole lines,
  // or bytes that the next line's completes).
  void Line(std::string&& line, std::string&& becomes) {
    // A line the copy has begun but not ended takes this one into the change.
    const bool lineOpen = !fragment_.empty() && !fragment_.ends_with('\n');
    const bool changed = lineOpen || becomes != line;
    if (changed) {
      Change(std::move(line), becomes);
    } else {
      Same(std::move(line));
    }
  }

  void Finish() {
    EndChange();
    if (open_) {
      Emit();
    }
  }

 private:
  void Change(std::string&& line, const std::string& becomes) {
    if (!open_) {
      Open();
    } else if (!changing_) {
      // The lines since the last change join the two into one hunk.
      for (const std::string& between : gap_) {
        AddContext(between);
      }
      gap_.clear();
      gapLength_ = 0;
      before_.clear();
    }
    changing_ = true;
    trailing_ = 0;
    ++oldLine_;
    removed_.push_back(std::move(line));
    fragment_ += becomes;
  }

  void Same(std::string&& line) {
    EndChange();
    ++oldLine_;
    ++newLine_;
    if (open_ && trailing_ < kContext) {
      AddContext(line);
      ++trailing_;
      return;
    }
    before_.push_back(std::move(line));
    if (before_.size() > kContext) {
      before_.pop_front();
    }
    if (open_) {
      // Past the trailing context: a change within kContext lines joins this
      // hunk, one further away starts the next.
      if (++gapLength_ > kContext) {
        Emit();
      } else {
        gap_.push_back(before_.back());
      }
    }
  }

  void Open() {
    open_ = true;
    oldStart_ = oldLine_ + 1 - before_.size();
    newStart_ = newLine_ + 1 - before_.size();
    oldCount_ = newCount_ = 0;
    for (const std::string& line : before_) {
      AddContext(line);
    }
    before_.clear();
  }

  void AddContext(const std::string& line) {
    AddLine(body_, ' ', line);
    ++oldCount_;
    ++newCount_;
  }

  // The lines taken out go first, then the lines put in their place.
  void EndChange() {
    if (!changing_) {
      return;
    }
    for (const std::string& line : removed_) {
      AddLine(body_, '-', line);
    }
    oldCount_ += removed_.size();
    counts_.deletions += removed_.size();
    removed_.clear();
    std::string_view rest = fragment_;
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      const std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
      AddLine(body_, '+', rest.substr(0, length));
      rest.remove_prefix(length);
      ++newCount_;
      ++newLine_;
      ++counts_.insertions;
    }
    fragment_.clear();
    changing_ = false;
  }

  void Emit() {
    if (!header_.empty()) {
      text_(header_);
      header_.clear();
    }
    text_("@@ -" + Range(oldStart_, oldCount_) + " +" + Range(newStart_, newCount_) + " @@\n");
    text_(body_);
    body_.clear();
    open_ = false;
    gap_.clear();
    gapLength_ = 0;
  }

  const DiffText& text_;
  std::string header_;  // written before the first hunk
  ChangedPage& counts_;
  std::uint64_t oldLine_ = 0;  // lines of the page passed
  std::uint64_t newLine_ = 0;  // lines of the copy passed
  // The last lines unchanged, for the context before the next change.
  std::deque<std::string> before_;
  // The hunk under way.
  bool open_ = false;
  std::uint64_t oldStart_ = 0;
  std::uint64_t newStart_ = 0;
  std::uint64_t oldCount_ = 0;
  std::uint64_t newCount_ = 0;
  std::string body_;
  std::size_t trailing_ = 0;  // context lines after its last change
  // Unchanged lines past the trailing context.
  std::vector<std::string> gap_;
  std::size_t gapLength_ = 0;
  // The change under way: the lines taken out, and what the copy holds in
  // their place (the start of a line where a byte-order mark is left alone).
  bool changing_ = false;
  std::vector<std::string> removed_;
  std::string fragment_;
};

// Splits a page's text into its lines as the rewriter does (a line ends at
// CR LF, a lone CR, a lone LF or the end of the text) and, for each, puts
// down what the copy holds: nothing for a line the rewrite took out, else
// the line with its end, where a lone CR and a missing end become CR LF as
// the rewriter writes them. The diff's own lines end at LF alone: each goes
// to the hunks with what its rewriter's lines became.
class LineAligner {
 public:
  LineAligner(const std::vector<text::RemovedBlock>& removed, HunkMaker& hunks,
              std::string_view mark)
      : removed_(removed), hunks_(hunks), line_(mark), becomes_(mark) {}

  void Feed(std::string_view chunk) {
    while (!chunk.empty()) {
      if (pendingCr_) {
        pendingCr_ = false;
        if (chunk.front() == '\n') {
          EndLine("\r\n", "\r\n");
          EndDiffLine();
          chunk.remove_prefix(1);
          continue;
        }
        EndLine("\r", "\r\n");
      }
      if (!inLine_) {
        BeginLine();
      }
      const std::size_t end = chunk.find_first_of("\r\n");
      const std::string_view body = chunk.substr(0, end);
      line_ += body;
      if (!removing_) {
        becomes_ += body;
      }
      if (end == std::string_view::npos) {
        return;
      }
      if (chunk[end] == '\r') {
        pendingCr_ = true;
      } else {
        EndLine("\n", "\n");
        EndDiffLine();
      }
      chunk.remove_prefix(end + 1);
    }
  }

  void Finish() {
    if (pendingCr_) {
      EndLine("\r", "\r\n");
    } else if (inLine_) {
      EndLine("", "\r\n");
    }
    if (!line_.empty() || !becomes_.empty()) {
      EndDiffLine();
    }
  }

 private:
  void BeginLine() {
    ++number_;
    while (block_ < removed_.size() &&
           number_ >= removed_[block_].firstLine + removed_[block_].lineCount) {
      ++block_;
    }
    removing_ = block_ < removed_.size() && number_ >= removed_[block_].firstLine;
    inLine_ = true;
  }

  void EndLine(std::string_view ending, std::string_view written) {
    line_ += ending;
    if (!removing_) {
      becomes_ += written;
    }
    inLine_ = false;
  }

  void EndDiffLine() {
    hunks_.Line(std::move(line_), std::move(becomes_));
    line_.clear();
    becomes_.clear();
  }

  const std::vector<text::RemovedBlock>& removed_;
  std::size_t block_ = 0;
  HunkMaker& hunks_;
  std::uint64_t number_ = 0;  // the rewriter's line at hand, from 1
  bool inLine_ = false;
  bool removing_ = false;
  bool pendingCr_ = false;  // a CR ended the line; an LF may follow
  std::string line_;        // the diff's line so far, as it is
  std::string becomes_;     // what the copy holds for it so far
};

std::uint64_t LinesIn(const std::vector<text::RemovedBlock>& blocks) {
  std::uint64_t lines = 0;
  for (const text::RemovedBlock& block : blocks) {
    lines += block.lineCount;
  }
  return lines;
}

PageLeftOut Unreadable(const fs::path& shown, fs::path path, std::error_code error) {
  return {shown, {PageOutcome::Failed, {FileAction::Read, std::move(path), error}, {}}};
}

// Diffs the pages one after another with buffers of its own.
class PageDiffer {
 public:
  PageDiffer(platform::Disk& disk, const text::TagRules& rules, const DiffText& text,
             SiteDiff& result)
      : disk_(disk), rules_(rules), text_(text), result_(result), buffer_(kReadBufferSize) {}

  void Page(platform::Folder& folder, const fs::path& name, const fs::path& shown) {
    std::optional<Removal> removal = Removed(folder, name, shown);
    if (!removal) {
      return;
    }
    ChangedPage changed{shown, removal->form, 0, 0};
    if (removal->form == DiffForm::Binary) {
      changed.deletions = LinesIn(removal->blocks);
      if (text_) {
        text_("Binary files " + DiffName("a", shown) + " and " + DiffName("b", shown) +
              " differ\n");
      }
      result_.changed.push_back(std::move(changed));
      return;
    }
    platform::Expected<std::unique_ptr<platform::SourceFile>> source =
        disk_.OpenSource(folder, name);
    if (!source) {
      result_.leftOut.push_back(Unreadable(shown, folder.PathOf(name), source.error()));
      return;
    }
    FileSource raw(**source);
    pages::PageSource page(raw);
    if (!Align(page, shown, removal->blocks, changed)) {
      result_.leftOut.push_back(Unreadable(shown, folder.PathOf(name), page.Error()));
      return;
    }
    if (changed.deletions != 0 || changed.insertions != 0) {
      result_.changed.push_back(std::move(changed));
    }
  }

 private:
  // What the rewrite takes out of a page, and how the diff shows it.
  struct Removal {
    std::vector<text::RemovedBlock> blocks;
    DiffForm form = DiffForm::Text;
  };

  // The first pass: the rewriter's own decisions on the page, by the lines
  // it takes out; nothing where it changes nothing or leaves the page out.
  std::optional<Removal> Removed(platform::Folder& folder, const fs::path& name,
                                 const fs::path& shown) {
    platform::Expected<std::unique_ptr<platform::SourceFile>> source =
        disk_.OpenSource(folder, name);
    if (!source) {
      result_.leftOut.push_back(Unreadable(shown, folder.PathOf(name), source.error()));
      return std::nullopt;
    }
    FileSource raw(**source);
    pages::PageSource page(raw);
    if (const std::optional<NotText> kind = NotTextOf(page.content())) {
      result_.leftOut.push_back({shown, {PageOutcome::LeftAsItIs, {}, *kind}});
      return std::nullopt;
    }
    DiscardingSink discard;
    std::array<char, kCopyBufferSize> copyBuffer{};
    text::BufferedWriter copy(discard, copyBuffer);
    std::vector<text::RemovedBlock> removed;
    const text::RewrittenStream rewritten =
        text::RewriteStream(page, page.units(), buffer_, {copy, nullptr, {}, &removed}, rules_);
    PageReport report;
    switch (rewritten.end) {
      case text::StreamEnd::Complete:
        if (rewritten.broken) {
          report.brokenBlock = rewritten.broken;
          result_.noted.push_back({shown, report});
        }
        if (rewritten.copyIsSource) {
          return std::nullopt;
        }
        return Removal{std::move(removed),
                       page.compression() != pages::Compression::None ||
                               (page.encoding() != pages::Encoding::Bytes &&
                                page.encoding() != pages::Encoding::Utf8WithMark)
                           ? DiffForm::Binary
                           : DiffForm::Text};
      case text::StreamEnd::DateFormatError:
        report.outcome = PageOutcome::DateFormatError;
        report.badDateLine = rewritten.badDateLine;
        report.badDateText = rewritten.badDateText;
        break;
      case text::StreamEnd::BrokenBlock:
        report.outcome = PageOutcome::BrokenBlock;
        report.brokenBlock = rewritten.broken;
        break;
      case text::StreamEnd::ReadFailed:
      case text::StreamEnd::CopyFailed:
      case text::StreamEnd::LogFailed:
        result_.leftOut.push_back(Unreadable(shown, folder.PathOf(name), page.Error()));
        return std::nullopt;
    }
    result_.leftOut.push_back({shown, report});
    return std::nullopt;
  }

  // The second pass: the page's lines as they lie, with what becomes of
  // each, into hunks.
  bool Align(pages::PageSource& page, const fs::path& shown,
             const std::vector<text::RemovedBlock>& removed, ChangedPage& counts) {
    const DiffText discard = [](std::string_view) {};
    std::string header;
    if (text_) {
      header = "--- " + DiffName("a", shown) + Tab(shown) + "\n+++ " + DiffName("b", shown) +
               Tab(shown) + "\n";
    }
    HunkMaker hunks(text_ ? text_ : discard, std::move(header), counts);
    LineAligner lines(removed, hunks,
                      page.encoding() == pages::Encoding::Utf8WithMark ? kUtf8Mark : "");
    for (;;) {
      const std::size_t count = page.Read(buffer_);
      if (count == 0) {
        break;
      }
      lines.Feed(std::string_view(buffer_.data(), count));
    }
    if (page.Error()) {
      return false;
    }
    lines.Finish();
    hunks.Finish();
    return true;
  }

  // A name with a blank ends in a tab, so that patch takes the blank as part
  // of it.
  static std::string Tab(const fs::path& shown) {
    return DiffName("a", shown).find(' ') != std::string::npos ? "\t" : "";
  }

  platform::Disk& disk_;
  const text::TagRules& rules_;
  const DiffText& text_;
  SiteDiff& result_;
  std::vector<char> buffer_;
};

}  // namespace

bool SiteDiff::Faulty() const {
  return std::any_of(leftOut.begin(), leftOut.end(), [](const PageLeftOut& page) {
    return page.report.outcome != PageOutcome::LeftAsItIs;
  });
}

std::string DiffName(std::string_view side, const fs::path& page) {
  std::string name = (side.empty() ? "" : std::string(side) + "/") + text::PathText(page);
#if defined(_WIN32)
  std::replace(name.begin(), name.end(), '\\', '/');
#endif
  const bool plain = std::none_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\';
  });
  if (plain) {
    return name;
  }
  std::string quoted = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\t':
        quoted += "\\t";
        break;
      case '\n':
        quoted += "\\n";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          quoted += '\\';
          quoted += static_cast<char>('0' + ((byte >> 6) & 7));
          quoted += static_cast<char>('0' + ((byte >> 3) & 7));
          quoted += static_cast<char>('0' + (byte & 7));
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

SiteDiff DiffSite(platform::Disk& disk, const fs::path& directory, Recursion recursion,
                  const text::TagRules& rules, const DiffText& text) {
  SiteDiff result;
  platform::Expected<std::unique_ptr<platform::Folder>> opened =
      disk.OpenFolder(PathsFor(directory).sourceDir);
  if (!opened) {
    result.folderError = opened.error();
    return result;
  }
  const std::shared_ptr<platform::Folder> top(std::move(*opened));
  // The same check as the update's picks the pages, without its index:
  // every page is read.
  const CheckResult check = CheckFolder(disk, top, recursion, rules, nullptr);
  if (check.folderError) {
    result.folderError = check.folderError;
    return result;
  }
  result.pages = check.pages;
  for (const PageLeftOut& page : check.leftOut) {
    if (page.report.outcome == PageOutcome::LeftAsItIs) {
      result.leftOut.push_back(page);
    }
  }
  PageDiffer differ(disk, rules, text, result);
  FolderCache folders(disk, top);
  for (const fs::path& page : PagesToRewrite(check)) {
    platform::Expected<std::shared_ptr<platform::Folder>> folder = folders.At(page.parent_path());
    if (!folder) {
      result.leftOut.push_back(
          Unreadable(page, PathsFor(directory).sourceDir / page.parent_path(), folder.error()));
      continue;
    }
    differ.Page(**folder, page.filename(), page);
  }
  return result;
}

}  // namespace lapse::batch
