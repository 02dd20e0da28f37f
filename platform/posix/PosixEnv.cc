// The Env of POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__linux__)
#include <netpacket/packet.h>
#endif

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/Env.h"

extern char** environ;

namespace vanta {

namespace {

// Opens path without following a symlink and without blocking (a FIFO with
// no writer opens at once and is then refused as not regular). -1 unless
// path is a regular file.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0) {
  int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void SleepOneMillisecond() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

class PosixLock : public Lock {
 public:
  explicit PosixLock(int fd) : fd_(fd) {}
  ~PosixLock() override { close(fd_); }  // closing releases the lock

 private:
  const int fd_;
};

// The child leads its own process group, so that killing the group also
// ends whatever it started.
class PosixProcess : public Process {
 public:
  explicit PosixProcess(pid_t pid) : pid_(pid) {}
  ~PosixProcess() override {
    if (ended_) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    Reap(0);
  }

  bool Wait(unsigned wait_ms) override {
    for (unsigned waited = 0; !ended_; ++waited) {
      Reap(WNOHANG);
      if (ended_ || waited >= wait_ms) break;
      SleepOneMillisecond();
    }
    return ended_;
  }

 private:
  void Reap(int options) {
    int status = 0;
    pid_t done;
    do {
      done = waitpid(pid_, &status, options);
    } while (done < 0 && errno == EINTR);
    if (done == pid_ || (done < 0 && errno == ECHILD)) ended_ = true;
  }

  const pid_t pid_;
  bool ended_ = false;
};

// Splits command_line at blanks; false for a character outside one byte.
bool SplitWords(const std::wstring& command_line, std::vector<std::string>* words) {
  std::string word;
  for (wchar_t c : command_line) {
    if (c <= 0 || c > UCHAR_MAX) return false;
    if (c == L' ' || c == L'\t') {
      if (!word.empty()) words->push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(c));
    }
  }
  if (!word.empty()) words->push_back(word);
  return !words->empty();
}

pid_t Spawn(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // Nothing but standard input, output and error reaches the child: not
  // the host's files, sockets or kept-alive connections.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string FirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  return line;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in upper case, or "" when text is
// neither that form nor 32 bare hexadecimal digits.
std::string CanonicalUuid(const std::string& text) {
  std::string digits;
  if (text.size() == 36) {
    for (size_t i = 0; i < text.size(); ++i) {
      bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash_place != (text[i] == '-')) return "";
      if (!dash_place) digits.push_back(text[i]);
    }
  } else if (text.size() == 32) {
    digits = text;
  }
  if (digits.size() != 32) return "";
  std::string uuid;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(digits[i]))) return "";
    if (i == 8 || i == 12 || i == 16 || i == 20) uuid.push_back('-');
    uuid.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i]))));
  }
  return uuid;
}

class PosixEnv : public Env {
 public:
  uint64_t NowMillis() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

  bool WaitMillis(unsigned milliseconds, Cancellation* cancel) override {
    if (cancel != nullptr) return cancel->WaitFor(milliseconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return false;
  }

  std::optional<std::string> GetVariable(const char* name) override {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  bool ReadFile(const std::string& path, size_t limit, std::string* data) override {
    int fd = OpenRegular(path, O_RDONLY);
    if (fd < 0) return false;
    std::string text(limit, '\0');
    size_t done = 0;
    bool ok = true;
    while (done < limit) {
      ssize_t n = read(fd, &text[done], limit - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    if (!ok) return false;
    text.resize(done);
    *data = std::move(text);
    return true;
  }

  bool ReplaceFile(const std::string& path, const std::string& data) override {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 ? !S_ISREG(info.st_mode) : errno != ENOENT) return false;
    // mkostemp creates the file owner-only and never through a symlink.
    std::string temporary = path + ".XXXXXX";
    int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    // rename replaces whatever is at path without following it.
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
  }

  bool PrepareOutputFile(const std::string& path) override {
    int fd = OpenRegular(path, O_WRONLY | O_CREAT, 0600);
    if (fd < 0) return false;
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && info.st_uid == geteuid() && ftruncate(fd, 0) == 0 &&
              fchmod(fd, 0600) == 0;
    close(fd);
    return ok;
  }

  std::unique_ptr<Lock> LockDirectory(const std::string& dir, unsigned wait_ms) override {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // Each open has its own lock, so threads of one process exclude one
    // another as processes do.
    for (unsigned waited = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; ++waited) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= wait_ms) {
        close(fd);
        return nullptr;
      }
      SleepOneMillisecond();
    }
    // Without memory for the object the lock is let go at once.
    std::unique_ptr<Lock> lock(new (std::nothrow) PosixLock(fd));
    if (lock == nullptr) close(fd);
    return lock;
  }

  std::unique_ptr<Process> StartProcess(const std::wstring& command_line) override {
    std::vector<std::string> words;
    if (!SplitWords(command_line, &words)) return nullptr;
    pid_t pid = Spawn(words);
    if (pid < 0) return nullptr;
    // Without memory for the object the child is ended at once.
    std::unique_ptr<Process> process(new (std::nothrow) PosixProcess(pid));
    if (process == nullptr) PosixProcess ended(pid);
    return process;
  }

  AdapterAddress FirstAdapterAddress() override {
    AdapterAddress first;
#if defined(__linux__)
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
      if (errno == ENOMEM) first.status = AdapterAddress::Status::kBufferUnavailable;
      return first;
    }
    int first_index = 0;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
      if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
      const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
      if (link->sll_halen == 0) continue;
      if (first.status == AdapterAddress::Status::kOk && link->sll_ifindex >= first_index) continue;
      first_index = link->sll_ifindex;
      first.status = AdapterAddress::Status::kOk;
      first.length = link->sll_halen < sizeof(first.bytes) ? link->sll_halen : sizeof(first.bytes);
      std::memcpy(first.bytes, link->sll_addr, static_cast<size_t>(first.length));
    }
    freeifaddrs(list);
#endif
    return first;
  }

  // The firmware's UUID or, where that is not readable (it usually needs
  // root), the machine id.
  bool HardwareUuid(std::string* text) override {
    std::string uuid = CanonicalUuid(FirstLine("/sys/class/dmi/id/product_uuid"));
    if (uuid.empty()) uuid = CanonicalUuid(FirstLine("/etc/machine-id"));
    if (uuid.empty()) return false;
    *text = uuid;
    return true;
  }
};

}  // namespace

Env* SystemEnv() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: threads may outlive main
  return env;
}

bool NarrowToWide(const std::string& text, std::wstring* wide) {
  if (text.size() >= static_cast<size_t>(kMaxWideText)) return false;
  wide->assign(text.begin(), text.end());
  for (wchar_t& c : *wide) c = static_cast<wchar_t>(static_cast<unsigned char>(c));
  return true;
}

}  // namespace vanta
