// vanta_bench VANTA [ROUNDS [REPORTS]]: the library next to bare libcurl and
// bare picojson against `vanta dispatcher` (VANTA, of the same build) in a
// process of its own, each pair measured in turn (ABAB...) in one run: ROUNDS
// negotiations (300) and REPORTS monitor reports (2000) per side. Prints one
// table of medians, ratios and targets.
#include <curl/curl.h>
#include <fcntl.h>
#include <picojson.h>
#include <signal.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/LauncherMonitor.h"
#include "messages/Token.h"
#include "service/WebServiceHttp.h"
#include "service/WebServiceImpl.h"
#include "vanta/WebService.h"

extern char** environ;

namespace {

// Allocation calls while counting is on: operator new's, and libcurl's own
// through the functions given to curl_global_init_mem.
bool counting = false;
long cxx_allocations = 0;
long curl_allocations = 0;

template <typename T>
T CountedByCurl(T block) {
  curl_allocations += counting;
  return block;
}
void* CurlMalloc(size_t size) { return CountedByCurl(malloc(size)); }
void* CurlCalloc(size_t count, size_t size) { return CountedByCurl(calloc(count, size)); }
void* CurlRealloc(void* old, size_t size) { return CountedByCurl(realloc(old, size)); }
char* CurlStrdup(const char* text) { return CountedByCurl(strdup(text)); }
void CurlFree(void* block) { free(block); }

}  // namespace

// The array and nothrow forms of the standard library call these. Out of
// line: inlined, the compiler would see new paired with free.
__attribute__((noinline)) void* operator new(size_t size) {
  cxx_allocations += counting;
  void* block = malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
__attribute__((noinline)) void operator delete(void* block) noexcept { free(block); }
__attribute__((noinline)) void operator delete(void* block, size_t) noexcept { free(block); }

namespace vanta {
namespace bench {
namespace {

constexpr int kClientVersion = 3;
const char kGameId[] = "bench-game";
const char kRemoteIp[] = "192.0.2.5";
const WebService::ClientEnvironmentInfo kEnv{{{"os", "linux"}, {"cpu", "x86-64"}}};
volatile size_t sink = 0;  // what timed loops compute, so that none is optimised away

// Up to three numbers in printf's format.
std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// CLOCK_MONOTONIC for wall time; CLOCK_PROCESS_CPUTIME_ID for the CPU time
// of this process, all threads (the peer's is not in it).
double Seconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// The game service the peer answers with: 8 audio and 8 video levels.
std::string ServiceJson() {
  std::string audio, video;
  for (int level = 0; level < 8; ++level) {
    const std::string start = std::string(level ? "," : "") + "{\"level\":" + std::to_string(level);
    audio += start + ",\"bitrate\":" + std::to_string(32 + 32 * level) + "}";
    video += start + ",\"fps\":" + (level < 4 ? "30" : "60") +
             ",\"resolutionRatio\":" + std::to_string(65 + 5 * level) +
             ",\"bitrateRatio\":" + std::to_string(30 + 10 * level) + "}";
  }
  return "{\"key1\":\"5f2b9c0e7a1d4c3b\",\"key2\":\"a93c1e7f0b2d4e6c\",\"config\":{\"version\":1,"
         "\"audio\":[" +
         audio + "],\"video\":[" + video + "]}}";
}

// Starts argv (argv[0] a path) with stdout and stderr discarded and the
// NAME=VALUE entries of env_first ahead of this process's environment
// (getenv takes the first); traced, it stops at its exec. Its pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, std::vector<std::string> env_first, bool traced) {
  for (char** entry = environ; *entry != nullptr; ++entry) env_first.push_back(*entry);
  std::vector<char*> args = Pointers(argv), envp = Pointers(env_first);
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = null_fd < 0 ? -1 : fork();
  if (pid == 0) {  // only async-signal-safe calls from here
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    if (traced) ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (null_fd >= 0) close(null_fd);
  return pid;
}

// `vanta dispatcher` on ephemeral loopback ports; stopped (SIGTERM) and
// reaped with the object.
struct Peer {
  ~Peer() {
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
  }
  // Starts it with its files in dir and waits, at most 10 s, until it listens.
  void Start(const std::string& vanta, const std::string& dir) {
    const std::string ready = dir + "/ready", service = dir + "/service.json";
    std::ofstream(service) << ServiceJson();
    const std::vector<std::string> args = {
        vanta,          "dispatcher", "--port",         "0",    "--monitor-port", "0",
        "--ready-file", ready,        "--service-file", service};
    pid_ = Spawn(args, {}, false);
    // The ready file is whole once it exists: the dispatcher renames it into place.
    for (int wait = 0; pid_ > 0 && wait < 1000; ++wait) {
      std::string text;
      std::getline(std::ifstream(ready), text, '\0');
      if (std::sscanf(text.c_str(), "dispatcher_port=%d monitor_port=%d", &dispatcher_port,
                      &monitor_port) == 2) {
        return;
      }
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
      usleep(10000);
    }
    throw std::runtime_error(vanta + " dispatcher did not come up");
  }
  int dispatcher_port = 0, monitor_port = 0;
  pid_t pid_ = -1;
};

void* AsData(long value) { return reinterpret_cast<void*>(value); }

// Runs argv as Spawn does; its peak resident size in KiB, read from /proc as
// it stops at its exit (-1: not traced, or exit status not 0). Its rusage
// would not do: an exec in a child forked from this large process counts
// this process's size as the child's peak.
long PeakRssKib(const std::vector<std::string>& argv, const std::vector<std::string>& env_first) {
  const pid_t pid = Spawn(argv, env_first, true);
  long peak = -1;
  int status = 0;
  // The first stop is the exec, then comes the exit; other signals pass on.
  for (bool exec_seen = false; pid > 0 && waitpid(pid, &status, 0) == pid && WIFSTOPPED(status);
       exec_seen = true) {
    const bool exiting = exec_seen && (status >> 16) == PTRACE_EVENT_EXIT;
    if (!exec_seen) ptrace(PTRACE_SETOPTIONS, pid, nullptr, AsData(PTRACE_O_TRACEEXIT));
    std::ifstream in(exiting ? "/proc/" + std::to_string(pid) + "/status" : "");  // "": none
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("VmHWM:", 0) == 0) peak = std::atol(line.c_str() + 6);
    }
    ptrace(PTRACE_CONT, pid, nullptr, AsData(exec_seen && !exiting ? WSTOPSIG(status) : 0));
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? peak : -1;
}

size_t Append(char* data, size_t size, size_t count, void* answer) {
  static_cast<std::string*>(answer)->append(data, size * count);
  return size * count;
}

// A bare libcurl handle, set up as the library's transport sets up its own.
CURL* NewHandle(curl_slist* headers, std::string* answer) {
  CURL* handle = curl_easy_init();
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, answer);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "zarerozevoz/0.0.1");
  for (CURLoption option :
       {CURLOPT_FOLLOWLOCATION, CURLOPT_NOSIGNAL, CURLOPT_FAILONERROR, CURLOPT_TCP_NODELAY}) {
    curl_easy_setopt(handle, option, 1L);
  }
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 10L);
  return handle;
}

curl_slist* Headers(bool keep_alive) {
  curl_slist* list = curl_slist_append(nullptr, "Accept: application/json");
  list = curl_slist_append(list, "Content-Type: application/json; charset: utf-8");
  return keep_alive ? curl_slist_append(list, "Connection: Keep-Alive") : list;
}

// GETs over one handle kept for the object's life.
struct RawKeptAlive {
  curl_slist* headers = Headers(true);
  std::string answer;
  CURL* handle = NewHandle(headers, &answer);
  ~RawKeptAlive() {
    curl_easy_cleanup(handle);
    curl_slist_free_all(headers);
  }
  bool Get(const std::string& url) {
    answer.clear();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    return curl_easy_perform(handle) == CURLE_OK && answer == "{\"status\":\"ok\"}";
  }
};

// The string member key of a compact answer, found by text search.
std::string Member(const std::string& answer, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const size_t at = answer.find(marker) + marker.size();
  return at < marker.size() ? "" : answer.substr(at, answer.find('"', at) - at);
}

// The three dispatcher POSTs in bare libcurl: the library's bodies, made
// with "~" for the tokens, get those of the previous answers; no JSON work.
struct RawNegotiation {
  std::string urls[3], templates[3], answers[3];

  std::string Body(int step) const {
    std::string body = templates[step];
    std::vector<std::string> tokens;
    if (step == 1) tokens = {Member(answers[0], "token"), Member(answers[0], "zuc_key_value")};
    if (step == 2) tokens = {Member(answers[1], "access_token")};
    for (const std::string& token : tokens) body.replace(body.find('~'), 1, token);
    return body;
  }
  // POSTs body on a fresh handle; true when libcurl succeeded.
  bool Post(int step, const std::string& body) {
    answers[step].clear();
    curl_slist* headers = Headers(false);
    CURL* handle = NewHandle(headers, &answers[step]);
    curl_easy_setopt(handle, CURLOPT_URL, urls[step].c_str());
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    const bool ok = curl_easy_perform(handle) == CURLE_OK;
    curl_easy_cleanup(handle);
    curl_slist_free_all(headers);
    return ok;
  }
};

struct Negotiated {
  std::string token, key, access_token, ipv4, ipv6, key1, key2;
  int control_port = 0, video_port = 0, audio_port = 0, input_port = 0;
  WebService::QualityParams quality = {};
};

std::string GameserviceBody(const std::string& access_token) {
  return GameserviceRequestBody(kClientVersion, access_token, 2, 1, 1, 0, 1, 0, 1, 709, 0, kEnv);
}

bool CheckGameservice(const std::string& answer, Negotiated& n) {
  return ParseGameserviceResponse(answer, n.ipv4, n.ipv6, n.control_port, n.video_port,
                                  n.audio_port, n.input_port, n.key1, n.key2, n.quality)
      .accepted();
}

bool Ok(ErrorCode code) { return !code.IsFailure(); }

// Step 0 (token), 1 (access token) or 2 (game service) of a negotiation.
bool LibraryStep(WebService& service, int step, Negotiated& n) {
  if (step == 0) return Ok(service.RequestZuToken(kClientVersion, kGameId, 0, n.token, n.key));
  if (step == 1) {
    return Ok(service.RequestZuAccesstoken(kClientVersion, n.token, n.key, 0, n.access_token));
  }
  return Ok(service.RequestZuGameservice(kClientVersion, n.access_token, 2, 1, 1, 0, 1, 0, 1, 709,
                                         0, kEnv, n.ipv4, n.ipv6, n.control_port, n.video_port,
                                         n.audio_port, n.input_port, n.key1, n.key2, n.quality));
}

bool LibraryReport(WebService& service) {
  return Ok(service.RequestLauncherMonitorPut(3, 10, 20, 30, 40, kRemoteIp, 5000));
}

// A report through the library's transport on a handle of its own.
bool LibraryFreshReport(const std::string& uri) {
  WebServiceHttp http;
  WebServiceImpl impl;
  impl.Attach(&http);
  std::string answer;
  return Ok(impl.LauncherMonitorPut(uri, 3, 10, 20, 30, 40, kRemoteIp, 5000, answer)) &&
         ParseLauncherMonitorResponse(answer).accepted();
}

struct Timing {
  double wall = 0, cpu = 0;  // median seconds per call
};

// Runs each side `calls` times per sample, side after side (ABCABC...), so
// that all meet the same machine state. One warm-up sample is not counted.
std::vector<Timing> Alternate(int samples, int calls,
                              const std::vector<std::function<bool()>>& sides) {
  std::vector<std::vector<double>> wall(sides.size()), cpu(sides.size());
  for (int sample = -1; sample < samples; ++sample) {
    for (size_t side = 0; side < sides.size(); ++side) {
      const double wall_start = Seconds(CLOCK_MONOTONIC);
      const double cpu_start = Seconds(CLOCK_PROCESS_CPUTIME_ID);
      for (int call = 0; call < calls; ++call) {
        if (!sides[side]()) throw std::runtime_error("a request or an answer check failed");
      }
      if (sample < 0) continue;
      cpu[side].push_back((Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start) / calls);
      wall[side].push_back((Seconds(CLOCK_MONOTONIC) - wall_start) / calls);
    }
  }
  std::vector<Timing> medians;
  for (size_t side = 0; side < sides.size(); ++side) {
    medians.push_back({Median(wall[side]), Median(cpu[side])});
  }
  return medians;
}

struct Allocations {
  double cxx = 0, curl = 0;  // per request
  double Total() const { return cxx + curl; }
  std::string Text() const { return Format("%.1f = %.1f new + %.1f curl", Total(), cxx, curl); }
};

// Adds the allocation calls of fn, times weight.
void Count(const std::function<bool()>& fn, double weight, Allocations* into) {
  cxx_allocations = curl_allocations = 0;
  counting = true;
  const bool ok = fn();
  counting = false;
  if (!ok) throw std::runtime_error("a counted request failed");
  into->cxx += static_cast<double>(cxx_allocations) * weight;
  into->curl += static_cast<double>(curl_allocations) * weight;
}

// One line of the table. relation "<=" or ">=" with bound is the target for
// ratio (library over baseline; below 0: not measured); "" for none.
std::vector<std::string> Row(const std::string& what, const std::string& library,
                             const std::string& baseline, double ratio, const char* relation = "",
                             double bound = 0) {
  const bool met = ratio >= 0 && (relation[0] == '<' ? ratio <= bound : ratio >= bound);
  return {what, library, baseline, ratio >= 0 ? Format("%.3f", ratio) : "n/a",
          relation[0] ? relation + Format(" %.2f ", bound) + (met ? "met" : "missed") : "-"};
}

std::string Micros(double seconds) { return Format("%.1f us", seconds * 1e6); }

// The row of &Timing::wall or &Timing::cpu of sides 0 (library) and 1.
std::vector<std::string> TimeRow(const std::string& what, const std::vector<Timing>& times,
                                 double Timing::*clock, double bound) {
  return Row(what, Micros(times[0].*clock), Micros(times[1].*clock),
             times[0].*clock / times[1].*clock, "<=", bound);
}

// rows[0] is the heading; a markdown rule follows it.
void PrintTable(std::vector<std::vector<std::string>> lines) {
  lines.insert(lines.begin() + 1, std::vector<std::string>());
  std::vector<size_t> widths(lines[0].size(), 3);
  for (const auto& line : lines) {
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  for (auto& line : lines) {
    for (size_t i = 0; i < widths.size(); ++i) {
      const std::string cell = line.empty() ? std::string(widths[i], '-') : line[i];
      std::printf("| %-*s ", static_cast<int>(widths[i]), cell.c_str());
    }
    std::printf("|\n");
  }
}

void Run(const std::string& vanta, int rounds, int reports, const std::string& scratch) {
  Peer peer;
  peer.Start(vanta, scratch);
  const std::string origin = "http://127.0.0.1:";
  const std::string base = origin + std::to_string(peer.dispatcher_port) + "/dispatcher/";
  const std::string monitor_uri = origin + std::to_string(peer.monitor_port) + "/monitor/put";
  const std::string monitor_url =
      monitor_uri + "?" + LauncherMonitorQuery(3, 10, 20, 30, 40, kRemoteIp, 5000);
  WebService library;
  if (!Ok(library.Initialize())) throw std::runtime_error("Initialize failed");
  library.SetUrlArbiterBase(base);
  library.SetUriRequestLauncherMonitorPut(monitor_uri);
  Negotiated lib, checked;
  RawNegotiation raw{
      {base + "request_token", base + "request_accesstoken", base + "request_gameservice"},
      {TokenRequestBody(kClientVersion, kGameId, 0),
       AccesstokenRequestBody(kClientVersion, "~", "~", 0), GameserviceBody("~")},
      {}};
  RawKeptAlive raw_monitor;
  std::vector<std::vector<std::string>> rows = {
      {"measurement", "library", "baseline", "ratio", "target"}};

  std::fprintf(stderr, "vanta_bench: %d negotiations, %d reports per side...\n", rounds, reports);
  const std::vector<Timing> negotiation = Alternate(
      rounds, 1,
      {[&] {
         return LibraryStep(library, 0, lib) && LibraryStep(library, 1, lib) &&
                LibraryStep(library, 2, lib);
       },
       [&] {
         return raw.Post(0, raw.Body(0)) && raw.Post(1, raw.Body(1)) && raw.Post(2, raw.Body(2));
       }});
  // An accepted game service request needs the access token, which needs the token.
  if (raw.answers[2].find("\"status\":\"ok\"") == std::string::npos ||
      lib.quality.video_level_count != 8 || lib.quality.audio_level_count != 8) {
    throw std::runtime_error("the negotiations did not bring 8+8 levels");
  }
  const std::string what = "negotiation: 3 POSTs, fresh handle each, 8+8 levels: ";
  rows.push_back(TimeRow(what + "wall", negotiation, &Timing::wall, 1.03));
  rows.push_back(TimeRow(what + "client CPU", negotiation, &Timing::cpu, 1.05));

  const int calls = 1000;
  const std::vector<Timing> check =
      Alternate(31, calls,
                {[&] { return CheckGameservice(raw.answers[2], checked); },
                 [&] {
                   picojson::value value;
                   return picojson::parse(value, raw.answers[2]).empty();
                 }});
  rows.push_back(TimeRow("game service answer, 8+8 levels: the check alone vs picojson::parse",
                         check, &Timing::wall, 0.5));

  // Per request: the library's allocation calls, less one for the body (or
  // query) string it makes, over bare libcurl's with the body made before.
  Allocations library_counts[4], raw_counts[4];
  for (int run = -1; run < 10; ++run) {
    const double weight = run < 0 ? 0 : 0.1;  // the first run warms up
    for (int step = 0; step < 3; ++step) {
      Count([&] { return LibraryStep(library, step, lib); }, weight, &library_counts[step]);
      const std::string body = raw.Body(step);
      Count([&] { return raw.Post(step, body); }, weight, &raw_counts[step]);
    }
    Count([&] { return LibraryReport(library); }, weight, &library_counts[3]);
    Count([&] { return raw_monitor.Get(monitor_url); }, weight, &raw_counts[3]);
  }
  const char* const messages[] = {"token", "access token", "game service", "monitor report"};
  for (int m = 0; m < 4; ++m) {
    rows.push_back(
        Row(std::string("heap allocations per request, its body string aside: ") + messages[m],
            library_counts[m].Text(), raw_counts[m].Text(),
            (library_counts[m].Total() - 1) / raw_counts[m].Total(), "<=", 2));
  }

  const int blocks = 20, per_block = std::max(1, reports / blocks);
  const std::vector<Timing> monitor = Alternate(
      blocks, per_block,
      {[&] { return LibraryReport(library); }, [&] { return raw_monitor.Get(monitor_url); },
       [&] { return LibraryFreshReport(monitor_uri); }});
  rows.push_back(TimeRow(std::to_string(blocks * per_block) +
                             " monitor reports, one kept-alive handle: time per report",
                         monitor, &Timing::wall, 1.05));
  rows.push_back(Row("monitor reports: kept alive vs a fresh handle each (rate)",
                     Format("%.0f/s", 1 / monitor[0].wall),
                     Format("%.0f/s fresh", 1 / monitor[2].wall), monitor[2].wall / monitor[0].wall,
                     ">=", 2));

  std::vector<picojson::value> bodies(3);
  for (int k = 0; k < 3; ++k) picojson::parse(bodies[k], raw.Body(k));
  const std::vector<Timing> message_cost = Alternate(
      31, calls,
      {[&] {
         sink = sink + TokenRequestBody(kClientVersion, kGameId, 0).size() +
                AccesstokenRequestBody(kClientVersion, lib.token, lib.key, 0).size() +
                GameserviceBody(lib.access_token).size();
         return ParseTokenResponse(raw.answers[0], checked.token, checked.key).accepted() &&
                ParseAccesstokenResponse(raw.answers[1], checked.access_token).accepted() &&
                CheckGameservice(raw.answers[2], checked);
       },
       [&] {
         for (int k = 0; k < 3; ++k) {
           picojson::value answer;
           if (!picojson::parse(answer, raw.answers[k]).empty()) return false;
           sink = sink + bodies[k].serialize().size();
         }
         return true;
       }});
  rows.push_back(TimeRow("messages: 3 bodies built, 3 answers checked vs picojson serialize, parse",
                         message_cost, &Timing::wall, 1.3));

  std::filesystem::create_directory(scratch + "/temp");
  // A missing interpreter leaves no device identifier to register.
  const std::vector<std::string> env = {"ComSpec=" + scratch + "/no-such-interpreter",
                                        "TEMP=" + scratch + "/temp"};
  const std::vector<std::string> commands[2] = {
      {vanta, "negotiate", "--request-token-first", "--gameid", kGameId, "--arbiter-base", base},
      {vanta, "--help"}};
  std::vector<double> peaks[2];
  for (int run = 0; run < 5; ++run) {
    for (int k = 0; k < 2; ++k) peaks[k].push_back(PeakRssKib(commands[k], env));
  }
  const double kib[2] = {Median(peaks[0]), Median(peaks[1])};  // below 0 when most runs failed
  rows.push_back(Row("peak RSS: vanta negotiate --request-token-first vs vanta --help",
                     Format("%.0f KiB", kib[0]), Format("%.0f KiB", kib[1]),
                     kib[0] < 0 || kib[1] < 0 ? -1 : kib[0] / kib[1]));

  std::printf("vanta_bench: medians, library and baseline measured in turn\n\n");
  PrintTable(rows);
}

}  // namespace
}  // namespace bench
}  // namespace vanta

int main(int argc, char** argv) {
  // Before any other use of libcurl, so that all its allocations are seen.
  curl_global_init_mem(CURL_GLOBAL_DEFAULT, CurlMalloc, CurlFree, CurlRealloc, CurlStrdup,
                       CurlCalloc);
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: vanta_bench VANTA [ROUNDS [REPORTS]]\n");
    return 2;
  }
  std::string scratch = std::filesystem::temp_directory_path() / "vanta-bench-XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr) {
    std::perror("vanta_bench: mkdtemp");
    return 1;
  }
  int status = 0;
  try {
    vanta::bench::Run(argv[1], argc > 2 ? std::max(1, std::atoi(argv[2])) : 300,
                      argc > 3 ? std::max(1, std::atoi(argv[3])) : 2000, scratch);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vanta_bench: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  curl_global_cleanup();
  return status;
}
