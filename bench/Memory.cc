#include "bench/Memory.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench/Exchanges.h"
#include "bench/Peer.h"
#include "bench/Texts.h"

extern char** environ;

namespace vanta {
namespace bench {

namespace {

// Exchanges before counting, so that one-time set-up (libcurl's, the first
// connection of a kept-alive handle) is not charged to a request.
constexpr int kWarmUp = 3;
constexpr int kCounted = 20;

template <typename Op>
AllocCounts Count(Op op, bool* ok) {
  for (int i = 0; i < kWarmUp; ++i) *ok = op() && *ok;
  StartCounting();
  for (int i = 0; i < kCounted; ++i) *ok = op() && *ok;
  return StopCounting();
}

template <typename LibraryOp, typename RawOp>
AllocRow Row(const std::string& request, LibraryOp library, RawOp raw) {
  AllocRow row;
  row.request = request;
  row.ok = true;
  AllocCounts l = Count(library, &row.ok);
  AllocCounts r = Count(raw, &row.ok);
  row.library_cxx = static_cast<double>(l.cxx) / kCounted;
  row.library_curl = static_cast<double>(l.curl) / kCounted;
  row.raw_cxx = static_cast<double>(r.cxx) / kCounted;
  row.raw_curl = static_cast<double>(r.curl) / kCounted;
  return row;
}

// A scratch directory, removed with its files when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/vanta-bench-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~ScratchDir() {
    for (const std::string& f : files_) unlink(f.c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) {
    files_.push_back(path_ + "/" + name);
    return files_.back();
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// Starts args with its output sent to /dev/null, so that only the table
// reaches this program's standard output.
pid_t Spawn(const std::vector<std::string>& args, char** env) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), env);
  posix_spawn_file_actions_destroy(&quiet);
  return failed != 0 ? -1 : pid;
}

bool WaitOk(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs args under GNU time and returns the peak resident size it reports.
PeakRss Measure(const std::string& what, const std::vector<std::string>& args, ScratchDir& dir,
                char** env = environ) {
  static int runs = 0;
  const std::string out = dir.File("rss-" + std::to_string(++runs));
  std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M", "-o", out};
  timed.insert(timed.end(), args.begin(), args.end());
  PeakRss result{what, -1};
  pid_t pid = Spawn(timed, env);
  if (pid > 0 && WaitOk(pid)) result.kib = std::atol(ReadFile(out).c_str());
  return result;
}

std::string SelfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return "";
  path[n] = '\0';
  return path;
}

// Set in the environment of every child, so that a child can never measure
// (and so start) children of its own.
const char kChildMarker[] = "VANTA_BENCH_RSS_CHILD";

int RunRssChild(const std::string& mode, const std::string& base) {
  if (mode == "idle") return 0;
  if (mode == "raw") return RawNegotiation(base) ? 0 : 1;
  if (mode != "library") return 2;
  WebService ws;
  if (ws.Initialize() != WS_SUCCESS) return 1;
  ws.SetUrlArbiterBase(base);
  return LibraryNegotiation(ws) ? 0 : 1;
}

// The value of "key=N" lines in text, or -1.
int PortIn(const std::string& text, const std::string& key) {
  size_t at = text.find(key + "=");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size() + 1);
}

}  // namespace

std::vector<AllocRow> CountAllocations() {
  BenchPeer peer;
  const std::string base = peer->Url(kDispatcherBase);
  const std::string monitor = peer->Url(kMonitorPath);
  WebService ws;
  std::vector<AllocRow> rows;
  if (ws.Initialize() != WS_SUCCESS) return rows;
  ws.SetUrlArbiterBase(base);
  ws.SetUriRequestLauncherMonitorPut(monitor);
  const std::pair<const char*, Dispatch> dispatches[] = {
      {"request_token", Dispatch::kToken},
      {"request_accesstoken", Dispatch::kAccesstoken},
      {"request_gameservice", Dispatch::kGameservice}};
  for (const auto& d : dispatches) {
    rows.push_back(Row(
        d.first, [&] { return LibraryDispatch(ws, d.second); },
        [&] { return RawDispatch(base, d.second); }));
  }
  RawKeepAlive connection;
  rows.push_back(Row(
      "monitor report (kept alive)", [&] { return LibraryMonitorReport(ws); },
      [&] { return RawMonitorReport(connection, monitor); }));
  return rows;
}

std::vector<PeakRss> MeasureInProcessNegotiation() {
  if (std::getenv(kChildMarker) != nullptr) return {};
  BenchPeer peer;
  ScratchDir dir;
  const std::string self = SelfPath();
  if (!dir.ok() || self.empty()) return {};
  std::vector<std::string> env_text = {std::string(kChildMarker) + "=1"};
  for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  const std::string base = "--rss-base=" + peer->Url(kDispatcherBase);
  std::vector<PeakRss> out;
  const std::pair<const char*, const char*> modes[] = {
      {"library", "library"}, {"raw libcurl", "raw"}, {"idle start", "idle"}};
  for (const auto& mode : modes) {
    out.push_back(
        Measure(mode.first, {self, std::string("--rss-child=") + mode.second, base}, dir));
  }
  return out;
}

std::vector<PeakRss> MeasureToolNegotiation(const std::string& vanta) {
  ScratchDir dir;
  if (!dir.ok()) return {};
  const std::string ready = dir.File("ready");
  dir.File("ready.tmp");
  pid_t dispatcher = Spawn(
      {vanta, "dispatcher", "--port", "0", "--monitor-port", "0", "--ready-file", ready}, environ);
  if (dispatcher <= 0) return {};
  int port = -1;
  for (int i = 0; i < 200 && port <= 0; ++i) {  // at most 10 s
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port = PortIn(ReadFile(ready), "dispatcher_port");
  }
  std::vector<PeakRss> out;
  if (port > 0) {
    // The key file goes to TEMP: keep it in the scratch directory.
    dir.File("key.tmp");
    dir.File("id.tmp");
    std::vector<std::string> env_text = {"TEMP=" + dir.path(), "PATH=/usr/bin:/bin"};
    std::vector<char*> env = {env_text[0].data(), env_text[1].data(), nullptr};
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/dispatcher/";
    out.push_back(Measure("vanta negotiate",
                          {vanta, "negotiate", "--arbiter-base", base, "--request-token-first",
                           "--gameid", Args().gameid},
                          dir, env.data()));
    out.push_back(Measure("vanta --help", {vanta, "--help"}, dir, env.data()));
  }
  kill(dispatcher, SIGTERM);
  WaitOk(dispatcher);
  return out;
}

int RssChildMain(int argc, char** argv) {
  std::string mode, base;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--rss-child=", 0) == 0) mode = arg.substr(12);
    if (arg.rfind("--rss-base=", 0) == 0) base = arg.substr(11);
  }
  return mode.empty() ? -1 : RunRssChild(mode, base);
}

}  // namespace bench
}  // namespace vanta
