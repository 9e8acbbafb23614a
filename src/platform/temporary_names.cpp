#include "platform/temporary_names.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>

#include "platform/disk.h"

namespace lapse::platform {

namespace {

constexpr std::string_view kPrefix = ".lapse-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kDigits = 12;

// Where this process's names start: names of two processes at once, or of
// a killed one, seldom meet, and the file is made only where none stands.
std::uint64_t FirstNumber() {
  std::random_device device;
  const auto clock =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return (std::uint64_t{device()} << 32) ^ clock;
}

}  // namespace

std::string NextTemporaryName() {
  static std::atomic<std::uint64_t> next{FirstNumber()};
  std::uint64_t number = next.fetch_add(1);
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string name(kPrefix);
  std::string digits(kDigits, '0');
  for (std::size_t i = kDigits; i-- > 0; number >>= 4) {
    digits[i] = kHex[number & 0xF];
  }
  return name.append(digits).append(kSuffix);
}

bool IsTemporaryName(const std::filesystem::path& name) {
  const std::filesystem::path::string_type& text = name.native();
  const std::filesystem::path prefix(kPrefix);
  const std::filesystem::path suffix(kSuffix);
  return text.size() == kPrefix.size() + kDigits + kSuffix.size() &&
         text.starts_with(prefix.native()) && text.ends_with(suffix.native());
}

}  // namespace lapse::platform
