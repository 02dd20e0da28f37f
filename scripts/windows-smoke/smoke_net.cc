// Checks, on Windows or under wine, the pieces the library relies on there:
// static libcurl and OpenSSL (versions, an HTTP fetch from the URL given as
// the only argument), the adapter list, the temporary directory, starting a
// child process through cmd.exe without inherited handles, and environment
// variables (TEMP, and one the caller names). Prints one line per check and a closing
// "N passed, N failed" line; exits non-zero when a check failed.

// Order matters: winsock2.h before windows.h, iphlpapi.h after both.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Report(bool ok, const char* name, const std::string& detail) {
  std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", name, detail.c_str());
  ok ? ++passed : ++failed;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

size_t Append(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

void CheckLibraries() {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  std::string curl_ssl = info->ssl_version ? info->ssl_version : "";
  Report(curl_ssl.find("OpenSSL") != std::string::npos, "libcurl", curl_version());
  Report(OPENSSL_version_major() == 3, "openssl", OpenSSL_version(OPENSSL_VERSION));
  unsigned char random[16];
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  Report(ctx != nullptr && RAND_bytes(random, sizeof random) == 1, "openssl-init",
         "TLS client context and random bytes");
  SSL_CTX_free(ctx);
}

void CheckFetch(const char* url) {
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  Report(rc == CURLE_OK && status == 200 && !body.empty(), "http-fetch",
         std::string(url) + " -> " + curl_easy_strerror(rc) + ", status " + std::to_string(status) +
             ", " + std::to_string(body.size()) + " bytes");
}

void CheckAdapters() {
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  DWORD rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size > 0 ? size : sizeof(IP_ADAPTER_INFO));
    size = static_cast<ULONG>(buffer.size());
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  int count = 0;
  std::string detail;
  if (rc == NO_ERROR) {
    for (auto* a = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); a; a = a->Next) {
      std::string mac;
      for (UINT i = 0; i < a->AddressLength && i < MAX_ADAPTER_ADDRESS_LENGTH; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i ? ":%02x" : "%02x", a->Address[i]);
        mac += byte;
      }
      detail += std::string(count++ ? "; " : "") + a->Description + " " + mac;
    }
  }
  Report(rc == NO_ERROR && count > 0, "GetAdaptersInfo",
         "rc " + std::to_string(rc) + ", " + std::to_string(count) + " adapter(s): " + detail);
}

std::wstring CheckTempPath() {
  wchar_t path[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, path);
  std::wstring temp = n > 0 && n <= MAX_PATH ? std::wstring(path, n) : std::wstring();
  DWORD attributes = temp.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(temp.c_str());
  Report(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY),
         "GetTempPathW", Utf8(temp));
  return temp;
}

void CheckCreateProcess(const std::wstring& temp) {
  std::wstring file = temp + L"vanta-smoke-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  std::wstring command = L"cmd.exe /C echo hi > \"" + file + L"\"";
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD exit_code = 1;
  BOOL created = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                nullptr, nullptr, &startup, &process);
  if (created) {
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 1);
    }
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::ifstream in(file.c_str());
  std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  DeleteFileW(file.c_str());
  Report(created && exit_code == 0 && output.rfind("hi", 0) == 0, "CreateProcessW",
         Utf8(command) + " -> exit " + std::to_string(exit_code) + ", file holds \"" +
             output.substr(0, output.find_first_of("\r\n")) + "\"");
}

// Reads a variable with the Win32 call; _dupenv_s does not link against the
// msvcrt.dll that mingw-w64 programs use by default.
std::string Variable(const std::string& name) {
  std::wstring wide(name.begin(), name.end());
  DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(wide.c_str(), &value[0], n);
  value.resize(n);
  return Utf8(value);
}

void CheckVariables(const char* expected) {
  std::string temp = Variable("TEMP");
  DWORD attributes = temp.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(temp.c_str());
  Report(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY), "TEMP",
         temp + " (TMP " + Variable("TMP") + ")");
  if (expected == nullptr) return;
  std::string pair = expected;
  std::string name = pair.substr(0, pair.find('='));
  std::string value = Variable(name);
  Report(name + "=" + value == pair, "environment", name + "=" + value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s <http url> [NAME=value expected in the environment]\n",
                 argv[0]);
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CheckLibraries();
  CheckFetch(argv[1]);
  curl_global_cleanup();
  CheckAdapters();
  CheckCreateProcess(CheckTempPath());
  CheckVariables(argc == 3 ? argv[2] : nullptr);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
