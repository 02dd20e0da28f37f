#include "accessor/DeviceId.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "accessor/TestSeams.h"
#include "platform/Platform.h"

namespace vanta {

namespace {

std::atomic<AdapterSource> adapter_source{nullptr};

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

// Runs the UUID query, which leaves its output in uuid_path.
bool QueryUuid(const std::string& uuid_path) {
  std::optional<std::string> interpreter = platform::ReadEnvironment("ComSpec");
  if (!interpreter) return platform::WriteUuidFile(uuid_path);
  // The interpreter does the redirection; note the blanks at both ends.
  std::string arguments = " /C wmic csproduct get uuid > " + uuid_path + " ";
  std::wstring line;
  std::wstring wide_arguments;
  if (!platform::NarrowToWide(*interpreter, &line) ||
      !platform::NarrowToWide(arguments, &wide_arguments)) {
    return false;
  }
  line += wide_arguments;
  if (line.size() >= static_cast<size_t>(platform::kMaxWideText)) return false;
  return platform::RunProcessAndWait(line);
}

// "%.2X" for each byte, "-" between them, at most 17 characters.
void FormatAddress(const platform::AdapterAddress& adapter, char (&text)[18]) {
  for (int i = 0; i < adapter.length; ++i) {
    char one[4];
    std::snprintf(one, sizeof(one), i + 1 == adapter.length ? "%.2X" : "%.2X-",
                  static_cast<unsigned>(adapter.bytes[i]));
    AppendBounded(text, sizeof(text), one);
  }
}

bool Create(char* buffer, int size, DeviceIdFailure* failure) {
  if (buffer == nullptr || size < 1) return false;
  std::string uuid_path = platform::TempFilePath("id.tmp");
  if (!QueryUuid(uuid_path)) {
    *failure = DeviceIdFailure::kProcessNotStarted;
    return false;
  }
  char uuid[37] = {};
  if (!ReadUuidFile(uuid_path, uuid)) {
    *failure = DeviceIdFailure::kUuidFileUnreadable;
    return false;
  }
  AdapterSource source = adapter_source.load();
  platform::AdapterAddress adapter = source != nullptr ? source() : platform::FirstAdapterAddress();
  if (adapter.status == platform::AdapterAddress::Status::kBufferUnavailable) {
    *failure = DeviceIdFailure::kAdapterBufferUnavailable;
    return false;
  }
  if (adapter.status != platform::AdapterAddress::Status::kOk) {
    *failure = DeviceIdFailure::kAdapterListUnreadable;
    return false;
  }
  if (adapter.length < 0) adapter.length = 0;
  if (adapter.length > static_cast<int>(sizeof(adapter.bytes))) {
    adapter.length = static_cast<int>(sizeof(adapter.bytes));
  }
  char address[18] = {};
  FormatAddress(adapter, address);
  AppendBounded(buffer, static_cast<size_t>(size), uuid);
  AppendBounded(buffer, static_cast<size_t>(size), "-");
  AppendBounded(buffer, static_cast<size_t>(size), address);
  return true;
}

}  // namespace

bool ReadUuidFile(const std::string& uuid_path, char (&uuid)[37]) {
  std::FILE* file = std::fopen(uuid_path.c_str(), "r");
  if (file == nullptr) return false;
  char header[128];
  if (std::fgets(header, sizeof(header), file) != nullptr) {
    for (int i = 0; i < 36; ++i) {
      std::fgetc(file);
      int c = std::fgetc(file);
      if (c == EOF) break;
      char one[4];
      std::snprintf(one, sizeof(one), "%c", c);
      AppendBounded(uuid, sizeof(uuid), one);
    }
  }
  std::fclose(file);
  return true;
}

AdapterSource SetAdapterSourceForTesting(AdapterSource source) {
  return adapter_source.exchange(source);
}

bool CreateDeviceIdText(char* buffer, int size, DeviceIdFailure* failure) {
  DeviceIdFailure reason = DeviceIdFailure::kNone;
  bool built = Create(buffer, size, &reason);
  if (failure != nullptr) *failure = reason;
  return built;
}

}  // namespace vanta
