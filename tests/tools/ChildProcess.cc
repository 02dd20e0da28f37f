#include "tests/tools/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vanta {
namespace testing {

ScratchDir::ScratchDir() {
  path_ = std::filesystem::temp_directory_path().string() + "/vanta-tools-XXXXXX";
  if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

Child::Child(const std::vector<std::string>& argv, const ChildEnv& env, const ScratchDir& dir) {
  static int count = 0;
  std::string name = "child" + std::to_string(++count);
  out_path_ = dir.File(name + ".out");
  err_path_ = dir.File(name + ".err");

  std::map<std::string, std::string> vars;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    size_t eq = text.find('=');
    if (eq != std::string::npos) vars[text.substr(0, eq)] = text.substr(eq + 1);
  }
  for (const std::string& unset : env.unset) vars.erase(unset);
  for (const auto& [key, value] : env.set) vars[key] = value;
  std::vector<std::string> texts;
  for (const auto& [key, value] : vars) texts.push_back(key + "=" + value);
  std::vector<std::string> args = argv;
  std::vector<char*> arg_pointers;
  std::vector<char*> var_pointers;
  for (std::string& arg : args) arg_pointers.push_back(arg.data());
  for (std::string& text : texts) var_pointers.push_back(text.data());
  arg_pointers.push_back(nullptr);
  var_pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT, 0600);
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
  if (exited_) return false;
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
  if (Running()) {  // timed out: exit_status stays -1
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
  return Child(argv, env, dir).Wait(timeout);
}

}  // namespace testing
}  // namespace vanta
