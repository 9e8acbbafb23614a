#include "platform/user_folders.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <knownfolders.h>
#include <shlobj.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace lapse::platform {

namespace {

#if defined(_WIN32)
// The local application data folder of the user the process runs as, from
// the profile rather than the environment: a process started with another
// environment than its user's (an uninstall's action may inherit the
// installer service's) still finds the user's own.
std::optional<std::filesystem::path> LocalAppDataOfProfile() {
  PWSTR path = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
  std::optional<std::filesystem::path> folder;
  if (SUCCEEDED(result) && path != nullptr && *path != L'\0') {
    folder = std::filesystem::path(path);
  }
  ::CoTaskMemFree(path);
  return folder;
}
#else
// An absolute path from the environment; relative ones are to be ignored,
// as the XDG base directory rules have it.
std::optional<std::filesystem::path> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') {
    return std::nullopt;
  }
  return std::filesystem::path(value);
}

std::optional<std::filesystem::path> Home() {
  if (auto home = AbsoluteFromEnvironment("HOME")) {
    return home;
  }
  // Under cron or a service manager HOME may be missing: the user database
  // knows it.
  const passwd* user = ::getpwuid(::geteuid());
  if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
    return std::filesystem::path(user->pw_dir);
  }
  return std::nullopt;
}
#endif

}  // namespace

std::optional<std::filesystem::path> UserStateFolder() {
#if defined(_WIN32)
  if (auto profile = LocalAppDataOfProfile()) {
    return *profile / L"Lapse";
  }
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local != nullptr && *local != L'\0') {
    return std::filesystem::path(local) / L"Lapse";
  }
  return std::nullopt;
#else
  if (auto state = AbsoluteFromEnvironment("XDG_STATE_HOME")) {
    return *state / "lapse";
  }
  if (auto home = Home()) {
    return *home / ".local" / "state" / "lapse";
  }
  return std::nullopt;
#endif
}

}  // namespace lapse::platform
