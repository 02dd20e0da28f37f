#include "platform/Platform.h"

// winsock2.h must precede windows.h, and both the IP helper.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace vanta {
namespace platform {

std::optional<std::string> ReadEnvironment(const char* name) {
  char* value = nullptr;
  size_t length = 0;
  if (_dupenv_s(&value, &length, name) != 0 || value == nullptr) return std::nullopt;
  std::string text(value);
  std::free(value);
  return text;
}

std::string TempDirectory() { return ReadEnvironment("TEMP").value_or(""); }

bool NarrowToWide(const std::string& text, std::wstring* wide) {
  wchar_t buffer[kMaxWideText] = {};
  size_t converted = 0;
  if (mbstowcs_s(&converted, buffer, kMaxWideText, text.c_str(), _TRUNCATE) != 0) return false;
  wide->assign(buffer);
  return true;
}

bool RunProcessAndWait(const std::wstring& command_line) {
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
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

static_assert(sizeof(void*) != 8 || sizeof(IP_ADAPTER_INFO) == 704,
              "one adapter record is 704 bytes on 64-bit Windows");

AdapterAddress FirstAdapterAddress() {
  AdapterAddress first;
  // One adapter record first; the call tells the size it needs when more
  // adapters are present.
  ULONG size = sizeof(IP_ADAPTER_INFO);
  std::vector<unsigned char> buffer;
  DWORD answer = ERROR_BUFFER_OVERFLOW;
  for (int round = 0; round < 2 && answer == ERROR_BUFFER_OVERFLOW; ++round) {
    try {
      buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
      first.status = AdapterAddress::Status::kBufferUnavailable;
      return first;
    }
    answer = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (answer != ERROR_SUCCESS) return first;
  const IP_ADAPTER_INFO* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data());
  first.status = AdapterAddress::Status::kOk;
  first.length = adapter->AddressLength < sizeof(first.bytes)
                     ? static_cast<int>(adapter->AddressLength)
                     : static_cast<int>(sizeof(first.bytes));
  std::memcpy(first.bytes, adapter->Address, static_cast<size_t>(first.length));
  return first;
}

bool WriteUuidFile(const std::string&) { return false; }

}  // namespace platform
}  // namespace vanta
