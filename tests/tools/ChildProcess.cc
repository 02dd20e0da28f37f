#include "tests/tools/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vanta {
namespace testing {
namespace {

std::atomic<int> child_count{0};

std::vector<std::string> ChildEnvironment(const ChildEnv& env) {
  std::map<std::string, std::string> vars;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq != nullptr) vars[std::string(*entry, static_cast<size_t>(eq - *entry))] = eq + 1;
  }
  for (const std::string& name : env.unset) vars.erase(name);
  for (const auto& [name, value] : env.set) vars[name] = value;
  std::vector<std::string> out;
  for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
  return out;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ScratchDir::ScratchDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/vanta-tools-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

Child::Child(const std::vector<std::string>& argv, const ChildEnv& env, const ScratchDir& dir) {
  int n = ++child_count;
  out_path_ = dir.File("child" + std::to_string(n) + ".out");
  err_path_ = dir.File("child" + std::to_string(n) + ".err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> args = argv;
  std::vector<std::string> vars = ChildEnvironment(env);
  std::vector<char*> arg_pointers = Pointers(args);
  std::vector<char*> var_pointers = Pointers(vars);
  int error = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, arg_pointers.data(),
                          var_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + args[0]);
}

Child::~Child() {
  if (Running()) {
    Signal(SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Child::Running() {
  if (pid_ < 0 || exited_) return false;
  int status = 0;
  pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  exited_ = true;
  if (done == pid_) status_ = status;
  return false;
}

void Child::Signal(int signal_number) { kill(pid_, signal_number); }

ChildResult Child::Wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (Running()) {  // timed out: the result keeps exit_status -1
    Signal(SIGKILL);
    waitpid(pid_, nullptr, 0);
    exited_ = true;
  }
  ChildResult result;
  if (status_ != -1 && WIFEXITED(status_)) result.exit_status = WEXITSTATUS(status_);
  result.out = ReadFile(out_path_);
  result.err = ReadFile(err_path_);
  return result;
}

ChildResult RunChild(const std::vector<std::string>& argv, const ChildEnv& env,
                     std::chrono::milliseconds timeout) {
  ScratchDir dir;
  Child child(argv, env, dir);
  return child.Wait(timeout);
}

}  // namespace testing
}  // namespace vanta
