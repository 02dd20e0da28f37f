#include "tests/tools/ChildProcess.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <chrono>
#include <cstring>
#include <thread>

namespace vanta {
namespace testing {

ChildProcess::~ChildProcess() { Kill(); }

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
  return wide;
}

// One argument as the C runtime's command line parser reads it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  return quoted.append(backslashes * 2, L'\\') + L"\"";
}

// This process's environment with env over it, as CreateProcessW takes it.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& env) {
  std::wstring block;
  wchar_t* current = GetEnvironmentStringsW();
  for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) {
    bool replaced = false;
    for (const auto& [name, value] : env) {
      const std::wstring prefix = Wide(name) + L"=";
      replaced = replaced || _wcsnicmp(entry, prefix.c_str(), prefix.size()) == 0;
    }
    if (!replaced) block.append(entry).push_back(L'\0');
  }
  FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : env) block.append(Wide(name + "=" + value)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

HANDLE OpenForChild(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& env,
                         const std::string& out_path, const std::string& err_path) {
  std::wstring line;
  for (const std::string& arg : args) line += (line.empty() ? L"" : L" ") + Quoted(Wide(arg));
  std::wstring block = EnvironmentBlock(env);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = OpenForChild("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = OpenForChild(out_path, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = OpenForChild(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION info{};
  const bool started =
      CreateProcessW(Wide(args[0]).c_str(), &line[0], nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT, &block[0], nullptr, &startup, &info) != 0;
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (!started) return false;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  ended_ = false;
  return true;
}

bool ChildProcess::Wait(int timeout_ms, int* status) {
  if (!ended_ && WaitForSingleObject(process_, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    status_ = static_cast<int>(code);
    CloseHandle(process_);
    ended_ = true;
  }
  if (ended_) *status = status_;
  return ended_;
}

void ChildProcess::Kill() {
  if (ended_) return;
  TerminateProcess(process_, 1);
  int status = 0;
  Wait(10000, &status);
}

#else

bool ChildProcess::Start(const std::vector<std::string>& args,
                         const std::vector<std::pair<std::string, std::string>>& env,
                         const std::string& out_path, const std::string& err_path) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const auto& [name, value] : env) {
      replaced = replaced || std::strncmp(*entry, (name + "=").c_str(), name.size() + 1) == 0;
    }
    if (!replaced) entries.push_back(*entry);
  }
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> copies(args);
  std::vector<char*> argv;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  // Sockets of the test's own peers stay with the test.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const bool started =
      posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  ended_ = !started;
  return started;
}

bool ChildProcess::Wait(int timeout_ms, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ended_) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      ended_ = true;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  *status = status_;
  return true;
}

void ChildProcess::Interrupt() {
  if (!ended_) kill(pid_, SIGTERM);
}

void ChildProcess::Kill() {
  if (ended_) return;
  kill(pid_, SIGKILL);
  int status = 0;
  Wait(10000, &status);
}

#endif

}  // namespace testing
}  // namespace vanta
