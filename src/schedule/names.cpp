#include "schedule/names.h"

#include <cstdint>

namespace lapse::schedule {

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool IsSystemdPlain(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' ||
         c == '_' || c == '.';
}

void AppendEscapedByte(std::string& into, char c) {
  const auto byte = static_cast<unsigned char>(c);
  into += "\\x";
  into += kHex[byte >> 4];
  into += kHex[byte & 0xf];
}

// The length of the UTF-8 sequence that starts with lead; 0 for a byte that
// starts none.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xc2 && lead <= 0xdf) {
    return 2;
  }
  if (lead >= 0xe0 && lead <= 0xef) {
    return 3;
  }
  if (lead >= 0xf0 && lead <= 0xf4) {
    return 4;
  }
  return 0;
}

bool ValidSequence(std::string_view text, size_t at, size_t length) {
  if (length == 0 || at + length > text.size()) {
    return false;
  }
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) {
      return false;
    }
  }
  // No overlong forms, no surrogates, nothing above U+10FFFF.
  if (length == 3) {
    return !(byte(0) == 0xe0 && byte(1) < 0xa0) && !(byte(0) == 0xed && byte(1) >= 0xa0);
  }
  if (length == 4) {
    return !(byte(0) == 0xf0 && byte(1) < 0x90) && !(byte(0) == 0xf4 && byte(1) >= 0x90);
  }
  return true;
}

// text cut to at most size bytes, not within a UTF-8 sequence.
std::string_view CutAtCharacter(std::string_view text, size_t size) {
  if (text.size() <= size) {
    return text;
  }
  while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xc0) == 0x80) {
    --size;
  }
  return text.substr(0, size);
}

// A word that no shell, cron or systemd reads as anything but itself.
bool IsPlainWord(std::string_view word) {
  return !word.empty() && word.find_first_not_of(
                              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                              "@+=:,./-_") == std::string_view::npos;
}

}  // namespace

NameFault CheckFolderName(std::string_view folder) {
  for (size_t at = 0; at < folder.size();) {
    const auto lead = static_cast<unsigned char>(folder[at]);
    if (lead < 0x20 || lead == 0x7f) {
      return NameFault::ControlCharacter;
    }
    const size_t length = SequenceLength(lead);
    if (!ValidSequence(folder, at, length)) {
      return NameFault::NotUtf8;
    }
    at += length;
  }
  return NameFault::None;
}

std::string ShownName(std::string_view name) {
  std::string shown;
  for (size_t at = 0; at < name.size();) {
    const char c = name[at];
    const auto byte = static_cast<unsigned char>(c);
    const size_t length = SequenceLength(byte);
    if (c == '\n' || c == '\r' || c == '\t') {
      shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (byte < 0x20 || byte == 0x7f || !ValidSequence(name, at, length)) {
      AppendEscapedByte(shown, c);
    } else {
      shown.append(name.substr(at, length));
      at += length;
      continue;
    }
    ++at;
  }
  return shown;
}

std::string Fingerprint(std::string_view text) {
  // FNV-1a: the same on every platform and every run.
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  std::string digits(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) {
    digits[static_cast<size_t>(i)] = kHex[hash & 0xf];
  }
  return digits;
}

std::string SystemdPathEscape(std::string_view path) {
  // The path simplified: no repeated slashes, none at either end.
  std::string simple;
  for (size_t at = 0; at < path.size(); ++at) {
    if (path[at] == '/' && (simple.empty() || simple.back() == '/')) {
      continue;
    }
    simple += path[at];
  }
  while (!simple.empty() && simple.back() == '/') {
    simple.pop_back();
  }
  if (simple.empty()) {
    return "-";
  }
  std::string escaped;
  for (size_t at = 0; at < simple.size(); ++at) {
    const char c = simple[at];
    if (c == '/') {
      escaped += '-';
    } else if (IsSystemdPlain(c) && !(at == 0 && c == '.')) {
      escaped += c;
    } else {
      AppendEscapedByte(escaped, c);
    }
  }
  return escaped;
}

std::string UnitBaseName(std::string_view folder) {
  // systemd takes unit names of up to 255 characters; ".service" is the
  // longer suffix.
  constexpr size_t kLongestBase = 255 - std::string_view(".service").size();
  const std::string escaped = SystemdPathEscape(folder);
  if (kUnitPrefix.size() + escaped.size() <= kLongestBase) {
    return std::string(kUnitPrefix) + escaped;
  }
  const std::string mark = std::string("_").append(Fingerprint(folder));
  size_t keep = kLongestBase - kUnitPrefix.size() - mark.size();
  // Not within a \xHH.
  const size_t backslash = escaped.rfind('\\', keep);
  if (backslash != std::string::npos && backslash + 4 > keep) {
    keep = backslash;
  }
  return std::string(kUnitPrefix) + escaped.substr(0, keep) + mark;
}

std::string SystemdWord(std::string_view word) {
  if (IsPlainWord(word)) {
    return std::string(word);
  }
  std::string quoted = "\"";
  for (const char c : word) {
    switch (c) {
      case '\\':
        quoted += "\\\\";
        break;
      case '"':
        quoted += "\\\"";
        break;
      case '%':
        quoted += "%%";
        break;
      case '$':
        quoted += "$$";
        break;
      default:
        quoted += c;
    }
  }
  return quoted + '"';
}

std::string SystemdText(std::string_view text) {
  std::string doubled;
  for (const char c : text) {
    doubled += c;
    if (c == '%') {
      doubled += '%';
    }
  }
  return doubled;
}

std::string CronShellWord(std::string_view word) {
  if (IsPlainWord(word)) {
    return std::string(word);
  }
  if (word.empty()) {
    return "''";
  }
  std::string quoted;
  std::string_view rest = word;
  while (!rest.empty()) {
    const size_t percent = rest.find('%');
    const std::string_view text = rest.substr(0, percent);
    if (!text.empty()) {
      quoted += "'";
      for (const char c : text) {
        quoted += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
      }
      quoted += "'";
    }
    if (percent == std::string_view::npos) {
      break;
    }
    quoted += "\"$(printf '\\045')\"";
    rest.remove_prefix(percent + 1);
  }
  return quoted;
}

std::string ShellWord(std::string_view word) {
  if (IsPlainWord(word)) {
    return std::string(word);
  }
  std::string quoted = "'";
  for (const char c : word) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

std::string WindowsArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + '"';
}

std::string XmlText(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string TaskName(std::string_view folder) {
  std::string readable;
  for (const char c : folder) {
    const bool refused = std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos ||
                         static_cast<unsigned char>(c) < 0x20;
    readable += refused ? '_' : c;
  }
  while (!readable.empty() && readable.front() == '_') {
    readable.erase(readable.begin());
  }
  constexpr size_t kLongestReadable = 80;
  return "Update " + std::string(CutAtCharacter(readable, kLongestReadable)) + " " +
         Fingerprint(folder);
}

}  // namespace lapse::schedule
