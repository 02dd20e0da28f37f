#include "accessor/DeviceId.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/Env.h"
#include "platform/TempDir.h"

namespace vanta {

namespace {

// The most of the UUID query's output that the reader looks at: a line of
// 127 bytes and 36 pairs of bytes.
constexpr size_t kUuidOutputLimit = 127 + 72;
// How often the wait for the UUID query looks at the clock and the caller,
// and how long a build waits before it tries the lock file again.
constexpr unsigned kPollMs = 10;
constexpr unsigned kLockRetryMs = 10;

// Appends src to the text in dst (size bytes with the terminator), cutting
// what does not fit. A dst without a terminator inside size is left alone.
void AppendBounded(char* dst, size_t size, const char* src) {
  size_t used = strnlen(dst, size);
  if (used >= size) return;
  size_t n = std::strlen(src);
  if (n > size - 1 - used) n = size - 1 - used;
  std::memcpy(dst + used, src, n);
  dst[used + n] = '\0';
}

// The failure of a UUID file operation that did not come to kOk.
DeviceIdFailure UuidFileFailure(FileResult result) {
  return result == FileResult::kOfAnotherUser ? DeviceIdFailure::kUuidFileOfAnotherUser
                                              : DeviceIdFailure::kUuidFileUnreadable;
}

// Takes the lock file at path into *lock, trying again every kLockRetryMs
// while another build holds it, for at most kLockWaitMs on the Env clock.
DeviceIdFailure TakeLock(Env* env, const std::string& path, Cancellation* cancel,
                         std::unique_ptr<Lock>* lock) {
  const uint64_t deadline = env->NowMillis() + kLockWaitMs;
  for (;;) {
    LockAttempt attempt = env->TryLockFile(path);
    switch (attempt.status) {
      case LockAttempt::Status::kTaken:
        *lock = std::move(attempt.lock);
        return DeviceIdFailure::kNone;
      case LockAttempt::Status::kUnusable:
        return DeviceIdFailure::kLockFileUnusable;
      case LockAttempt::Status::kOfAnotherUser:
        return DeviceIdFailure::kLockFileOfAnotherUser;
      case LockAttempt::Status::kBusy:
        break;
    }
    if (env->NowMillis() >= deadline) return DeviceIdFailure::kLockBusy;
    if (env->WaitMillis(kLockRetryMs, cancel)) return DeviceIdFailure::kQueryAborted;
  }
}

// Runs the UUID query, which leaves its output at uuid_path.
DeviceIdFailure QueryUuid(Env* env, const std::string& uuid_path, Cancellation* cancel) {
  std::optional<std::string> interpreter = env->GetVariable("ComSpec");
  if (!interpreter) {
    std::string uuid;
    if (!env->HardwareUuid(&uuid)) return DeviceIdFailure::kQueryNotStarted;
    const FileResult written = env->ReplaceFile(uuid_path, UuidOutputFor(uuid));
    return written == FileResult::kOk ? DeviceIdFailure::kNone : UuidFileFailure(written);
  }
  // The interpreter does the redirection; note the blanks at both ends.
  std::string arguments = " /C wmic csproduct get uuid > " + uuid_path + " ";
  std::wstring line;
  std::wstring wide_arguments;
  if (!NarrowToWide(*interpreter, &line) || !NarrowToWide(arguments, &wide_arguments)) {
    return DeviceIdFailure::kQueryNotStarted;
  }
  line += wide_arguments;
  if (line.size() >= static_cast<size_t>(kMaxWideText)) return DeviceIdFailure::kQueryNotStarted;
  // The query writes into a file of ours, never into whatever another user
  // may have put at that path.
  const FileResult prepared = env->PrepareOutputFile(uuid_path);
  if (prepared != FileResult::kOk) return UuidFileFailure(prepared);
  // A stop raised before the query starts (by the owner, or left over from
  // an earlier run) ends it before it starts, not at its first look.
  if (cancel != nullptr && cancel->IsCancelled()) return DeviceIdFailure::kQueryAborted;
  std::unique_ptr<Process> query = env->StartProcess(line);
  if (query == nullptr) return DeviceIdFailure::kQueryNotStarted;
  const uint64_t deadline = env->NowMillis() + kUuidQueryTimeoutMs;
  // Leaving the loop early destroys the process, which kills it.
  while (!query->Wait(kPollMs)) {
    if (cancel != nullptr && cancel->IsCancelled()) return DeviceIdFailure::kQueryAborted;
    if (env->NowMillis() >= deadline) return DeviceIdFailure::kQueryTimedOut;
  }
  return DeviceIdFailure::kNone;
}

// The UUID of this machine, read under the lock file so that no other
// build rewrites the UUID file meanwhile.
DeviceIdFailure ReadUuid(Env* env, Cancellation* cancel, char (&uuid)[37]) {
  const TempDir dir = TempDirectory();
  if (!dir.usable()) return DeviceIdFailure::kTempDirectoryRefused;
  std::unique_ptr<Lock> lock;
  DeviceIdFailure failure = TakeLock(env, dir.File("id.lock"), cancel, &lock);
  if (failure != DeviceIdFailure::kNone) return failure;
  const std::string uuid_path = dir.File("id.tmp");
  failure = QueryUuid(env, uuid_path, cancel);
  if (failure != DeviceIdFailure::kNone) return failure;
  std::string output;
  const FileResult read = env->ReadFile(uuid_path, kUuidOutputLimit, &output);
  if (read != FileResult::kOk) return UuidFileFailure(read);
  return ParseUuidOutput(output, uuid) ? DeviceIdFailure::kNone : DeviceIdFailure::kUuidIncomplete;
}

// "%.2X" for each byte, "-" between them, at most 17 characters.
void FormatAddress(const AdapterAddress& adapter, char (&text)[18]) {
  for (int i = 0; i < adapter.length; ++i) {
    char one[4];
    std::snprintf(one, sizeof(one), i + 1 == adapter.length ? "%.2X" : "%.2X-",
                  static_cast<unsigned>(adapter.bytes[i]));
    AppendBounded(text, sizeof(text), one);
  }
}

DeviceIdFailure Create(char* buffer, int size, Cancellation* cancel) {
  Env* env = Env::Get();
  char uuid[37] = {};
  DeviceIdFailure failure = ReadUuid(env, cancel, uuid);
  if (failure != DeviceIdFailure::kNone) return failure;
  AdapterAddress adapter = env->FirstAdapterAddress();
  if (adapter.status == AdapterAddress::Status::kBufferUnavailable) {
    return DeviceIdFailure::kAdapterBufferUnavailable;
  }
  if (adapter.status != AdapterAddress::Status::kOk) return DeviceIdFailure::kAdapterListUnreadable;
  if (adapter.length < 0) adapter.length = 0;
  if (adapter.length > static_cast<int>(sizeof(adapter.bytes))) {
    adapter.length = static_cast<int>(sizeof(adapter.bytes));
  }
  char address[18] = {};
  FormatAddress(adapter, address);
  AppendBounded(buffer, static_cast<size_t>(size), uuid);
  AppendBounded(buffer, static_cast<size_t>(size), "-");
  AppendBounded(buffer, static_cast<size_t>(size), address);
  return DeviceIdFailure::kNone;
}

}  // namespace

bool ParseUuidOutput(const std::string& output, char (&uuid)[37]) {
  // The first line as a 128-byte line read takes it.
  size_t at = output.find('\n');
  at = at == std::string::npos ? output.size() : at + 1;
  if (at > 127) at = 127;
  if (at == 0) return false;  // an empty output has no line at all
  for (int i = 0; i < 36 && at < output.size(); ++i) {
    ++at;  // the high byte
    if (at >= output.size()) break;
    const char one[2] = {output[at++], '\0'};
    AppendBounded(uuid, sizeof(uuid), one);
  }
  return strnlen(uuid, sizeof(uuid)) == 36;
}

const char* DeviceIdFailureText(DeviceIdFailure failure) {
  switch (failure) {
    case DeviceIdFailure::kNone:
      break;
    case DeviceIdFailure::kTempDirectoryRefused:
      return "the user's own temporary directory may not be used (it must be a directory of "
             "this user's that gives group and other users no access; TEMP chooses another)";
    case DeviceIdFailure::kLockBusy:
      return "other identifier builds held the lock file id.lock in the temporary directory "
             "for 10 s";
    case DeviceIdFailure::kLockFileUnusable:
      return "the lock file id.lock in the temporary directory could not be created or opened "
             "as a regular file";
    case DeviceIdFailure::kLockFileOfAnotherUser:
      return "the lock file id.lock in the temporary directory belongs to another user";
    case DeviceIdFailure::kQueryNotStarted:
      return "the hardware UUID query could not run (ComSpec names no usable program, or "
             "without ComSpec the machine has no readable hardware UUID)";
    case DeviceIdFailure::kQueryTimedOut:
      return "the hardware UUID query did not end within 10 s";
    case DeviceIdFailure::kQueryAborted:
      return "the hardware UUID query was stopped";
    case DeviceIdFailure::kUuidFileUnreadable:
      return "the UUID file id.tmp in the temporary directory could not be written or read as a "
             "regular file";
    case DeviceIdFailure::kUuidFileOfAnotherUser:
      return "the UUID file id.tmp in the temporary directory belongs to another user";
    case DeviceIdFailure::kUuidIncomplete:
      return "the UUID file id.tmp did not hold the 36 characters of a UUID after its first "
             "line (the query wrote nothing, or too little)";
    case DeviceIdFailure::kAdapterBufferUnavailable:
      return "there was no memory for the network adapter list";
    case DeviceIdFailure::kAdapterListUnreadable:
      return "no network adapter with a hardware address was found";
  }
  return "the identifier does not fit its buffer";
}

std::string UuidOutputFor(const std::string& uuid) {
  std::string output = "\xFF\xFE";  // byte order mark
  for (char c : "UUID  \r\n" + uuid + "  \r\n") {
    output += c;
    output += '\0';
  }
  return output;
}

bool CreateDeviceIdText(char* buffer, int size, Cancellation* cancel, DeviceIdFailure* failure) {
  DeviceIdFailure reason = DeviceIdFailure::kNone;
  if (buffer != nullptr && size >= 1) reason = Create(buffer, size, cancel);
  if (failure != nullptr) *failure = reason;
  return buffer != nullptr && size >= 1 && reason == DeviceIdFailure::kNone;
}

}  // namespace vanta
