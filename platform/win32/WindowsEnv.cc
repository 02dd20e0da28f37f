// The Env of Windows.
#include "platform/Env.h"
#include "platform/Uuid.h"

// winsock2.h must precede windows.h, and both the IP helper.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

// windows.h names ReplaceFileA so; Env::ReplaceFile is ours.
#undef ReplaceFile

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace vanta {

namespace {

// path in the system's ANSI code page as wide text ("" when it has none).
std::wstring WidePath(const std::string& path) {
  int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return L"";
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length) - 1);
  return wide;
}

// Opens path itself, never what a reparse point (a symbolic link or
// junction) names; INVALID_HANDLE_VALUE unless it is a regular disk file.
HANDLE OpenRegular(const std::wstring& path, DWORD access, DWORD disposition) {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            disposition, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The lock of the first byte of an open lock file.
class WindowsLock : public Lock {
 public:
  explicit WindowsLock(HANDLE file) : file_(file) {}
  ~WindowsLock() override {
    OVERLAPPED at;
    std::memset(&at, 0, sizeof(at));
    UnlockFileEx(file_, 0, 1, 0, &at);
    CloseHandle(file_);
  }

 private:
  const HANDLE file_;
};

// The child runs in a job that ends everything it started once closed.
class WindowsProcess : public Process {
 public:
  WindowsProcess(const PROCESS_INFORMATION& process, HANDLE job)
      : process_(process.hProcess), thread_(process.hThread), job_(job) {}
  ~WindowsProcess() override {
    if (!ended_) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
    }
    if (job_ != nullptr) CloseHandle(job_);
    CloseHandle(process_);
    CloseHandle(thread_);
  }

  bool Wait(unsigned wait_ms) override {
    if (!ended_) ended_ = WaitForSingleObject(process_, wait_ms) == WAIT_OBJECT_0;
    return ended_;
  }

 private:
  const HANDLE process_;
  const HANDLE thread_;
  const HANDLE job_;
  bool ended_ = false;
};

// A job that kills its processes when its last handle closes; nullptr when
// the system offers none.
HANDLE NewKillOnCloseJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  std::memset(&limits, 0, sizeof(limits));
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

class WindowsEnv : public Env {
 public:
  uint64_t NowMillis() override { return GetTickCount64(); }

  bool WaitMillis(unsigned milliseconds, Cancellation* cancel) override {
    if (cancel != nullptr) return cancel->WaitFor(milliseconds);
    Sleep(milliseconds);
    return false;
  }

  // The process environment block (what child processes inherit). A set but
  // empty variable reads as 0 characters with no error.
  std::optional<std::string> GetVariable(const char* name) override {
    std::string value(64, '\0');
    // Another thread may lengthen the variable between the calls; a few
    // rounds settle it.
    for (int round = 0; round < 4; ++round) {
      SetLastError(ERROR_SUCCESS);
      DWORD length = GetEnvironmentVariableA(name, &value[0], static_cast<DWORD>(value.size()));
      if (length == 0) {
        if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
        return std::string();
      }
      if (length < value.size()) {
        value.resize(length);
        return value;
      }
      value.assign(length, '\0');  // too small: length counts the terminator
    }
    return std::nullopt;
  }

  FileResult ReadFile(const std::string& path, size_t limit, std::string* data) override {
    HANDLE file = OpenRegular(WidePath(path), GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return FileResult::kFailed;
    std::string text(limit, '\0');
    size_t done = 0;
    bool ok = true;
    while (done < limit) {
      DWORD n = 0;
      DWORD want = static_cast<DWORD>(limit - done < 65536 ? limit - done : 65536);
      if (!::ReadFile(file, &text[done], want, &n, nullptr)) ok = false;
      if (!ok || n == 0) break;
      done += n;
    }
    CloseHandle(file);
    if (!ok) return FileResult::kFailed;
    text.resize(done);
    *data = std::move(text);
    return FileResult::kOk;
  }

  FileResult ReplaceFile(const std::string& path, const std::string& data) override {
    const std::wstring target = WidePath(path);
    if (target.empty()) return FileResult::kFailed;
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      return FileResult::kFailed;
    }
    const std::wstring temporary = target + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetCurrentThreadId()) + L"-" +
                                   std::to_wstring(GetTickCount64());
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileResult::kFailed;
    DWORD written = 0;
    bool ok = data.size() <= MAXDWORD &&
              (data.empty() || ::WriteFile(file, data.data(), static_cast<DWORD>(data.size()),
                                           &written, nullptr)) &&
              written == data.size() && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileW(temporary.c_str());
    return ok ? FileResult::kOk : FileResult::kFailed;
  }

  FileResult PrepareOutputFile(const std::string& path) override {
    HANDLE file = OpenRegular(WidePath(path), GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return FileResult::kFailed;
    bool ok = SetEndOfFile(file);
    CloseHandle(file);
    return ok ? FileResult::kOk : FileResult::kFailed;
  }

  // A byte-range lock: each handle has its own, so threads of one process
  // exclude one another as processes do.
  LockAttempt TryLockFile(const std::string& path) override {
    LockAttempt attempt;
    HANDLE file = OpenRegular(WidePath(path), GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return attempt;
    OVERLAPPED at;
    std::memset(&at, 0, sizeof(at));
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
        attempt.status = LockAttempt::Status::kBusy;
      }
      CloseHandle(file);
      return attempt;
    }
    attempt.status = LockAttempt::Status::kTaken;
    attempt.lock = std::make_unique<WindowsLock>(file);
    return attempt;
  }

  uint32_t UserId() override { return 0; }

  PathFacts LookAtPath(const std::string& path) override {
    PathFacts facts;
    const std::wstring wide = WidePath(path);
    const DWORD attributes =
        wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        facts.kind = PathFacts::Kind::kMissing;
      }
      return facts;
    }
    facts.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? PathFacts::Kind::kSymlink
                 : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? PathFacts::Kind::kDirectory
                                                                  : PathFacts::Kind::kOther;
    return facts;
  }

  bool MakePrivateDirectory(const std::string& path) override {
    const std::wstring wide = WidePath(path);
    return !wide.empty() && CreateDirectoryW(wide.c_str(), nullptr);
  }

  std::unique_ptr<Process> StartProcess(const std::wstring& command_line) override {
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(L'\0');
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    // Suspended until it is in its job, so that nothing it starts escapes.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
      return nullptr;
    }
    HANDLE job = NewKillOnCloseJob();
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
      CloseHandle(job);
      job = nullptr;
    }
    ResumeThread(process.hThread);
    return std::make_unique<WindowsProcess>(process, job);
  }

  AdapterAddress FirstAdapterAddress() override {
    AdapterAddress none;
    std::vector<unsigned char> buffer;
    if (!AdapterList(&buffer)) {
      none.status = buffer.empty() ? AdapterAddress::Status::kBufferUnavailable
                                   : AdapterAddress::Status::kUnreadable;
      return none;
    }
    std::vector<AdapterFacts> adapters;
    for (const IP_ADAPTER_INFO* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next) {
      const size_t length = adapter->AddressLength < sizeof(adapter->Address)
                                ? adapter->AddressLength
                                : sizeof(adapter->Address);
      adapters.push_back(
          AdapterFacts{adapter->Index, adapter->Type == MIB_IF_TYPE_LOOPBACK,
                       std::string(reinterpret_cast<const char*>(adapter->Address), length)});
    }
    return FirstAdapter(adapters);
  }

  // The system UUID of the firmware's SMBIOS tables.
  bool HardwareUuid(std::string* text) override {
    const DWORD kRawSmbios = 0x52534D42;  // 'RSMB'
    const UINT size = GetSystemFirmwareTable(kRawSmbios, 0, nullptr, 0);
    if (size == 0 || size > kMaxFirmwareTable) return false;
    std::string blob(size, '\0');
    if (GetSystemFirmwareTable(kRawSmbios, 0, &blob[0], size) != size) return false;
    std::string uuid = SmbiosSystemUuid(blob);
    if (uuid.empty()) return false;
    *text = uuid;
    return true;
  }

 private:
  // The largest SMBIOS table blob read.
  static constexpr UINT kMaxFirmwareTable = 1 << 20;

  // The adapter list in *buffer. False when there is none; an empty buffer
  // then means there was no memory for it.
  static bool AdapterList(std::vector<unsigned char>* buffer) {
    // One adapter record first; the call tells the size it needs when more
    // adapters are present.
    ULONG size = sizeof(IP_ADAPTER_INFO);
    DWORD answer = ERROR_BUFFER_OVERFLOW;
    for (int round = 0; round < 2 && answer == ERROR_BUFFER_OVERFLOW; ++round) {
      try {
        buffer->assign(size, 0);
      } catch (const std::bad_alloc&) {
        buffer->clear();
        return false;
      }
      answer = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer->data()), &size);
    }
    return answer == ERROR_SUCCESS;
  }
};

static_assert(sizeof(void*) != 8 || sizeof(IP_ADAPTER_INFO) == 704,
              "one adapter record is 704 bytes on 64-bit Windows");

}  // namespace

Env* SystemEnv() {
  static WindowsEnv* env = new WindowsEnv;  // never destroyed: threads may outlive main
  return env;
}

bool NarrowToWide(const std::string& text, std::wstring* wide) {
  wchar_t buffer[kMaxWideText] = {};
  size_t converted = 0;
  if (mbstowcs_s(&converted, buffer, kMaxWideText, text.c_str(), _TRUNCATE) != 0) return false;
  wide->assign(buffer);
  return true;
}

}  // namespace vanta
