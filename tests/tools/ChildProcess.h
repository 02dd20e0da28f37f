// A program run by a test as a separate process, without a shell:
// posix_spawn on POSIX systems, CreateProcess on Windows. Its standard input
// is empty and its output and error go to files.
#ifndef VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
#define VANTA_TESTS_TOOLS_CHILD_PROCESS_H_

#include <string>
#include <utility>
#include <vector>

namespace vanta {
namespace testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  // Kills the process if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts args[0] (a path) with the other args, this process's environment
  // with env's NAME=VALUE entries put over it, stdout into out_path and
  // stderr into err_path. False when it could not be started.
  bool Start(const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& env,
             const std::string& out_path, const std::string& err_path);

  // Waits at most timeout_ms for the end; true, with *status the exit
  // status, once it has ended.
  bool Wait(int timeout_ms, int* status);

#if !defined(_WIN32)
  // Asks it to stop as an interrupted command does (SIGTERM).
  void Interrupt();
#endif

 private:
  void Kill();
#if defined(_WIN32)
  void* process_ = nullptr;
#else
  int pid_ = -1;
#endif
  bool ended_ = true;
  int status_ = -1;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
