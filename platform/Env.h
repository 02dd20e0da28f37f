// Every Env method may be called from many threads at once without any
// synchronisation by the caller (the tests do so from 16 threads), and so
// may Env::Get(). Env::SetForTesting may not run while a library call does.
// A Lock or Process object belongs to one thread at a time. GetVariable
// reads the process environment: the embedding program must not change it
// (setenv, putenv) while library calls run.
//
// Env is everything the library asks of the operating system: the clock
// and the one wait, environment variables, files and the lock file in the
// temporary directory, the UUID helper process, the network adapter list
// and the machine's hardware UUID. The library reaches these only through
// Env::Get(). Tests install their own Env (usually an EnvWrapper that
// changes a few calls); nothing else in the library can be replaced. The
// backends (posix/, win32/) only gather what the system says; the rules
// that choose among it live in shared, tested files (Adapters.h, Uuid.h,
// TempDir.h).
#ifndef VANTA_PLATFORM_ENV_H_
#define VANTA_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Adapters.h"
#include "platform/Cancellation.h"

// windows.h, when included first, names ReplaceFileA so; Env's is meant.
#undef ReplaceFile

namespace vanta {

// What a file operation came to. kOfAnotherUser: the file at the path
// belongs to another user, and was left alone (POSIX; Windows does not
// tell owners apart, as TEMP is the user's own there).
enum class FileResult { kOk, kFailed, kOfAnotherUser };

// What the system says about a path itself (a final symlink not followed).
struct PathFacts {
  // kUnknown: the path could not be examined.
  enum class Kind { kMissing, kDirectory, kSymlink, kOther, kUnknown };
  Kind kind = Kind::kUnknown;
  uint32_t owner = 0;  // the owner's user id
  uint32_t mode = 0;   // the permission bits (07777)
};

// A started child process. Destroying it kills a child that is still running
// (with everything it started) and reaps it.
class Process {
 public:
  virtual ~Process() = default;
  // Blocks for at most wait_ms; true once the child has ended.
  virtual bool Wait(unsigned wait_ms) = 0;
};

// An exclusive lock, held until the object goes.
class Lock {
 public:
  virtual ~Lock() = default;
};

// A try at a lock file; lock is set when status is kTaken. kBusy: someone
// else holds it. kUnusable: the file cannot be created or opened as a
// regular file. kOfAnotherUser: it belongs to another user.
struct LockAttempt {
  enum class Status { kTaken, kBusy, kUnusable, kOfAnotherUser };
  Status status = Status::kUnusable;
  std::unique_ptr<Lock> lock;
};

class Env {
 public:
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env() = default;

  // The Env in use: the system's, unless a test has installed another.
  static Env* Get();
  // Installs env (nullptr: the system's again) and returns the previous one.
  // REQUIRES: no library call is running.
  static Env* SetForTesting(Env* env);

  // A monotonic clock in milliseconds.
  virtual uint64_t NowMillis() = 0;
  // The one wait: blocks the calling thread for milliseconds, or less when
  // cancel (may be null) is raised before or during the wait. True when it
  // ended because cancel was raised.
  virtual bool WaitMillis(unsigned milliseconds, Cancellation* cancel) = 0;

  // A copy of the environment variable, or nullopt when it is not set.
  virtual std::optional<std::string> GetVariable(const char* name) = 0;

  // Files. None of these follows a symlink, opens anything but a regular
  // file, or blocks in the open (a FIFO or device fails as an unreadable
  // file), and none touches a file of another user.
  //
  // Reads at most limit bytes of path into *data (untouched unless kOk).
  virtual FileResult ReadFile(const std::string& path, size_t limit, std::string* data) = 0;
  // Replaces path atomically with a new owner-only file holding data: a
  // failure at any point leaves the old file as it was. Fails when path is
  // not a regular file (or absent), or the new file cannot be written.
  virtual FileResult ReplaceFile(const std::string& path, const std::string& data) = 0;
  // Leaves an empty owner-only regular file of ours at path, for a child
  // process to write into. Fails when path is something else.
  virtual FileResult PrepareOutputFile(const std::string& path) = 0;
  // Takes the lock of the lock file at path (created owner-only when
  // missing) without waiting. Every open of the file has its own lock, so
  // that threads of one process exclude one another as processes do.
  virtual LockAttempt TryLockFile(const std::string& path) = 0;

  // The user the process runs as (POSIX: the effective user id; Windows: 0).
  virtual uint32_t UserId() = 0;
  // What the system says about path itself.
  virtual PathFacts LookAtPath(const std::string& path) = 0;
  // Creates the directory path, accessible to its owner only; false when it
  // could not (it may exist).
  virtual bool MakePrivateDirectory(const std::string& path) = 0;

  // Starts the program of command_line (Windows: hidden, nothing
  // inherited; POSIX: split at blanks, no shell, only standard input,
  // output and error inherited). nullptr when it cannot be started.
  virtual std::unique_ptr<Process> StartProcess(const std::wstring& command_line) = 0;

  // FirstAdapter() of the system's adapter list; kBufferUnavailable when
  // there was no memory for the list.
  virtual AdapterAddress FirstAdapterAddress() = 0;
  // The machine's hardware UUID in canonical form (CanonicalUuid), for
  // systems whose UUID query cannot run; false when there is none.
  virtual bool HardwareUuid(std::string* text) = 0;

  // What a test puts in place of the configured web API origin ("https://"
  // and host) and of the built-in root certificates that HTTPS JSON POSTs
  // trust; the system's Env keeps both (nullopt).
  virtual std::optional<std::string> WebApiOrigin() { return std::nullopt; }
  virtual std::optional<std::string> TrustedRootsPem() { return std::nullopt; }
};

// An Env that forwards every call to another; tests derive from it and
// change only what they need.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}

  uint64_t NowMillis() override { return target_->NowMillis(); }
  bool WaitMillis(unsigned milliseconds, Cancellation* cancel) override {
    return target_->WaitMillis(milliseconds, cancel);
  }
  std::optional<std::string> GetVariable(const char* name) override {
    return target_->GetVariable(name);
  }
  FileResult ReadFile(const std::string& path, size_t limit, std::string* data) override {
    return target_->ReadFile(path, limit, data);
  }
  FileResult ReplaceFile(const std::string& path, const std::string& data) override {
    return target_->ReplaceFile(path, data);
  }
  FileResult PrepareOutputFile(const std::string& path) override {
    return target_->PrepareOutputFile(path);
  }
  LockAttempt TryLockFile(const std::string& path) override { return target_->TryLockFile(path); }
  uint32_t UserId() override { return target_->UserId(); }
  PathFacts LookAtPath(const std::string& path) override { return target_->LookAtPath(path); }
  bool MakePrivateDirectory(const std::string& path) override {
    return target_->MakePrivateDirectory(path);
  }
  std::unique_ptr<Process> StartProcess(const std::wstring& command_line) override {
    return target_->StartProcess(command_line);
  }
  AdapterAddress FirstAdapterAddress() override { return target_->FirstAdapterAddress(); }
  bool HardwareUuid(std::string* text) override { return target_->HardwareUuid(text); }
  std::optional<std::string> WebApiOrigin() override { return target_->WebApiOrigin(); }
  std::optional<std::string> TrustedRootsPem() override { return target_->TrustedRootsPem(); }

 protected:
  Env* target() const { return target_; }

 private:
  Env* const target_;
};

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Wide texts (command lines) hold at most this many characters including
// the terminator.
constexpr int kMaxWideText = 256;

// Converts text to wide text. False, with *wide untouched, when the text
// cannot be converted or needs more than kMaxWideText - 1 characters.
// POSIX keeps each byte as one wide character of the same value, so that
// the text comes back byte for byte where it is passed to the system.
bool NarrowToWide(const std::string& text, std::wstring* wide);

}  // namespace vanta

#endif  // VANTA_PLATFORM_ENV_H_
