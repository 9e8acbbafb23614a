#include "schedule/program_runner.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>

#include <thread>
#else
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

extern char** environ;
#endif

namespace lapse::schedule {

namespace {

#if defined(_WIN32)

std::wstring Wide(const std::string& text) {
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// The console programs write in the OEM code page.
std::string Utf8FromOem(const std::string& text) {
  const UINT page = GetOEMCP();
  const int size =
      MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(page, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  const int utf8Size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(utf8Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), utf8Size,
                      nullptr, nullptr);
  return utf8;
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE* Out() { return &handle_; }
  HANDLE Get() const { return handle_; }
  void Close() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

void ReadAll(HANDLE pipe, std::string& into) {
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) != FALSE && read > 0) {
    into.append(buffer, read);
  }
}

class WindowsRunner final : public ProgramRunner {
 public:
  ProgramResult Run(const std::string& program, const std::vector<std::string>& args,
                    const std::string& input) override {
    ProgramResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle inRead, inWrite, outRead, outWrite, errRead, errWrite;
    if (CreatePipe(inRead.Out(), inWrite.Out(), &inherit, 0) == FALSE ||
        CreatePipe(outRead.Out(), outWrite.Out(), &inherit, 0) == FALSE ||
        CreatePipe(errRead.Out(), errWrite.Out(), &inherit, 0) == FALSE) {
      result.errors = "cannot make a pipe";
      return result;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(inWrite.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead.Get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = QuotedWindowsArgument(Wide(program));
    for (const std::string& arg : args) {
      commandLine += L' ' + QuotedWindowsArgument(Wide(arg));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead.Get();
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = errWrite.Get();
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                       nullptr, nullptr, &startup, &process) == FALSE) {
      result.errors = "cannot start " + program;
      return result;
    }
    result.started = true;
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
    inRead.Close();
    outWrite.Close();
    errWrite.Close();
    std::string output;
    std::string errors;
    std::thread outReader([&] { ReadAll(outRead.Get(), output); });
    std::thread errReader([&] { ReadAll(errRead.Get(), errors); });
    DWORD written = 0;
    for (size_t done = 0; done < input.size(); done += written) {
      if (WriteFile(inWrite.Get(), input.data() + done, static_cast<DWORD>(input.size() - done),
                    &written, nullptr) == FALSE) {
        break;
      }
    }
    inWrite.Close();
    outReader.join();
    errReader.join();
    WaitForSingleObject(processHandle.Get(), INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(processHandle.Get(), &status);
    result.status = static_cast<int>(status);
    result.output = Utf8FromOem(output);
    result.errors = Utf8FromOem(errors);
    return result;
  }

  bool Has(const std::string& program) override {
    wchar_t found[MAX_PATH];
    return SearchPathW(nullptr, Wide(program).c_str(), L".exe", MAX_PATH, found, nullptr) > 0;
  }
};

#else

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Descriptor read;
  Descriptor write;
  bool Open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      return false;
    }
    read.Reset(ends[0]);
    write.Reset(ends[1]);
    return true;
  }
};

// A child that stops reading its input must not end this process by
// SIGPIPE: the signal is held back in this thread while the child runs,
// and a pending one is taken before the mask is restored.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
  }
  ~SigpipeHeld() {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec now{0, 0};
      sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;
  const sigset_t& Previous() const { return previous_; }

 private:
  sigset_t previous_;
};

class PosixRunner final : public ProgramRunner {
 public:
  ProgramResult Run(const std::string& program, const std::vector<std::string>& args,
                    const std::string& input) override {
    ProgramResult result;
    Pipe in;
    Pipe out;
    Pipe err;
    if (!in.Open() || !out.Open() || !err.Open()) {
      result.errors = std::strerror(errno);
      return result;
    }
    SigpipeHeld held;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write.Get(), STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child gets the signal mask this thread had before.
    posix_spawnattr_setsigmask(&attributes, &held.Previous());
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
      result.errors = std::strerror(spawned);
      return result;
    }
    result.started = true;
    in.read.Close();
    out.write.Close();
    err.write.Close();
    Exchange(in.write, out.read, err.read, input, result);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  bool Has(const std::string& program) override {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
      const size_t colon = rest.find(':');
      const std::string folder(rest.substr(0, colon));
      const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
      struct stat status {};
      if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
          ::access(candidate.c_str(), X_OK) == 0) {
        return true;
      }
      if (colon == std::string_view::npos) {
        return false;
      }
      rest.remove_prefix(colon + 1);
    }
  }

 private:
  // Writes the input while reading both output streams, so that neither
  // side waits on a full pipe.
  static void Exchange(Descriptor& in, Descriptor& out, Descriptor& err, const std::string& input,
                       ProgramResult& result) {
    size_t written = 0;
    if (input.empty()) {
      in.Close();
    } else {
      ::fcntl(in.Get(), F_SETFL, ::fcntl(in.Get(), F_GETFL) | O_NONBLOCK);
    }
    char buffer[4096];
    while (out.Get() >= 0 || err.Get() >= 0) {
      pollfd watched[3] = {{in.Get(), POLLOUT, 0}, {out.Get(), POLLIN, 0}, {err.Get(), POLLIN, 0}};
      if (::poll(watched, 3, -1) < 0) {
        if (errno == EINTR) {
          continue;
        }
        break;
      }
      if (in.Get() >= 0 && watched[0].revents != 0) {
        const ssize_t count = ::write(in.Get(), input.data() + written, input.size() - written);
        if (count > 0) {
          written += static_cast<size_t>(count);
        }
        if ((count < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
          in.Close();
        }
      }
      for (const auto& [stream, into] : {std::pair{&out, &result.output}, {&err, &result.errors}}) {
        const pollfd& watch = stream == &out ? watched[1] : watched[2];
        if (stream->Get() < 0 || watch.revents == 0) {
          continue;
        }
        const ssize_t count = ::read(stream->Get(), buffer, sizeof buffer);
        if (count > 0) {
          into->append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
          stream->Close();
        }
      }
    }
    in.Close();
  }
};

#endif

}  // namespace

#if defined(_WIN32)
std::wstring QuotedWindowsArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled, and
    // the quote gets one of its own.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}
#endif

ProgramRunner& MachineRunner() {
#if defined(_WIN32)
  static WindowsRunner runner;
#else
  static PosixRunner runner;
#endif
  return runner;
}

}  // namespace lapse::schedule
