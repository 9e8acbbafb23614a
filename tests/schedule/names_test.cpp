#include "schedule/names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "schedule/program_runner.h"
#include "support/cron_line.h"

#if defined(_WIN32)
// windows.h comes before every other Windows header.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#endif

namespace lapse::schedule {
namespace {

using testing_support::CronPasses;

struct Escaped {
  const char* path;
  const char* escaped;
};

// What `systemd-escape --path` makes of each, as systemd 252 does.
const Escaped kEscapes[] = {
    {"/srv/www", "srv-www"},
    {"/srv/my site", "srv-my\\x20site"},
    {"/srv/it's \"quoted\"", "srv-it\\x27s\\x20\\x22quoted\\x22"},
    {"/srv/50% $HOME", "srv-50\\x25\\x20\\x24HOME"},
    {"/srv/Grüße", "srv-Gr\\xc3\\xbc\\xc3\\x9fe"},
    {"/srv/a-b_c.d:e", "srv-a\\x2db_c.d:e"},
    {"/.hidden/x.y", "\\x2ehidden-x.y"},
    {"/srv/back\\slash", "srv-back\\x5cslash"},
    {"/srv//twice/", "srv-twice"},
    {"/", "-"},
};

TEST(NamesTest, PathsAreEscapedAsSystemdEscapesThem) {
  for (const Escaped& item : kEscapes) {
    EXPECT_EQ(SystemdPathEscape(item.path), item.escaped) << item.path;
  }
}

#if !defined(_WIN32)
TEST(NamesTest, TheEscapesAgreeWithSystemdEscape) {
  ProgramRunner& runner = MachineRunner();
  if (!runner.Has("systemd-escape")) {
    GTEST_SKIP() << "systemd-escape is not installed (Debian's package systemd has it)";
  }
  for (const Escaped& item : kEscapes) {
    const ProgramResult result = runner.Run("systemd-escape", {"--path", item.path}, {});
    ASSERT_EQ(result.status, 0) << item.path << ": " << result.errors;
    EXPECT_EQ(result.output, std::string(SystemdPathEscape(item.path)) + "\n") << item.path;
  }
}
#endif

TEST(NamesTest, ALongFolderGetsAUnitNameSystemdTakes) {
  const std::string shortName = UnitBaseName("/srv/www");
  EXPECT_EQ(shortName, "lapse-update-srv-www");
  struct Case {
    const char* name;
    std::string folder;
  };
  const Case cases[] = {
      {"ASCII", "/srv/" + std::string(300, 'a')},
      {"spaces", "/srv/" + std::string(120, ' ')},
      {"non-ASCII", "/srv/" +
                        [] {
                          std::string text;
                          for (int i = 0; i < 60; ++i)
                            text += "ü";
                          return text;
                        }()},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    const std::string name = UnitBaseName(item.folder);
    EXPECT_LE(name.size() + std::string(".service").size(), 255u);
    EXPECT_EQ(name.rfind("lapse-update-srv-", 0), 0u);
    EXPECT_EQ(name.substr(name.size() - 17), "_" + Fingerprint(item.folder));
    // No \xHH is cut in two.
    const size_t backslash = name.rfind('\\');
    if (backslash != std::string::npos) {
      EXPECT_LE(backslash + 4, name.size() - 17);
    }
    EXPECT_NE(name, UnitBaseName(item.folder + "b"));
  }
}

struct Word {
  const char* name;
  std::string text;
};

const Word kWords[] = {
    {"plain", "/srv/www"},
    {"space", "/srv/my site"},
    {"single quote", "/srv/it's"},
    {"double quotes", "/srv/\"q\""},
    {"percent", "/srv/50% off"},
    {"percents", "%%H%"},
    {"dollar", "/srv/$HOME ${PATH}"},
    {"backquote", "/srv/`id`"},
    {"backslash", "/srv/a\\b"},
    {"backslash before percent", "/srv/a\\%b\\"},
    {"non-ASCII", "/srv/Grüße/目录"},
    {"glob", "/srv/*"},
    {"leading dash", "-x"},
    {"empty", ""},
};

// systemd's reading of one double-quoted ExecStart word: C escapes, %% for
// a percent sign, $$ for a dollar sign.
std::string SystemdReads(const std::string& word) {
  if (word.front() != '"') {
    EXPECT_EQ(word.find_first_of("\\'\"%$ "), std::string::npos) << word;
    return word;
  }
  EXPECT_EQ(word.front(), '"');
  EXPECT_EQ(word.back(), '"');
  std::string text;
  for (size_t at = 1; at + 1 < word.size(); ++at) {
    const char c = word[at];
    if (c == '\\') {
      text += word[++at];
    } else if ((c == '%' || c == '$') && word[at + 1] == c) {
      text += c;
      ++at;
    } else {
      EXPECT_TRUE(c != '"' && c != '%' && c != '$') << word;
      text += c;
    }
  }
  return text;
}

TEST(NamesTest, ExecStartWordsComeBackAsTheyWere) {
  for (const Word& word : kWords) {
    EXPECT_EQ(SystemdReads(SystemdWord(word.text)), word.text) << word.name;
  }
  EXPECT_EQ(SystemdText("50% off"), "50%% off");
}

#if !defined(_WIN32)
TEST(NamesTest, CronWordsReachTheProgramAsTheyWere) {
  for (const Word& word : kWords) {
    const std::string quoted = CronShellWord(word.text);
    EXPECT_EQ(quoted.find('%'), std::string::npos) << word.name << ": " << quoted;
    const ProgramResult result =
        MachineRunner().Run("/bin/sh", {"-c", "printf '[%s]' " + CronPasses(quoted)}, {});
    ASSERT_EQ(result.status, 0) << word.name << ": " << result.errors;
    EXPECT_EQ(result.output, "[" + word.text + "]") << word.name << ": " << quoted;
  }
}
#endif

TEST(NamesTest, WindowsArgumentsAreQuotedAsTheRuntimeReadsThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Sites\\www", "C:\\Sites\\www"},     {"C:\\My Site", "\"C:\\My Site\""},
      {"C:\\My Site\\", "\"C:\\My Site\\\\\""}, {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},       {"", "\"\""},
  };
  for (const auto& [argument, quoted] : cases) {
    EXPECT_EQ(WindowsArgument(argument), quoted) << argument;
#if defined(_WIN32)
    int count = 0;
    const std::wstring line =
        L"program.exe " + QuotedWindowsArgument(std::wstring(argument.begin(), argument.end()));
    wchar_t** args = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_EQ(count, 2) << argument;
    EXPECT_EQ(std::wstring(args[1]), std::wstring(argument.begin(), argument.end()));
    LocalFree(args);
#endif
  }
}

TEST(NamesTest, TaskNamesHoldNoCharacterATaskNameMayNot) {
  const std::string folders[] = {"C:\\Sites\\www", "C:\\Sites\\a:b*c?\"d\"<e>|f/g",
                                 "C:\\Grüße\\" + std::string(200, 'x')};
  for (const std::string& folder : folders) {
    const std::string name = TaskName(folder);
    EXPECT_EQ(name.find_first_of("\\/:*?\"<>|"), std::string::npos) << name;
    EXPECT_LE(name.size(), 120u);
    EXPECT_EQ(name.substr(name.size() - 16), Fingerprint(folder));
    EXPECT_EQ(CheckFolderName(name), NameFault::None) << "cut inside a character: " << name;
  }
  EXPECT_EQ(TaskName("C:\\Sites\\www"), "Update C__Sites_www " + Fingerprint("C:\\Sites\\www"));
  EXPECT_NE(TaskName("C:\\a?"), TaskName("C:\\a*"));
}

TEST(NamesTest, NamesThatCannotBeScheduledSafelyAreFound) {
  const std::pair<std::string, NameFault> cases[] = {
      {"/srv/www", NameFault::None},
      {"/srv/Grüße 目录 '\"%$", NameFault::None},
      {"/srv/a\nb", NameFault::ControlCharacter},
      {"/srv/a\rb", NameFault::ControlCharacter},
      {"/srv/a\tb", NameFault::ControlCharacter},
      {"/srv/a\x7f", NameFault::ControlCharacter},
      {"/srv/\xff", NameFault::NotUtf8},
      {"/srv/\xc3", NameFault::NotUtf8},
      {"/srv/\xc0\xaf", NameFault::NotUtf8},
      {"/srv/\xed\xa0\x80", NameFault::NotUtf8},
  };
  for (const auto& [name, fault] : cases) {
    EXPECT_EQ(CheckFolderName(name), fault) << ShownName(name);
  }
  EXPECT_EQ(ShownName("/srv/a\nb\xff"), "/srv/a\\nb\\xff");
}

}  // namespace
}  // namespace lapse::schedule
