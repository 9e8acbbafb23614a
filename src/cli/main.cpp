#include <iostream>

#include "cli/commands.h"
#include "platform/clock.h"
#include "platform/user_folders.h"
#include "schedule/history.h"
#include "text/names.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
// The arguments as UTF-8. The narrow argv of Windows holds only what the ANSI
// code page can spell, so a folder named in another script would not arrive.
std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide != nullptr && i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}
#else
std::vector<std::string> Arguments(int argc, char** argv) {
  return {argv + 1, argv + argc};
}
#endif

bool ErrorIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) != 0;
#endif
}

// The columns of the terminal a stream goes to (the error stream, or with
// output the output stream); 80 where it goes to no terminal.
std::size_t TerminalColumns(bool output = false) {
#if defined(_WIN32)
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
                                 &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return static_cast<std::size_t>(columns);
  }
#else
  winsize size{};
  if (::ioctl(output ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
#endif
  return 80;
}

// Adds the update to the user's history, where `schedules` and the desktop
// program's schedule dialog find how the last one went. A history that
// cannot be written is said, and changes nothing of the update.
void AddToHistory(const std::filesystem::path& stateFolder,
                  const lapse::cli::UpdateReport& report) {
  lapse::schedule::HistoryEntry entry;
  entry.time = std::chrono::system_clock::now();
  std::error_code error;
  // A folder that another took the place of keeps the name it was
  // scheduled by, which now leads elsewhere.
  entry.folder =
      report.notTheScheduledFolder
          ? std::filesystem::absolute(report.folder, error).lexically_normal()
          : std::filesystem::weakly_canonical(std::filesystem::absolute(report.folder), error);
  if (error) {
    entry.folder = report.folder;
  }
  using lapse::schedule::UpdateOutcome;
  entry.outcome = report.notTheScheduledFolder               ? UpdateOutcome::NotTheScheduledFolder
                  : report.status == lapse::cli::kUsageError ? UpdateOutcome::CouldNotStart
                                                             : UpdateOutcome::Ran;
  entry.recursive = report.recursive;
  entry.status = report.status;
  entry.rewritten = report.rewritten;
  entry.leftCount = report.leftAsTheyWere.size();
  for (const std::string& sentence : report.leftAsTheyWere) {
    if (entry.left.size() == lapse::schedule::kMostPagesKept) {
      break;
    }
    entry.left.push_back({"", sentence});
  }
  entry.problem = report.problem;
  const std::filesystem::path file = lapse::schedule::HistoryFile(stateFolder);
  if (std::error_code written = lapse::schedule::AppendHistory(entry, file)) {
    std::cerr << "lapse-cli update: Cannot add the update to the history "
              << lapse::text::PathText(file) << ": " << written.message() << ".\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The messages name files in UTF-8 too.
  SetConsoleOutputCP(CP_UTF8);
#endif
  const std::vector<std::string> args = Arguments(argc, argv);
#if defined(_WIN32)
  // A diff writes each page's lines byte for byte: a text stream would turn
  // their LF into CR LF, and a CR LF into CR CR LF, which patch cannot apply.
  if (!args.empty() && args.front() == "diff") {
    std::cout.flush();
    _setmode(_fileno(stdout), _O_BINARY);
  }
#endif
  lapse::cli::Environment environment;
  environment.clock = [] { return lapse::platform::LocalToday(); };
  environment.locale = lapse::platform::UserDateLocale();
  environment.errorIsTerminal = ErrorIsTerminal();
  environment.terminalColumns = TerminalColumns();
  environment.outputColumns = TerminalColumns(true);
  environment.useTimeZone = lapse::platform::UseTimeZone;
  environment.keepIn = lapse::platform::UserStateFolder();
  if (environment.keepIn) {
    environment.updated = [stateFolder =
                               *environment.keepIn](const lapse::cli::UpdateReport& report) {
      AddToHistory(stateFolder, report);
    };
  }
  return lapse::cli::RunCommandLine(args, environment, std::cout, std::cerr);
}
