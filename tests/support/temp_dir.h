// A directory of its own for each test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h makes ReplaceFile a macro, which would rename lapse::batch's.
#undef ReplaceFile
#endif

namespace lapse::testing_support {

// The platform's separator, as the paths in messages hold it.
inline const std::string kSeparator(1,
                                    static_cast<char>(std::filesystem::path::preferred_separator));

// Windows hides a file by its attributes, other systems by a name that starts
// with a dot: give the file such a name and this sets the attributes.
enum class WindowsAttribute { Hidden, System };

inline void SetWindowsAttribute([[maybe_unused]] const std::filesystem::path& path,
                                [[maybe_unused]] WindowsAttribute attribute) {
#if defined(_WIN32)
  SetFileAttributesW(path.c_str(), attribute == WindowsAttribute::Hidden ? FILE_ATTRIBUTE_HIDDEN
                                                                         : FILE_ATTRIBUTE_SYSTEM);
#endif
}

// Makes a symbolic link; false where the system makes none (wine, Windows
// without developer mode).
inline bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link) {
  std::error_code error;
  std::filesystem::create_symlink(target, link, error);
  return !error;
}

class TempDirTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("lapse-") + info->test_suite_name() + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '-');
    dir_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

  static void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // The names in a directory, sorted.
  static std::vector<std::string> Names(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    if (std::filesystem::exists(directory)) {
      for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path dir_;
};

}  // namespace lapse::testing_support
