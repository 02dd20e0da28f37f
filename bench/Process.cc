#include "bench/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace vanta {
namespace bench {
namespace {

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Starts argv with stdout and stderr discarded and env_first ahead of this
// process's environment (getenv takes the first); traced, it stops at its
// exec. Its pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, std::vector<std::string> env_first, bool traced) {
  for (char** entry = environ; *entry != nullptr; ++entry) env_first.push_back(*entry);
  std::vector<char*> args = Pointers(argv), envp = Pointers(env_first);
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = null_fd < 0 ? -1 : fork();
  if (pid == 0) {  // only async-signal-safe calls from here
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    if (traced) ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (null_fd >= 0) close(null_fd);
  return pid;
}

void* AsData(long value) { return reinterpret_cast<void*>(value); }

}  // namespace

Dispatcher::Dispatcher(const std::string& vanta, const std::string& dir,
                       const std::string& service_json, const std::vector<std::string>& options) {
  const std::string ready = dir + "/ready", service = dir + "/service.json";
  std::ofstream(service) << service_json;
  std::vector<std::string> argv = {
      vanta,          "dispatcher", "--port",         "0",    "--monitor-port", "0",
      "--ready-file", ready,        "--service-file", service};
  argv.insert(argv.end(), options.begin(), options.end());
  pid_ = Spawn(argv, {}, false);
  // The ready file is whole once it exists: the dispatcher renames it into place.
  for (int wait = 0; pid_ > 0 && wait < 1000; ++wait) {
    std::string text;
    std::getline(std::ifstream(ready), text, '\0');
    if (std::sscanf(text.c_str(), "dispatcher_port=%d monitor_port=%d", &dispatcher_port,
                    &monitor_port) == 2) {
      return;
    }
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    usleep(10000);
  }
  Stop();
  throw std::runtime_error(vanta + " dispatcher did not come up");
}

Dispatcher::~Dispatcher() { Stop(); }

void Dispatcher::Stop() {
  if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

long PeakRssKib(const std::vector<std::string>& argv, const std::vector<std::string>& env_first) {
  const pid_t pid = Spawn(argv, env_first, true);
  long peak = -1;
  int status = 0;
  // The first stop is the exec, then comes the exit; other signals pass on.
  for (bool exec_seen = false; pid > 0 && waitpid(pid, &status, 0) == pid && WIFSTOPPED(status);
       exec_seen = true) {
    const bool exiting = exec_seen && (status >> 16) == PTRACE_EVENT_EXIT;
    if (!exec_seen) ptrace(PTRACE_SETOPTIONS, pid, nullptr, AsData(PTRACE_O_TRACEEXIT));
    std::ifstream in(exiting ? "/proc/" + std::to_string(pid) + "/status" : "");  // "": none
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("VmHWM:", 0) == 0) peak = std::atol(line.c_str() + 6);
    }
    ptrace(PTRACE_CONT, pid, nullptr, AsData(exec_seen && !exiting ? WSTOPSIG(status) : 0));
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? peak : -1;
}

}  // namespace bench
}  // namespace vanta
