// Everything the library asks of the operating system: the clock and sleep,
// environment variables, files in the temporary directory, the UUID helper
// process, the network adapter list and the machine's hardware UUID.
//
// The library reaches these only through Env::Get(). Tests install their own
// Env (usually an EnvWrapper that changes a few calls); nothing else in the
// library can be replaced.
#ifndef VANTA_PLATFORM_ENV_H_
#define VANTA_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Cancellation.h"

namespace vanta {

// The hardware address of the first network adapter.
struct AdapterAddress {
  enum class Status { kOk, kBufferUnavailable, kUnreadable };
  Status status = Status::kUnreadable;
  int length = 0;  // 0 to 8 bytes
  unsigned char bytes[8] = {};
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
  // file, or blocks in the open (a FIFO or device fails as an unreadable file).
  //
  // Reads at most limit bytes of path into *data. False when path cannot be
  // opened as a regular file or read.
  virtual bool ReadFile(const std::string& path, size_t limit, std::string* data) = 0;
  // Replaces path atomically with a new owner-only file holding data: a
  // failure at any point leaves the old file as it was. False when path is
  // not a regular file (or absent), or the new file cannot be written.
  virtual bool ReplaceFile(const std::string& path, const std::string& data) = 0;
  // Leaves an empty owner-only regular file of ours at path, for a child
  // process to write into. False when path is something else.
  virtual bool PrepareOutputFile(const std::string& path) = 0;
  // Takes the lock of directory dir, shared by every process of this user,
  // waiting at most wait_ms for it; nullptr when it stays taken.
  virtual std::unique_ptr<Lock> LockDirectory(const std::string& dir, unsigned wait_ms) = 0;

  // Starts the program of command_line (Windows: hidden, nothing
  // inherited; POSIX: split at blanks, no shell, only standard input,
  // output and error inherited). nullptr when it cannot be started.
  virtual std::unique_ptr<Process> StartProcess(const std::wstring& command_line) = 0;

  virtual AdapterAddress FirstAdapterAddress() = 0;
  // The machine's hardware UUID in any common text form, for systems whose
  // UUID query cannot run; false when there is none.
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
  bool ReadFile(const std::string& path, size_t limit, std::string* data) override {
    return target_->ReadFile(path, limit, data);
  }
  bool ReplaceFile(const std::string& path, const std::string& data) override {
    return target_->ReplaceFile(path, data);
  }
  bool PrepareOutputFile(const std::string& path) override {
    return target_->PrepareOutputFile(path);
  }
  std::unique_ptr<Lock> LockDirectory(const std::string& dir, unsigned wait_ms) override {
    return target_->LockDirectory(dir, wait_ms);
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

// The directory of the library's temporary files, without a final
// separator. POSIX: TEMP, else TMPDIR, else /tmp (empty values count as
// unset). Windows: TEMP ("" when unset).
std::string TempDirectory();

// TempDirectory(), the separator, then name.
std::string TempFilePath(const char* name);

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
