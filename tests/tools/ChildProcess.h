// A program run by a test as a separate process, without a shell:
// posix_spawn on POSIX systems, CreateProcess on Windows. It gets this
// process's environment, an empty standard input, and its output and error
// go to files.
#ifndef VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
#define VANTA_TESTS_TOOLS_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace vanta {
namespace testing {

// Sets name to value in this process's environment, for the children it starts.
void SetEnvironment(const std::string& name, const std::string& value);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills the process if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts args[0] (a path) with the other args (none holding a quote),
  // stdout into out_path and stderr into err_path. False when it could not
  // be started.
  bool Start(const std::vector<std::string>& args, const std::string& out_path,
             const std::string& err_path);
  // Waits at most timeout_ms for the end; true, with *status the exit
  // status, once it has ended. REQUIRES: no earlier call returned true.
  bool Wait(int timeout_ms, int* status);
#if !defined(_WIN32)
  // Asks it to stop as an interrupted command is asked (SIGTERM).
  void Interrupt();
#endif

 private:
  [[maybe_unused]] void* process_ = nullptr;  // Windows
  [[maybe_unused]] int pid_ = -1;             // POSIX
  bool ended_ = true;
};

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
