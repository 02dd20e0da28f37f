// Runs the vanta command as a child process in tests: stdout and stderr go
// to files of a scratch directory, every wait is bounded, and a child that
// outlives its wait is killed.
#ifndef VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
#define VANTA_TESTS_TOOLS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace vanta {
namespace testing {

// The test's own environment, less unset, plus set.
struct ChildEnv {
  std::map<std::string, std::string> set;
  std::vector<std::string> unset;
};

struct ChildResult {
  int exit_status = -1;  // -1 unless the child exited by itself in time
  std::string out;
  std::string err;
};

// A fresh directory, removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

class Child {
 public:
  // Starts argv (argv[0] a path); its output goes to files in dir.
  Child(const std::vector<std::string>& argv, const ChildEnv& env, const ScratchDir& dir);
  ~Child();  // kills a child that still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running();
  void Signal(int signal_number);
  // Waits at most timeout, then kills the child.
  ChildResult Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;  // the wait status once exited_, -1 when unknown
  std::string out_path_;
  std::string err_path_;
};

ChildResult RunChild(const std::vector<std::string>& argv, const ChildEnv& env,
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
