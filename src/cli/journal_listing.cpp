#include "cli/journal_listing.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <span>
#include <vector>

#include "messages/messages.h"
#include "platform/clock.h"
#include "text/names.h"

namespace lapse::cli {

namespace {

text::Today LocalDay(std::chrono::system_clock::time_point when) {
  return platform::DayOf(platform::LocalParts(std::chrono::system_clock::to_time_t(when)));
}

// The blocks of one replace: one time and one folder.
using Replace = std::span<const batch::JournalBlock>;

// The replaces to show, newest first.
std::vector<Replace> Replaces(const batch::Journal& journal, std::optional<text::Today> since) {
  std::vector<Replace> replaces;
  const std::vector<batch::JournalBlock>& blocks = journal.blocks;
  for (std::size_t first = 0; first < blocks.size();) {
    std::size_t end = first + 1;
    while (end < blocks.size() && blocks[end].when == blocks[first].when &&
           blocks[end].folder == blocks[first].folder) {
      ++end;
    }
    if (!since || LocalDay(blocks[first].when) >= *since) {
      replaces.emplace_back(blocks.data() + first, end - first);
    }
    first = end;
  }
  return {replaces.rbegin(), replaces.rend()};
}

std::string Hex(unsigned byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {'\\', 'x', kDigits[(byte >> 4) & 0xf], kDigits[byte & 0xf]};
}

// A line of a page as it stood, on one line of the terminal: its tabs as
// they are, any other control character shown by its escape.
std::string LineText(const std::string& line) {
  std::string shown;
  for (std::size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    const auto byte = static_cast<unsigned char>(c);
    const auto next = at + 1 < line.size() ? static_cast<unsigned char>(line[at + 1]) : 0u;
    // The 8-bit controls too, as bytes of their own or in UTF-8 (C2 80 to
    // C2 9F): some terminals act on them.
    const bool lone = byte >= 0x80 && byte <= 0x9f &&
                      (at == 0 || static_cast<unsigned char>(line[at - 1]) < 0x80);
    if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
      shown += Hex(byte) + Hex(next);
      ++at;
    } else if (lone) {
      shown += Hex(byte);
    } else if (c != '\t' && (byte < 0x20 || byte == 0x7f)) {
      shown += text::DisplayText(std::string_view(&c, 1));
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace

bool ListJournalAsText(const batch::Journal& journal, std::optional<text::Today> since,
                       std::ostream& out) {
  const std::vector<Replace> replaces = Replaces(journal, since);
  bool first = true;
  for (const Replace replace : replaces) {
    if (!first) {
      out << '\n';
    }
    first = false;
    out << messages::When(replace.front().when) << "  " << text::DisplayName(replace.front().folder)
        << '\n';
    for (const batch::JournalBlock& block : replace) {
      out << "  " << text::DisplayName(block.page) << ':' << block.firstLine << '\n';
      for (const std::string& line : block.lines) {
        out << "    " << LineText(line) << '\n';
      }
    }
  }
  return !replaces.empty();
}

void ListJournalAsJson(const batch::Journal& journal, std::optional<text::Today> since,
                       std::ostream& out) {
  // Keys in the order a person reads them.
  using json = nlohmann::ordered_json;
  json blocks = json::array();
  for (const Replace replace : Replaces(journal, since)) {
    for (const batch::JournalBlock& block : replace) {
      blocks.push_back({{"time", platform::UtcText(block.when)},
                        {"folder", text::PathText(block.folder)},
                        {"page", text::PathText(block.page)},
                        {"line", block.firstLine},
                        {"lines", block.lines}});
    }
  }
  // A page need not be UTF-8: a byte that is none shows as U+FFFD.
  out << blocks.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

}  // namespace lapse::cli
