// The allocation sweep: runs one whole negotiation (with the device
// identifier's registration) and three launcher monitor reports again and
// again, the Nth allocation of the library, libcurl and OpenSSL failing in
// run N, for every N up to the end (every `step`th past `dense`). Every run
// must end with a code: no exception may leave a public call, no worker may
// end the process (a run that does ends the sweep: its N is the last one
// printed), and under AddressSanitizer nothing may leak.
//
//   alloc_sweep [dense] [step] [first]   (first: the first N to fail, after run 0)
//
// The peer answering every request runs in a child process, so that only
// this process's allocations are counted.
#include <curl/curl.h>
#include <dlfcn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <string>

#include "tests/accessor/RunnerFixture.h"
#include "tests/support/LocalPeer.h"
#include "tests/support/TestEnv.h"
#include "vanta/WebService.h"
#include "vanta/WebServiceAccessor.h"

namespace {

// Allocations counted while a run goes; the one numbered fail_at fails.
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> fail_at{0};

bool ShouldFail() {
  return counting.load(std::memory_order_relaxed) && ++allocations == fail_at.load();
}

void* CurlMalloc(size_t size) { return ShouldFail() ? nullptr : malloc(size); }
void* CurlRealloc(void* p, size_t size) { return ShouldFail() ? nullptr : realloc(p, size); }
void* CurlCalloc(size_t n, size_t size) { return ShouldFail() ? nullptr : calloc(n, size); }
char* CurlStrdup(const char* text) { return ShouldFail() ? nullptr : strdup(text); }

// The allocator function of OpenSSL that this program stands in for.
template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// OpenSSL allocates through these three: this program's definitions take
// their place in libssl and libcrypto (OpenSSL's own way to replace them,
// CRYPTO_set_mem_functions, is closed once libssl has loaded).
extern "C" __attribute__((visibility("default"))) void* CRYPTO_malloc(size_t size, const char* file,
                                                                      int line) {
  static auto real = Real<void* (*)(size_t, const char*, int)>("CRYPTO_malloc");
  return ShouldFail() ? nullptr : real(size, file, line);
}
extern "C" __attribute__((visibility("default"))) void* CRYPTO_zalloc(size_t size, const char* file,
                                                                      int line) {
  static auto real = Real<void* (*)(size_t, const char*, int)>("CRYPTO_zalloc");
  return ShouldFail() ? nullptr : real(size, file, line);
}
extern "C" __attribute__((visibility("default"))) void* CRYPTO_realloc(void* p, size_t size,
                                                                       const char* file, int line) {
  static auto real = Real<void* (*)(void*, size_t, const char*, int)>("CRYPTO_realloc");
  return ShouldFail() ? nullptr : real(p, size, file, line);
}

// Every C++ allocation of the process goes through these: new takes from
// malloc, so free is the match of delete (which GCC cannot see through the
// local peer's inline code).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return ShouldFail() ? nullptr : malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size) {
  void* p = operator new(size, std::nothrow);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }

namespace vanta {
namespace {

using testing::kAllOk;

// Serves every path a run asks for, in a child process: the dispatcher and
// the monitor over HTTP (ports[0]), the web API over HTTPS (ports[1]).
bool StartPeers(pid_t* child, int (&ports)[2]) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  *child = fork();
  if (*child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the sweep
    close(ends[0]);
    testing::LocalPeer peer, web_api(/*https=*/true);
    for (const auto& [path, answer] : kAllOk) {
      peer.SetAnswer(path, answer);
      web_api.SetAnswer(path, answer);
    }
    peer.SetAnswer("/monitor/put", testing::Reply(R"({"status":"ok"})"));
    const int found[2] = {peer.port(), web_api.port()};
    if (write(ends[1], found, sizeof(found)) != sizeof(found)) _exit(1);
    pause();  // until killed
    _exit(0);
  }
  close(ends[1]);
  const bool read_all = read(ends[0], ports, sizeof(ports)) == sizeof(ports);
  close(ends[0]);
  return read_all;
}

// One run: a negotiation and three monitor reports. False when a public
// call threw or a state and result disagree.
bool Run(const std::string& base, const std::string& monitor, std::map<uint32_t, int>* codes) {
  try {
    ErrorCode result;
    {
      WebServiceAccessor accessor;
      ErrorCode code =
          accessor.Initialize(3, "t0", base.c_str(), 0, 2, "g", true, "k0", 1, 1, 1, 0, 1, 709);
      if (!code.IsFailure()) code = accessor.Start();
      accessor.WaitFor(-1, &result);
      if (code.IsFailure()) result = code;
      const WebServiceAccessor::State::type state = accessor.GetState();
      const bool consistent =
          code.IsFailure() ||
          (state == WebServiceAccessor::State::COMPLETE && !result.IsFailure()) ||
          (state == WebServiceAccessor::State::FAILED && result.IsFailure());
      accessor.GetRunReport();
      if (!consistent) return false;
    }
    ++(*codes)[result.GetValue()];
    WebService service;
    ErrorCode code = service.Initialize();
    service.SetUriRequestLauncherMonitorPut(monitor);
    for (int i = 0; i < 3 && !code.IsFailure(); ++i) {
      code = service.RequestLauncherMonitorPut(i, 1, 2, 3, 4, "10.0.0.1", 5);
    }
    return true;
  } catch (...) {
    return false;
  }
}

int Sweep(int argc, char** argv) {
  const long dense = argc > 1 ? std::atol(argv[1]) : 3000;
  const long step = argc > 2 ? std::atol(argv[2]) : 5;
  const long first = argc > 3 ? std::atol(argv[3]) : 1;
  pid_t child = -1;
  int ports[2] = {};
  if (!StartPeers(&child, ports)) return 1;
  const std::string origin = "http://127.0.0.1:" + std::to_string(ports[0]);
  const std::string base = origin + "/dispatcher/", monitor = origin + "/monitor/put";
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("vanta-sweep-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directory(dir);
  std::ofstream(dir + "/uuid-bytes", std::ios::binary)
      << "\xFF\xFE" + testing::Utf16("UUID  \r\n4C4C4544-0042-3510-8051-B4C04F564433  \r\n");
  testing::TestEnv env;  // waits return at once
  env.SetVariable("TEMP", dir);
  env.SetVariable("ComSpec", std::string(VANTA_FAKE_INTERPRETER));
  env.adapter = AdapterAddress{AdapterAddress::Status::kOk, 6, {0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
  env.web_api_origin = "https://127.0.0.1:" + std::to_string(ports[1]);
  std::ifstream pem(VANTA_PEER_PEM_DIR "/peer-cert.pem");
  env.trusted_roots_pem = std::string(std::istreambuf_iterator<char>(pem), {});

  std::map<uint32_t, int> codes;
  // Run 0 counts the allocations of a whole run; then each one fails once.
  long total = 0, runs = 0, broken = 0;
  for (long n = 0; n == 0 || n <= total; n = n == 0 ? first : n < dense ? n + 1 : n + step) {
    std::fprintf(stderr, "run %ld\n", n);
    allocations = 0;
    fail_at = n;
    counting = true;
    const bool ok = Run(base, monitor, &codes);
    counting = false;
    if (n == 0) total = allocations;
    ++runs;
    if (!ok) {
      ++broken;
      std::printf("allocation %ld: an exception left a public call, or the state disagrees\n", n);
    }
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  std::filesystem::remove_all(dir);
  std::printf(
      "%ld allocations per run; %ld runs (every allocation up to %ld, every %ld after); "
      "%ld broken\nresults:",
      total, runs, dense, step, broken);
  for (const auto& [code, count] : codes) {
    std::printf(" %s %d;", ErrorCode(code).Name(), count);
  }
  std::printf("\n");
  return broken == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vanta

int main(int argc, char** argv) {
  // Before the first allocation of either library.
  curl_global_init_mem(CURL_GLOBAL_DEFAULT, &CurlMalloc, &free, &CurlRealloc, &CurlStrdup,
                       &CurlCalloc);
  const int status = vanta::Sweep(argc, argv);
  curl_global_cleanup();
  return status;
}
