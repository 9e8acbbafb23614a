// The small text files Lapse keeps for itself (the run record, the kept
// replaces' manifests, the update's index): read whole, and parsed a number
// at a time.
#pragma once

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/disk.h"
#include "platform/expected.h"
#include "text/streams.h"

namespace lapse::batch {

// Everything file holds, or why it could not be read: a file read in part
// is no file of Lapse's to go by.
platform::Expected<std::string> ReadAll(text::ByteSource& file);

// How far a file Lapse keeps for itself must be on the disk when written.
enum class Durability {
  // Lost to a power cut, it costs some work again (an index, a note).
  Cached,
  // Its bytes, then its name, are on the disk before the call returns:
  // what comes next relies on it (a record, a manifest, a journal).
  Synced,
};

// Writes text as the file name in folder, readable by its owner only:
// beside the old one, then named over it, so that a reader finds the old
// file or the new one whole.
std::error_code WriteWholeFile(platform::Disk& disk, platform::Folder& folder,
                               const std::filesystem::path& name, std::string_view text,
                               Durability durability);

// Takes a number and the space after it from the front of text; false, and
// text as it was, when no such number stands there.
template <typename Number>
bool Take(std::string_view& text, Number& number, int base = 10) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (error != std::errc() || end == text.data() + text.size() || *end != ' ') {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

// Where a hash of a file's bytes may stand, what stands for none.
inline constexpr std::string_view kNoHash = "-";

// Takes a hash in hexadecimal, or kNoHash, and the space after it.
bool TakeHash(std::string_view& text, std::optional<std::uint64_t>& hash);

}  // namespace lapse::batch
