// Runs the vanta command as a child process for the command's tests: its
// stdout and stderr go to files in a scratch directory, every wait is
// bounded, and a child that outlives its wait is killed.
#ifndef VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
#define VANTA_TESTS_TOOLS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace vanta {
namespace testing {

// A child's environment: the test's own, with the names in unset removed
// and the entries of set added or replaced.
struct ChildEnv {
  std::map<std::string, std::string> set;
  std::vector<std::string> unset;
};

struct ChildResult {
  int exit_status = -1;  // -1 when the child did not exit normally in time
  std::string out;
  std::string err;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

class Child {
 public:
  // Starts argv (argv[0] is a path) with stdout and stderr in files of dir.
  Child(const std::vector<std::string>& argv, const ChildEnv& env, const ScratchDir& dir);
  // Kills the child if it still runs.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running();
  void Signal(int signal_number);
  // Waits for the child to exit, killing it after timeout; the result holds
  // its exit status and output.
  ChildResult Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;  // the wait status once exited_, -1 when unknown
  std::string out_path_;
  std::string err_path_;
};

// Starts argv and waits for it (at most timeout).
ChildResult RunChild(const std::vector<std::string>& argv, const ChildEnv& env,
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace testing
}  // namespace vanta

#endif  // VANTA_TESTS_TOOLS_CHILD_PROCESS_H_
