// The machine's own places and programs, read from the environment.
#include <cstdlib>

#include "platform/user_folders.h"
#include "schedule/schedule.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace lapse::schedule {

namespace {

namespace fs = std::filesystem;

#if !defined(_WIN32)
// An XDG variable counts only when it holds an absolute path.
fs::path XdgFolder(const char* name, const fs::path& fallbackBelowHome) {
  if (const char* value = std::getenv(name); value != nullptr && value[0] == '/') {
    return value;
  }
  fs::path home;
  if (const char* value = std::getenv("HOME"); value != nullptr && value[0] != '\0') {
    home = value;
  } else if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr) {
    home = user->pw_dir;
  }
  return home / fallbackBelowHome;
}
#endif

Host HostRunning(fs::path program) {
  Host host(MachineRunner());
  host.program = std::move(program);
#if defined(_WIN32)
  host.root = false;
#else
  host.root = ::geteuid() == 0;
  host.unitFolder = host.root ? fs::path("/etc/systemd/system")
                              : XdgFolder("XDG_CONFIG_HOME", ".config") / "systemd" / "user";
  if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && !host.root) {
    host.lingerFile = fs::path("/var/lib/systemd/linger") / user->pw_name;
  }
#endif
  host.stateFolder = platform::UserStateFolder().value_or(fs::path());
  host.wine = UnderWine();
  return host;
}

}  // namespace

bool UnderWine() {
#if defined(_WIN32)
  // wine's ntdll names its version; Windows's has no such function.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

fs::path RunningProgram() {
#if defined(_WIN32)
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size < path.size()) {
      path.resize(size);
      return fs::path(path);
    }
    path.resize(path.size() * 2);
  }
#else
  std::error_code error;
  fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : program;
#endif
}

fs::path LapseCliBeside(const fs::path& program) {
#if defined(_WIN32)
  const fs::path name = "lapse-cli.exe";
#else
  const fs::path name = "lapse-cli";
#endif
  const fs::path folder = program.parent_path();
  std::error_code error;
  // Installed, the two programs lie side by side; in the build tree the
  // command-line tool is in its own folder beside the program's.
  for (const fs::path& candidate : {folder / name, folder.parent_path() / "cli" / name}) {
    if (fs::is_regular_file(candidate, error)) {
      return candidate.lexically_normal();
    }
  }
  return folder / name;
}

Host MachineHost() {
  return HostRunning(RunningProgram());
}

Host DesktopHost() {
  return HostRunning(LapseCliBeside(RunningProgram()));
}

}  // namespace lapse::schedule
