#include "win32/services.h"

#include <shellapi.h>

#include <algorithm>
#include <system_error>

#include "front/help_topics.h"
#include "messages/messages.h"
#include "win32/text.h"
#include "win32/text_window.h"

namespace lapse::win32 {

namespace {

constexpr const wchar_t* kTitle = L"Lapse";

std::filesystem::path ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size < path.size()) {
      path.resize(size);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::filesystem::path(path).parent_path();
}

std::wstring KeyOf(std::string_view application, std::string_view section) {
  return L"Software\\" + Wide(application) + L"\\" + Wide(section);
}

bool Hidden(DWORD attributes) {
  return (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

}  // namespace

bool MessageBoxPrompts::AskYesNo(HWND owner, const std::wstring& text) {
  return MessageBoxW(owner, text.c_str(), kTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void MessageBoxPrompts::Tell(HWND owner, const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), kTitle, MB_OK);
}

void MessageBoxPrompts::Warn(HWND owner, const std::wstring& text) {
  MessageBoxW(owner, text.c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void BrowserHelp::ShowTopic(HWND owner, int topic) {
  const std::filesystem::path page = ProgramFolder() / L"help" / Wide(front::HelpPageOf(topic));
  ShellExecuteW(owner, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::wstring NotepadCommandLine(const std::filesystem::path& file) {
  // A Windows path holds no quotation mark, so quoting keeps it one argument.
  return L"notepad.exe \"" + file.native() + L"\"";
}

Notepad::Notepad(std::filesystem::path program) : program_(std::move(program)) {
  if (program_.empty()) {
    // The system's notepad, never one that lies in the site's folder.
    std::wstring system(MAX_PATH, L'\0');
    system.resize(GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size())));
    program_ = system + L"\\notepad.exe";
  }
}

Notepad::~Notepad() = default;

bool Notepad::Open(const std::filesystem::path& file) {
  std::wstring commandLine = NotepadCommandLine(file);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(program_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &process) == 0) {
    if (!window_) {
      window_ = std::make_unique<TextWindow>();
    }
    window_->Show(file);
    return true;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

std::string RegistryStore::Get(std::string_view application, std::string_view section,
                               std::string_view key, std::string_view defaultValue) {
  const std::wstring path = KeyOf(application, section);
  const std::wstring name = Wide(key);
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return std::string(defaultValue);
  }
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr,
                   value.data(), &size) != ERROR_SUCCESS) {
    return std::string(defaultValue);
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return Utf8(value);
}

void RegistryStore::Set(std::string_view application, std::string_view section,
                        std::string_view key, std::string_view value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyOf(application, section).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS) {
    writeFailed_ = true;
    return;
  }
  const std::wstring text = Wide(value);
  if (RegSetValueExW(opened, Wide(key).c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
    writeFailed_ = true;
  }
  RegCloseKey(opened);
}

std::vector<front::Drive> LogicalDrives() {
  std::vector<front::Drive> drives;
  const DWORD letters = GetLogicalDrives();
  for (int letter = 0; letter < 26; ++letter) {
    if ((letters & (1u << letter)) == 0) {
      continue;
    }
    const std::wstring root = {static_cast<wchar_t>(L'A' + letter), L':', L'\\'};
    if (GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) {
      continue;
    }
    wchar_t label[MAX_PATH + 1] = {};
    // A drive without a medium has no label; it is listed all the same.
    GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0);
    drives.push_back({FolderText(root), Utf8(label)});
  }
  return drives;
}

Listing ListFolder(const std::wstring& folder, EntryWanted wanted) {
  Listing listing;
  WIN32_FIND_DATAW found{};
  std::wstring pattern = folder;
  if (!pattern.empty() && pattern.back() != L'\\') {
    pattern += L'\\';
  }
  pattern += L'*';
  HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      listing.error = messages::CannotOpenFolder(
          std::filesystem::path(folder),
          std::error_code(static_cast<int>(error), std::system_category()));
    }
    return listing;
  }
  do {
    const std::wstring name = found.cFileName;
    const bool folderEntry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (name == L"." || name == L".." || Hidden(found.dwFileAttributes) ||
        folderEntry != (wanted == EntryWanted::Folders)) {
      continue;
    }
    listing.names.push_back(name);
  } while (FindNextFileW(search, &found) != 0);
  FindClose(search);
  std::sort(listing.names.begin(), listing.names.end(),
            [](const std::wstring& a, const std::wstring& b) {
              return _wcsicmp(a.c_str(), b.c_str()) < 0;
            });
  return listing;
}

}  // namespace lapse::win32
