#include "tests/tools/ChildProcess.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
extern char** environ;
#endif

#include <chrono>
#include <thread>

namespace vanta {
namespace testing {

ChildProcess::~ChildProcess() {
  if (ended_) return;
#if defined(_WIN32)
  TerminateProcess(process_, 1);
#else
  kill(pid_, SIGKILL);
#endif
  int status = 0;
  Wait(10000, &status);
}

#if defined(_WIN32)

void SetEnvironment(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

namespace {

HANDLE OpenForChild(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& args, const std::string& out_path,
                         const std::string& err_path) {
  std::string line;
  for (const std::string& arg : args) {
    line += (line.empty() ? "" : " ") + (arg.find(' ') == arg.npos ? arg : '"' + arg + '"');
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = OpenForChild("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = OpenForChild(out_path, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = OpenForChild(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION info{};
  const bool started = CreateProcessA(args[0].c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info) != 0;
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
  DWORD code = 0;
  if (WaitForSingleObject(process_, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process_, &code)) {
    return false;
  }
  CloseHandle(process_);
  ended_ = true;
  *status = static_cast<int>(code);
  return true;
}

#else

void SetEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

bool ChildProcess::Start(const std::vector<std::string>& args, const std::string& out_path,
                         const std::string& err_path) {
  std::vector<char*> argv;  // posix_spawn does not write to them
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
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
  ended_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0;
  posix_spawn_file_actions_destroy(&actions);
  return !ended_;
}

bool ChildProcess::Wait(int timeout_ms, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int raw = 0;
  while (waitpid(pid_, &raw, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ended_ = true;
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return true;
}

void ChildProcess::Interrupt() {
  if (!ended_) kill(pid_, SIGTERM);
}

#endif

}  // namespace testing
}  // namespace vanta
