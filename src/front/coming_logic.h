// What the "Coming up" window shows, without drawing: every dated tag of a
// folder that is due or will change, by the day it does, and a page as it
// will be on a chosen day beside what it is now. The rows come from the
// check and the preview from the rewriter itself, so that the window says
// exactly what a run on that day would do. Today is always handed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/page_report.h"
#include "platform/disk.h"
#include "text/date.h"
#include "text/show_block.h"

namespace lapse::front {

enum class ComingKind { Expiry, New, Show };
// What stands in the way of a row: a date that cannot be read, or a block
// that does not close as it should. Such rows come first.
enum class ComingFault { None, DateFormat, Broken };

struct ComingRow {
  ComingFault fault = ComingFault::None;
  // With ComingFault::Broken, how the block is broken.
  text::BrokenBlockKind broken = text::BrokenBlockKind::ExpiryUnclosed;
  ComingKind kind = ComingKind::Expiry;
  // The first day on which the tag changes its page; nothing where a fault
  // leaves no day.
  std::optional<text::Today> day;
  std::filesystem::path page;  // below the folder
  std::uint64_t line = 0;      // counted from 1
  // The date as written, or what stands in its place when it cannot be read.
  std::string dateText;
  // The first non-empty line after the tag, trimmed and shortened for a list.
  std::string content;
};

// The options as the main window's run takes them.
struct ComingSettings {
  std::int16_t newDays = 30;
  std::int16_t lines = 1;
  text::DateLocale locale;
  bool subfolders = false;
};

struct ComingList {
  // The folder itself could not be read; no rows then.
  std::error_code folderError;
  // Faults first (by page and line), then by day, page and line.
  std::vector<ComingRow> rows;
  // Pages that could not be read or are no text.
  std::vector<batch::PageLeftOut> leftOut;
};

// The rows of folder's pages as a run on today and the days after it would
// treat them.
ComingList ListComing(platform::Disk& disk, const std::filesystem::path& folder,
                      const ComingSettings& settings, text::Today today);

enum class PreviewMark {
  Kept,
  Goes,     // removed on the day looked at
  Appears,  // a show block's content, shown from that day on
};

struct PreviewLine {
  std::uint64_t number = 0;  // in the page as it is now, from 1
  PreviewMark mark = PreviewMark::Kept;
  std::string text;  // without its line end; UTF-8 for a UTF-16 page
  friend bool operator==(const PreviewLine&, const PreviewLine&) = default;
};

enum class PreviewEnd {
  Shown,
  Unreadable,  // the page could not be opened or read (error)
  NotText,     // an image, an archive, a binary file under an HTML name
  // The rewriter stops at these and leaves the page as it is; every line
  // is shown as kept.
  DateFormatError,
  BrokenBlock,
};

struct Preview {
  PreviewEnd end = PreviewEnd::Shown;
  std::error_code error;
  std::vector<PreviewLine> lines;
  // The page goes on beyond the lines shown.
  bool cut = false;
};

// A page longer than this shows its start.
inline constexpr std::size_t kMostPreviewLines = 20000;

// page (below folder) as a run on day would leave it, line by line beside
// the page as it is now.
Preview PreviewPage(platform::Disk& disk, const std::filesystem::path& folder,
                    const std::filesystem::path& page, const ComingSettings& settings,
                    text::Today day);

// A program and its arguments, started without a shell.
struct EditorCommand {
  std::string program;
  std::vector<std::string> arguments;
  bool atLine = false;  // the editor was told the line
};

// How to open file at line with the user's editor (VISUAL, else EDITOR, as
// the face reads them; a command with arguments is split at blanks). An
// editor known to take a line is told it (+LINE, --line LINE, FILE:LINE);
// one that needs a terminal is started in terminal ("x-terminal-emulator"),
// and not at all without one. Nothing where no editor can be told the line:
// the face then opens the file as the main window opens the log.
std::optional<EditorCommand> EditorAtLine(std::string_view editor, std::string_view terminal,
                                          const std::filesystem::path& file, std::uint64_t line);

// The window's state: the rows, the day looked at and the row selected.
class ComingLogic {
 public:
  ComingLogic(platform::Disk& disk, std::filesystem::path folder, ComingSettings settings,
              text::Today today);

  // Reads the rows (again); the selection goes.
  void Load();
  const ComingList& List() const { return list_; }
  const std::filesystem::path& Folder() const { return folder_; }
  text::Today Today() const { return today_; }

  // The day whose pages the preview shows; today at first.
  text::Today LookAt() const { return lookAt_; }
  void LookAt(text::Today day);
  // A row of List().rows, or none.
  void Select(std::optional<std::size_t> row);
  std::optional<std::size_t> Selected() const { return selected_; }
  // The selected row's page on the day looked at; nothing without a row.
  const std::optional<Preview>& Shown() const { return preview_; }
  // The selected row's page (a full path) and line, for "Open in editor".
  std::optional<std::filesystem::path> SelectedFile() const;
  std::uint64_t SelectedLine() const;

 private:
  void MakePreview();

  platform::Disk& disk_;
  std::filesystem::path folder_;
  ComingSettings settings_;
  text::Today today_;
  text::Today lookAt_;
  ComingList list_;
  std::optional<std::size_t> selected_;
  std::optional<Preview> preview_;
};

// The words both faces show.
std::string ComingTitle(const std::filesystem::path& folder);  // "Coming up in FOLDER"
// "Day", "In", "Page", "Line", "Kind", "Content"
inline constexpr std::size_t kComingColumns = 6;
std::string ComingColumnHeading(std::size_t column);
// The text of a row in column.
std::string ComingCell(const ComingRow& row, std::size_t column, text::Today today);
// "today", "tomorrow", "in 3 days", "yesterday", "2 days ago".
std::string InDays(text::Today day, text::Today today);
std::string KindName(ComingKind kind);  // "expiry", "new", "show"
// "date format error", "no <!--ENDL", ...; empty for a row without a fault.
std::string FaultName(const ComingRow& row);
std::string MarkName(PreviewMark mark);     // "kept", "goes", "appears"
std::string LookAtLabel();                  // "&Date to look at:"
std::string NowHeading();                   // "Now"
std::string OnDayHeading(text::Today day);  // "On 2026-12-31"
std::string OpenInEditorLabel();            // "&Open in editor"
std::string CloseLabel();                   // "Close"
// What the list says when it has no rows, or cannot be read.
std::string NoRowsText(const ComingList& list, const std::filesystem::path& folder);
// A line above the preview when it is not the whole page as it will be.
std::string PreviewNote(const Preview& preview);
// "&Coming up..." in the main window's Setup menu.
std::string ComingMenuText();

}  // namespace lapse::front
