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

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/Env.h"
#include "platform/Uuid.h"

extern char** environ;

namespace vanta {

namespace {

// Why path could not be opened or replaced: whether what is there belongs
// to another user.
FileResult Refusal(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && info.st_uid != geteuid()) {
    return FileResult::kOfAnotherUser;
  }
  return FileResult::kFailed;
}

// Opens path into *fd without following a symlink and without blocking (a
// FIFO with no writer opens at once and is then refused as not regular).
// kOk only for a regular file of this user.
FileResult OpenRegular(const std::string& path, int flags, int* fd, mode_t mode = 0) {
  *fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (*fd < 0) return Refusal(path);
  struct stat info;
  FileResult result = FileResult::kOk;
  if (fstat(*fd, &info) != 0 || !S_ISREG(info.st_mode)) result = FileResult::kFailed;
  if (result == FileResult::kOk && info.st_uid != geteuid()) result = FileResult::kOfAnotherUser;
  if (result != FileResult::kOk) close(*fd);
  return result;
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

// The adapters of the system's list, with a hardware address or not.
// False when there is no list (ENOMEM in *error when for lack of memory).
bool ListAdapters(std::vector<AdapterFacts>* adapters, int* error) {
#if defined(__linux__)
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    *error = errno;
    return false;
  }
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    const size_t length =
        link->sll_halen < sizeof(link->sll_addr) ? link->sll_halen : sizeof(link->sll_addr);
    adapters->push_back(AdapterFacts{
        static_cast<unsigned long>(link->sll_ifindex), (entry->ifa_flags & IFF_LOOPBACK) != 0,
        std::string(reinterpret_cast<const char*>(link->sll_addr), length)});
  }
  freeifaddrs(list);
  return true;
#else
  (void)adapters;
  *error = ENOSYS;
  return false;
#endif
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

  FileResult ReadFile(const std::string& path, size_t limit, std::string* data) override {
    int fd = -1;
    const FileResult opened = OpenRegular(path, O_RDONLY, &fd);
    if (opened != FileResult::kOk) return opened;
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
    if (!ok) return FileResult::kFailed;
    text.resize(done);
    *data = std::move(text);
    return FileResult::kOk;
  }

  FileResult ReplaceFile(const std::string& path, const std::string& data) override {
    struct stat info;
    const bool exists = lstat(path.c_str(), &info) == 0;
    if (exists ? !S_ISREG(info.st_mode) : errno != ENOENT) return FileResult::kFailed;
    if (exists && info.st_uid != geteuid()) return FileResult::kOfAnotherUser;
    // mkostemp creates the file owner-only and never through a symlink.
    std::string temporary = path + ".XXXXXX";
    int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) return FileResult::kFailed;
    bool ok = WriteAll(fd, data) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    // rename replaces whatever is at path without following it.
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok ? FileResult::kOk : FileResult::kFailed;
  }

  FileResult PrepareOutputFile(const std::string& path) override {
    int fd = -1;
    const FileResult opened = OpenRegular(path, O_WRONLY | O_CREAT, &fd, 0600);
    if (opened != FileResult::kOk) return opened;
    const bool ok = ftruncate(fd, 0) == 0 && fchmod(fd, 0600) == 0;
    close(fd);
    return ok ? FileResult::kOk : FileResult::kFailed;
  }

  // flock: each open has its own lock.
  LockAttempt TryLockFile(const std::string& path) override {
    LockAttempt attempt;
    int fd = -1;
    const FileResult opened = OpenRegular(path, O_RDONLY | O_CREAT, &fd, 0600);
    if (opened != FileResult::kOk) {
      if (opened == FileResult::kOfAnotherUser)
        attempt.status = LockAttempt::Status::kOfAnotherUser;
      return attempt;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK || errno == EINTR) attempt.status = LockAttempt::Status::kBusy;
      close(fd);
      return attempt;
    }
    // Without memory for the object the lock is let go at once.
    attempt.lock.reset(new (std::nothrow) PosixLock(fd));
    if (attempt.lock == nullptr) {
      close(fd);
      return attempt;
    }
    attempt.status = LockAttempt::Status::kTaken;
    return attempt;
  }

  uint32_t UserId() override { return geteuid(); }

  PathFacts LookAtPath(const std::string& path) override {
    PathFacts facts;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) facts.kind = PathFacts::Kind::kMissing;
      return facts;
    }
    facts.kind = S_ISDIR(info.st_mode)   ? PathFacts::Kind::kDirectory
                 : S_ISLNK(info.st_mode) ? PathFacts::Kind::kSymlink
                                         : PathFacts::Kind::kOther;
    facts.owner = info.st_uid;
    facts.mode = info.st_mode & 07777;
    return facts;
  }

  bool MakePrivateDirectory(const std::string& path) override {
    return mkdir(path.c_str(), 0700) == 0;
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
    std::vector<AdapterFacts> adapters;
    int error = 0;
    if (!ListAdapters(&adapters, &error)) {
      AdapterAddress none;
      if (error == ENOMEM) none.status = AdapterAddress::Status::kBufferUnavailable;
      return none;
    }
    return FirstAdapter(adapters);
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
