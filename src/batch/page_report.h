// What became of one page of a run, as the fronts are told it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "pages/page_format.h"
#include "text/show_block.h"

namespace lapse::batch {

enum class FileAction {
  Read,
  Write,
  // Giving a copy its page's permissions, ACL or attributes.
  GiveAccess,
};

// A file that could not be read or written, and why.
struct FileFailure {
  FileAction action = FileAction::Read;
  std::filesystem::path path;
  std::error_code error;
};

// What a page is, when it is no text that Lapse rewrites.
enum class NotText { Compressed, Image, Pdf, Archive, Link, Binary };

enum class PageOutcome {
  Rewritten,
  DateFormatError,  // its copy would stop at the faulty tag: none is made
  Failed,           // it could not be read, or its copy written
  LeftAsItIs,       // no text Lapse rewrites; not counted as a failure
  LinesNotLogged,   // its removed lines could not be written to the log
  BrokenBlock,      // a show block that does not close as it should: no copy is made
};

struct PageReport {
  PageOutcome outcome = PageOutcome::Rewritten;
  FileFailure failure;                    // when Failed or LinesNotLogged (the log)
  NotText notText = NotText::Compressed;  // when LeftAsItIs
  // When DateFormatError: the faulty tag's line (the first is 1; 0 where
  // not known) and what stands where its date should.
  std::uint64_t badDateLine = 0;
  std::string badDateText{};
  // When BrokenBlock; when Rewritten, a lapsed block that no end tag
  // closed and that took the rest of the page.
  std::optional<text::BrokenBlock> brokenBlock = std::nullopt;
};

// A page that a command left out or left as it is, and why.
struct PageLeftOut {
  std::filesystem::path name;  // below the folder of the command
  PageReport report;
};

// What a page is when its first bytes say it is no text; nothing for text.
std::optional<NotText> NotTextOf(pages::Content content);

}  // namespace lapse::batch
