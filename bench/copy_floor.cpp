// The floor a rewrite is measured against: a plain read-and-write copy of the
// HTML files of a folder (and, with -r, of the folders below it, into a
// mirror tree), one file at a time, reading in the rewriter's buffer size and
// doing nothing else with the bytes.
// Usage: copy_floor [-r] SOURCE DESTINATION
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBufferSize = std::size_t{256} * 1024;

bool CopyFile(const std::string& from, const std::string& to, std::vector<char>& buffer) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in == -1) {
    return false;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = out != -1;
  while (ok) {
    const ssize_t count = ::read(in, buffer.data(), buffer.size());
    if (count <= 0) {
      ok = count == 0;
      break;
    }
    ok = ::write(out, buffer.data(), static_cast<std::size_t>(count)) == count;
  }
  ::close(in);
  return (out == -1 || ::close(out) == 0) && ok;
}

bool CopyFolder(const std::string& from, const std::string& to, bool recursive,
                std::vector<char>& buffer) {
  ::mkdir(to.c_str(), 0755);
  DIR* listing = ::opendir(from.c_str());
  if (listing == nullptr) {
    return false;
  }
  bool ok = true;
  std::vector<std::string> folders;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.front() == '.') {
      continue;
    }
    if (entry->d_type == DT_REG && name.find(".htm") != std::string::npos) {
      ok = CopyFile(from + "/" + name, to + "/" + name, buffer) && ok;
    } else if (recursive && entry->d_type == DT_DIR && !(name == "New")) {
      folders.push_back(name);
    }
  }
  ::closedir(listing);
  for (const std::string& name : folders) {
    ok = CopyFolder(from + "/" + name, to + "/" + name, recursive, buffer) && ok;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool recursive = argc == 4 && std::strcmp(argv[1], "-r") == 0;
  if (argc != (recursive ? 4 : 3)) {
    std::fprintf(stderr, "usage: copy_floor [-r] SOURCE DESTINATION\n");
    return 2;
  }
  std::vector<char> buffer(kBufferSize);
  return CopyFolder(argv[argc - 2], argv[argc - 1], recursive, buffer) ? 0 : 1;
}
