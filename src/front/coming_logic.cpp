#include "front/coming_logic.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <tuple>
#include <utility>

#include "batch/batch.h"
#include "batch/check.h"
#include "pages/page_format.h"
#include "text/names.h"
#include "text/rewrite.h"
#include "text/tag_scanner.h"

namespace lapse::front {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kReadBufferSize = std::size_t{64} * 1024;
constexpr std::size_t kWriteBufferSize = std::size_t{16} * 1024;
// What the rows and the preview keep of a page's text.
constexpr std::size_t kMostPreviewBytes = std::size_t{8} * 1024 * 1024;
// The characters a row shows of the content.
constexpr std::size_t kMostContentChars = 60;

// A page's text as the rewriter reads it, the first bytes of which are kept
// on the way through.
class KeepingSource final : public text::ByteSource {
 public:
  KeepingSource(text::ByteSource& inner, std::string& kept) : inner_(inner), kept_(kept) {}
  std::size_t Read(std::span<char> buffer) override {
    const std::size_t count = inner_.Read(buffer);
    const std::size_t room = kMostPreviewBytes - std::min(kMostPreviewBytes, kept_.size());
    if (room < count) {
      cut_ = true;
    }
    kept_.append(buffer.data(), std::min(room, count));
    return count;
  }
  std::error_code Error() const override { return inner_.Error(); }
  bool Cut() const { return cut_; }

 private:
  text::ByteSource& inner_;
  std::string& kept_;
  bool cut_ = false;
};

// Takes the copy and forgets it: the preview wants only where lines go.
class DroppingSink final : public text::ByteSink {
 public:
  bool Write(std::string_view /*bytes*/) override { return true; }
  std::error_code Error() const override { return {}; }
};

// A page opened below its folder, one name at a time, as the walk does.
struct OpenedPage {
  std::error_code error;
  std::unique_ptr<platform::SourceFile> file;
};

OpenedPage OpenPage(platform::Disk& disk, const fs::path& folder, const fs::path& page) {
  platform::Expected<std::unique_ptr<platform::Folder>> at =
      disk.OpenFolder(batch::PathsFor(folder).sourceDir);
  if (!at) {
    return {at.error(), nullptr};
  }
  std::unique_ptr<platform::Folder> current = std::move(*at);
  const fs::path parent = page.parent_path();
  for (const fs::path& name : parent) {
    platform::Expected<std::unique_ptr<platform::Folder>> below =
        disk.OpenSubfolder(*current, name);
    if (!below) {
      return {below.error(), nullptr};
    }
    current = std::move(*below);
  }
  platform::Expected<std::unique_ptr<platform::SourceFile>> file =
      disk.OpenSource(*current, page.filename());
  if (!file) {
    return {file.error(), nullptr};
  }
  return {{}, std::move(*file)};
}

// The lines of text as the line splitter ends them: at CR LF, a lone CR or
// a lone LF; a last line without an end counts too.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
      ++start;
    }
  }
  return lines;
}

std::string_view Trimmed(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t\f\v");
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = line.find_last_not_of(" \t\f\v");
  return line.substr(first, last - first + 1);
}

// At most kMostContentChars characters, cut between characters of UTF-8
// (a byte of 8-bit text counts as one).
std::string Shortened(std::string_view line) {
  std::size_t chars = 0;
  for (std::size_t at = 0; at < line.size(); ++at) {
    const auto byte = static_cast<unsigned char>(line[at]);
    if ((byte & 0xC0U) == 0x80U) {
      continue;
    }
    if (chars == kMostContentChars) {
      return std::string(line.substr(0, at)) + "...";
    }
    ++chars;
  }
  return std::string(line);
}

// The first line after line (counted from 1) that holds more than blanks.
std::string ContentAfter(const std::vector<std::string_view>& lines, std::uint64_t line) {
  for (std::size_t at = line; at < lines.size(); ++at) {
    const std::string_view trimmed = Trimmed(lines[at]);
    if (!trimmed.empty()) {
      return Shortened(trimmed);
    }
  }
  return {};
}

// The page's text, up to the first kMostPreviewBytes; empty when it cannot
// be read.
std::string PageText(platform::Disk& disk, const fs::path& folder, const fs::path& page) {
  OpenedPage opened = OpenPage(disk, folder, page);
  std::string text;
  if (!opened.file) {
    return text;
  }
  pages::PageSource source(*opened.file);
  if (batch::NotTextOf(source.content())) {
    return text;
  }
  std::vector<char> buffer(kReadBufferSize);
  while (text.size() < kMostPreviewBytes) {
    const std::size_t count = source.Read(buffer);
    if (count == 0) {
      break;
    }
    text.append(buffer.data(), std::min(count, kMostPreviewBytes - text.size()));
  }
  return text;
}

ComingKind KindOf(text::DatedTagKind kind) {
  switch (kind) {
    case text::DatedTagKind::Expiry:
      return ComingKind::Expiry;
    case text::DatedTagKind::New:
      return ComingKind::New;
    case text::DatedTagKind::Show:
      break;
  }
  return ComingKind::Show;
}

bool IsShowBlock(text::BrokenBlockKind kind) {
  return kind == text::BrokenBlockKind::ShowUnclosed ||
         kind == text::BrokenBlockKind::ShowHoldsCommentEnd ||
         kind == text::BrokenBlockKind::ShowHoldsTag;
}

bool ComesBefore(const ComingRow& a, const ComingRow& b) {
  const bool aFault = a.fault != ComingFault::None;
  const bool bFault = b.fault != ComingFault::None;
  if (aFault != bFault) {
    return aFault;
  }
  if (aFault) {
    return std::tie(a.page, a.line) < std::tie(b.page, b.line);
  }
  return std::tie(a.day, a.page, a.line) < std::tie(b.day, b.page, b.line);
}

void FillContent(platform::Disk& disk, const fs::path& folder, std::vector<ComingRow>& rows) {
  std::map<fs::path, std::vector<ComingRow*>> byPage;
  for (ComingRow& row : rows) {
    byPage[row.page].push_back(&row);
  }
  for (auto& [page, pageRows] : byPage) {
    const std::string text = PageText(disk, folder, page);
    const std::vector<std::string_view> lines = SplitLines(text);
    for (ComingRow* row : pageRows) {
      row->content = ContentAfter(lines, row->line);
    }
  }
}

// Marks the lines of the page now as a run on the day would treat them.
void MarkLines(const std::string& text, const std::vector<text::RemovedBlock>& blocks,
               const std::vector<std::uint64_t>& showTags, Preview& preview) {
  const std::vector<std::string_view> lines = SplitLines(text);
  std::vector<bool> goes(lines.size() + 1, false);
  for (const text::RemovedBlock& block : blocks) {
    for (std::uint64_t line = block.firstLine;
         line < block.firstLine + block.lineCount && line <= lines.size(); ++line) {
      goes[line] = true;
    }
  }
  std::vector<bool> appears(lines.size() + 1, false);
  // A due show block loses its opening and closing lines; what lies between
  // them is kept, and shows. A show block holds no tag line, so the next
  // line that goes after its opening is its closing line.
  for (const std::uint64_t tag : showTags) {
    if (tag > lines.size() || !goes[tag]) {
      continue;
    }
    for (std::uint64_t line = tag + 1; line <= lines.size() && !goes[line]; ++line) {
      appears[line] = true;
    }
  }
  const std::size_t shown = std::min(lines.size(), kMostPreviewLines);
  preview.cut = preview.cut || shown < lines.size();
  preview.lines.reserve(shown);
  for (std::size_t at = 0; at < shown; ++at) {
    const std::uint64_t number = at + 1;
    const PreviewMark mark = goes[number]      ? PreviewMark::Goes
                             : appears[number] ? PreviewMark::Appears
                                               : PreviewMark::Kept;
    preview.lines.push_back({number, mark, std::string(lines[at])});
  }
}

// The show tags of the page, by line.
std::vector<std::uint64_t> ShowTagLines(platform::Disk& disk, const fs::path& folder,
                                        const fs::path& page, const text::DateLocale& locale) {
  std::vector<std::uint64_t> lines;
  OpenedPage opened = OpenPage(disk, folder, page);
  if (!opened.file) {
    return lines;
  }
  pages::PageSource source(*opened.file);
  std::vector<char> buffer(kReadBufferSize);
  text::ScanDatedTags(source, buffer, locale, source.units(), [&](const text::DatedTag& tag) {
    if (tag.kind == text::DatedTagKind::Show) {
      lines.push_back(tag.line);
    }
  });
  return lines;
}

std::string Plural(std::int64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

ComingList ListComing(platform::Disk& disk, const fs::path& folder, const ComingSettings& settings,
                      text::Today today) {
  const text::TagRules rules{settings.newDays, settings.lines, settings.locale,
                             [today] { return today; }};
  batch::CheckResult check = batch::CheckSite(
      disk, folder,
      settings.subfolders ? batch::Recursion::Subfolders : batch::Recursion::ThisFolder, rules);
  ComingList list;
  list.folderError = check.folderError;
  list.leftOut = std::move(check.leftOut);
  // The broken blocks by page and line, so that each tag finds its own
  // without a search through every row.
  std::map<std::pair<fs::path, std::uint64_t>, std::size_t> brokenAt;
  for (const batch::FoundBrokenBlock& broken : check.brokenBlocks) {
    ComingRow row;
    row.fault = ComingFault::Broken;
    row.broken = broken.block.kind;
    row.kind = IsShowBlock(broken.block.kind) ? ComingKind::Show : ComingKind::Expiry;
    row.page = broken.page;
    row.line = broken.block.line;
    brokenAt.emplace(std::pair(row.page, row.line), list.rows.size());
    list.rows.push_back(std::move(row));
  }
  for (const batch::FoundTag& tag : check.tags) {
    // A broken block's tag is listed once, as broken; one whose date cannot
    // be read is listed for that too.
    const auto broken = tag.date ? brokenAt.find(std::pair(tag.page, tag.line)) : brokenAt.end();
    if (broken != brokenAt.end()) {
      list.rows[broken->second].day = tag.lapseDay;
      list.rows[broken->second].dateText = tag.dateText;
      continue;
    }
    ComingRow row;
    row.fault = tag.date ? ComingFault::None : ComingFault::DateFormat;
    row.kind = KindOf(tag.kind);
    row.day = tag.lapseDay;
    row.page = tag.page;
    row.line = tag.line;
    row.dateText = tag.dateText;
    list.rows.push_back(std::move(row));
  }
  FillContent(disk, folder, list.rows);
  std::stable_sort(list.rows.begin(), list.rows.end(), ComesBefore);
  return list;
}

Preview PreviewPage(platform::Disk& disk, const fs::path& folder, const fs::path& page,
                    const ComingSettings& settings, text::Today day) {
  Preview preview;
  OpenedPage opened = OpenPage(disk, folder, page);
  if (!opened.file) {
    preview.end = PreviewEnd::Unreadable;
    preview.error = opened.error;
    return preview;
  }
  pages::PageSource source(*opened.file);
  if (batch::NotTextOf(source.content())) {
    preview.end = PreviewEnd::NotText;
    return preview;
  }
  std::string text;
  KeepingSource keeping(source, text);
  std::vector<char> readBuffer(kReadBufferSize);
  std::vector<char> copyBuffer(kWriteBufferSize);
  DroppingSink dropped;
  text::BufferedWriter copy(dropped, copyBuffer);
  std::vector<text::RemovedBlock> blocks;
  const text::TagRules rules{settings.newDays, settings.lines, settings.locale,
                             [day] { return day; }};
  // The log's blocks say which lines go; the log's bytes are not wanted.
  std::vector<char> logBuffer(kWriteBufferSize);
  DroppingSink droppedLog;
  text::BufferedWriter log(droppedLog, logBuffer);
  const text::RewrittenStream rewritten = text::RewriteStream(
      keeping, source.units(), readBuffer, {copy, &log, text::DisplayName(page), &blocks}, rules);
  preview.cut = keeping.Cut();
  switch (rewritten.end) {
    case text::StreamEnd::Complete:
    case text::StreamEnd::CopyFailed:
    case text::StreamEnd::LogFailed:
      break;
    case text::StreamEnd::ReadFailed:
      preview.end = PreviewEnd::Unreadable;
      preview.error = source.Error();
      return preview;
    case text::StreamEnd::DateFormatError:
    case text::StreamEnd::BrokenBlock: {
      // The run leaves such a page as it is: every line stays.
      preview.end = rewritten.end == text::StreamEnd::DateFormatError ? PreviewEnd::DateFormatError
                                                                      : PreviewEnd::BrokenBlock;
      std::string whole = PageText(disk, folder, page);
      preview.cut = whole.size() >= kMostPreviewBytes;
      MarkLines(whole, {}, {}, preview);
      return preview;
    }
  }
  MarkLines(text, blocks, ShowTagLines(disk, folder, page, settings.locale), preview);
  return preview;
}

ComingLogic::ComingLogic(platform::Disk& disk, fs::path folder, ComingSettings settings,
                         text::Today today)
    : disk_(disk),
      folder_(std::move(folder)),
      settings_(std::move(settings)),
      today_(today),
      lookAt_(today) {}

void ComingLogic::Load() {
  list_ = ListComing(disk_, folder_, settings_, today_);
  selected_.reset();
  preview_.reset();
}

void ComingLogic::LookAt(text::Today day) {
  lookAt_ = day;
  MakePreview();
}

void ComingLogic::Select(std::optional<std::size_t> row) {
  selected_ = row && *row < list_.rows.size() ? row : std::nullopt;
  MakePreview();
}

void ComingLogic::MakePreview() {
  if (!selected_) {
    preview_.reset();
    return;
  }
  preview_ = PreviewPage(disk_, folder_, list_.rows[*selected_].page, settings_, lookAt_);
}

std::optional<fs::path> ComingLogic::SelectedFile() const {
  if (!selected_) {
    return std::nullopt;
  }
  return batch::PathsFor(folder_).sourceDir / list_.rows[*selected_].page;
}

std::uint64_t ComingLogic::SelectedLine() const {
  return selected_ ? list_.rows[*selected_].line : 0;
}

std::string ComingTitle(const fs::path& folder) {
  return "Coming up in " + text::DisplayName(folder);
}

std::string ComingColumnHeading(std::size_t column) {
  static constexpr std::array<const char*, kComingColumns> kHeadings{"Day",  "In",   "Page",
                                                                     "Line", "Kind", "Content"};
  return column < kHeadings.size() ? kHeadings[column] : "";
}

std::string ComingCell(const ComingRow& row, std::size_t column, text::Today today) {
  switch (column) {
    case 0:
      return row.day ? text::FormatDay(*row.day) : row.dateText;
    case 1:
      if (row.fault != ComingFault::None) {
        return FaultName(row);
      }
      return row.day ? InDays(*row.day, today) : "";
    case 2:
      return text::DisplayName(row.page);
    case 3:
      return std::to_string(row.line);
    case 4:
      return KindName(row.kind);
    case 5:
      return row.content;
    default:
      return {};
  }
}

std::string InDays(text::Today day, text::Today today) {
  const std::int64_t days = (day - today).count();
  if (days == 0) {
    return "today";
  }
  if (days == 1) {
    return "tomorrow";
  }
  if (days == -1) {
    return "yesterday";
  }
  if (days > 0) {
    return "in " + Plural(days, "day", "days");
  }
  return Plural(-days, "day", "days") + " ago";
}

std::string KindName(ComingKind kind) {
  switch (kind) {
    case ComingKind::Expiry:
      return "expiry";
    case ComingKind::New:
      return "new";
    case ComingKind::Show:
      break;
  }
  return "show";
}

std::string FaultName(const ComingRow& row) {
  switch (row.fault) {
    case ComingFault::None:
      return {};
    case ComingFault::DateFormat:
      return "date format error";
    case ComingFault::Broken:
      break;
  }
  switch (row.broken) {
    case text::BrokenBlockKind::ExpiryUnclosed:
      return "broken: no <!--ENDL";
    case text::BrokenBlockKind::StrayEndTag:
      return "broken: stray <!--ENDL";
    case text::BrokenBlockKind::ShowUnclosed:
      return "broken: no closing -->";
    case text::BrokenBlockKind::ShowHoldsCommentEnd:
      return "broken: --> inside";
    case text::BrokenBlockKind::ShowHoldsTag:
      break;
  }
  return "broken: tag inside";
}

std::string MarkName(PreviewMark mark) {
  switch (mark) {
    case PreviewMark::Kept:
      return "kept";
    case PreviewMark::Goes:
      return "goes";
    case PreviewMark::Appears:
      break;
  }
  return "appears";
}

std::string LookAtLabel() {
  return "&Date to look at:";
}

std::string NowHeading() {
  return "Now";
}

std::string OnDayHeading(text::Today day) {
  return "On " + text::FormatDay(day);
}

std::string OpenInEditorLabel() {
  return "&Open in editor";
}

std::string CloseLabel() {
  return "Close";
}

std::string NoRowsText(const ComingList& list, const fs::path& folder) {
  if (list.folderError) {
    return "Cannot read " + text::DisplayName(folder) + ": " + list.folderError.message() + ".";
  }
  return list.rows.empty() ? "No dated tags in " + text::DisplayName(folder) + "." : "";
}

std::string PreviewNote(const Preview& preview) {
  switch (preview.end) {
    case PreviewEnd::Shown:
      return preview.cut ? "The page goes on beyond the lines shown." : "";
    case PreviewEnd::Unreadable:
      return "The page cannot be read: " + preview.error.message() + ".";
    case PreviewEnd::NotText:
      return "The page is no text; a run leaves it as it is.";
    case PreviewEnd::DateFormatError:
      return "A date on this page cannot be read; a run leaves the page as it is.";
    case PreviewEnd::BrokenBlock:
      break;
  }
  return "A show block on this page is broken; a run leaves the page as it is.";
}

std::string ComingMenuText() {
  return "&Coming up...";
}

// EditorAtLine

namespace {

enum class LineStyle { Plus, LineOption, FileColon, Goto };

struct KnownEditor {
  std::string_view name;
  LineStyle style;
  bool terminal;
};

constexpr std::array<KnownEditor, 19> kKnownEditors{{
    {"vi", LineStyle::Plus, true},           {"vim", LineStyle::Plus, true},
    {"nvim", LineStyle::Plus, true},         {"nano", LineStyle::Plus, true},
    {"pico", LineStyle::Plus, true},         {"joe", LineStyle::Plus, true},
    {"jed", LineStyle::Plus, true},          {"mg", LineStyle::Plus, true},
    {"micro", LineStyle::FileColon, true},   {"emacs", LineStyle::Plus, false},
    {"emacsclient", LineStyle::Plus, false}, {"gvim", LineStyle::Plus, false},
    {"gedit", LineStyle::Plus, false},       {"xed", LineStyle::Plus, false},
    {"pluma", LineStyle::Plus, false},       {"geany", LineStyle::Plus, false},
    {"kate", LineStyle::LineOption, false},  {"kwrite", LineStyle::LineOption, false},
    {"code", LineStyle::Goto, false},
}};

std::vector<std::string> SplitWords(std::string_view command) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < command.size()) {
    const std::size_t start = command.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) {
      break;
    }
    const std::size_t end = std::min(command.find_first_of(" \t", start), command.size());
    words.emplace_back(command.substr(start, end - start));
    at = end;
  }
  return words;
}

std::string BaseName(const std::string& program) {
  std::string name = fs::path(program).filename().string();
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) {
    name.resize(name.size() - 4);
  }
  return name;
}

}  // namespace

std::optional<EditorCommand> EditorAtLine(std::string_view editor, std::string_view terminal,
                                          const fs::path& file, std::uint64_t line) {
  std::vector<std::string> words = SplitWords(editor);
  if (words.empty()) {
    return std::nullopt;
  }
  const std::string name = BaseName(words.front());
  const auto known = std::find_if(kKnownEditors.begin(), kKnownEditors.end(),
                                  [&](const KnownEditor& each) { return each.name == name; });
  if (known == kKnownEditors.end()) {
    return std::nullopt;
  }
  // emacs runs in a terminal when told to.
  const bool inTerminal = known->terminal ||
                          std::find(words.begin(), words.end(), "-nw") != words.end() ||
                          std::find(words.begin(), words.end(), "--tty") != words.end();
  if (inTerminal && terminal.empty()) {
    return std::nullopt;
  }
  const std::string number = std::to_string(std::max<std::uint64_t>(line, 1));
  const std::string path = file.string();
  std::vector<std::string> arguments(words.begin() + 1, words.end());
  switch (known->style) {
    case LineStyle::Plus:
      arguments.push_back("+" + number);
      // "--" would be read as a file by some of them; a path that starts
      // with a dash is made one that does not.
      arguments.push_back(path.starts_with('-') ? "./" + path : path);
      break;
    case LineStyle::LineOption:
      arguments.insert(arguments.end(), {"--line", number, path});
      break;
    case LineStyle::FileColon:
      arguments.push_back(path + ":" + number);
      break;
    case LineStyle::Goto:
      arguments.insert(arguments.end(), {"-g", path + ":" + number});
      break;
  }
  EditorCommand command{words.front(), std::move(arguments), true};
  if (inTerminal) {
    std::vector<std::string> wrapped{"-e", command.program};
    wrapped.insert(wrapped.end(), command.arguments.begin(), command.arguments.end());
    command.program = std::string(terminal);
    command.arguments = std::move(wrapped);
  }
  return command;
}

}  // namespace lapse::front
