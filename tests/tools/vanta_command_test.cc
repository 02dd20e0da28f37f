// The vanta command as a user runs it: separate processes, started without
// a shell, talking over 127.0.0.1 with reference dispatchers of the same
// build on ports they pick.
#include <gtest/gtest.h>
#include <httplib.h>
#include <picojson.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/LocalPeer.h"
#include "tests/tools/ChildProcess.h"

namespace vanta {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The text of a file, without the carriage returns of Windows' text mode.
std::string Read(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return std::regex_replace(text.str(), std::regex("\r\n"), "\n");
}

// The first group of every match of pattern in text.
std::set<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::set<std::string> found;
  const std::regex regex(pattern);
  for (std::sregex_iterator it(text.begin(), text.end(), regex), end; it != end; ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

struct Result {
  int status = -1;  // -1: it did not end within 60 s
  std::string out;
  std::string err;
};

// `vanta dispatcher` on ports it picks.
struct Dispatcher {
  testing::ChildProcess process;
  std::string files;  // the start of its files' paths
  int port = 0;
  int monitor_port = 0;
  std::string base;     // of its requests, ending with '/'
  std::string monitor;  // its monitor's report address
};

class VantaCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Read before TEMP is set below, which it would follow.
    static const std::filesystem::path base = std::filesystem::temp_directory_path();
    dir_ = (base / ("vanta-tools-" + std::to_string(std::random_device()()))).string();
    ASSERT_TRUE(std::filesystem::create_directories(dir_));
    testing::SetEnvironment("TEMP", dir_);  // for the files of the commands it starts
  }
  void TearDown() override {
    dispatchers_.clear();
    std::filesystem::remove_all(dir_);
  }

  // Runs program with args (for at most 60 s); a line of words runs vanta.
  Result Run(const std::vector<std::string>& args) {
    testing::ChildProcess child;
    Result result;
    if (!child.Start(args, dir_ + "/out", dir_ + "/err")) return result;
    if (!child.Wait(60000, &result.status)) result.status = -1;
    result.out = Read(dir_ + "/out");
    result.err = Read(dir_ + "/err");
    return result;
  }
  Result Vanta(const std::string& line) { return Run(Words(VANTA_TOOL_PATH " " + line)); }

  // Starts `vanta dispatcher` with args; null unless it tells its ports
  // within 10 s.
  const Dispatcher* StartDispatcher(const std::string& args) {
    auto d = std::make_unique<Dispatcher>();
    d->files = dir_ + "/dispatcher" + std::to_string(dispatchers_.size());
    const std::vector<std::string> argv =
        Words(VANTA_TOOL_PATH " dispatcher --port 0 --monitor-port 0 --ready-file " + d->files +
              ".ready " + args);
    const bool ready =
        d->process.Start(argv, d->files + ".out", d->files + ".log") && testing::Eventually([&] {
          return std::sscanf(Read(d->files + ".ready").c_str(),
                             "dispatcher_port=%d monitor_port=%d", &d->port, &d->monitor_port) == 2;
        });
    d->base = "http://127.0.0.1:" + std::to_string(d->port) + "/dispatcher/";
    d->monitor = "http://127.0.0.1:" + std::to_string(d->monitor_port) + "/monitor/put";
    dispatchers_.push_back(std::move(d));
    return ready ? dispatchers_.back().get() : nullptr;
  }

  struct Row {
    std::string line;
    int status;
    std::vector<std::string> said;  // in this order
  };
  // Runs each row's command line: its exit status and what it says (check
  // on stdout, the others on stderr).
  void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      const Result run = Vanta(row.line);
      const bool check = row.line.rfind("check", 0) == 0 && row.status != 2;
      const std::string said = check ? run.out : run.err;
      EXPECT_EQ(run.status, row.status) << row.line << "\n" << said;
      size_t at = 0;
      for (const std::string& text : row.said) {
        at = said.find(text, at);
        EXPECT_NE(at, std::string::npos) << row.line << ": no '" << text << "' in\n" << said;
      }
    }
  }

  std::string dir_;
  std::vector<std::unique_ptr<Dispatcher>> dispatchers_;
};

// Negotiates with the dispatcher and reports to its monitor, listening on
// both loopback addresses (IPv4 first: the port it picks there is then
// taken on ::1 too, where few sockets compete for it).
TEST_F(VantaCommandTest, NegotiatesWithTheDispatcherAndReportsToItsMonitor) {
  std::ofstream(dir_ + "/service.json") << R"({"ipv4": "192.0.2.7", "ipv6": "2001:db8::1",
    "control_port": 1111, "video_port": 2222, "audio_port": 3333, "input_port": 4444,
    "key1": "k/1", "key2": "k2", "config": {"version": 1, "audio": [{"level": 0, "bitrate": 96}],
    "video": [{"level": 0, "fps": 30, "resolutionRatio": 50, "bitrateRatio": 40}]}})";
  // An option overrides the file.
  const Dispatcher* d = StartDispatcher("--listen 127.0.0.1 --listen [::1] --service-file " + dir_ +
                                        "/service.json --ipv6 2001:db8::9");
  ASSERT_NE(d, nullptr);
  // Without --token a token is requested first; -v (before the command)
  // shows every exchange, each trace line naming its accessor.
  Result run =
      Vanta("-v negotiate --dispatcher " + d->base + " --no-register --gameid g --env os=linux");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::regex_search(
      run.err, std::regex("\\* \\[a[0-9]+\\] POST " + d->base + "request_token: HTTP 200; ")))
      << run.err;
  EXPECT_EQ(run.err.find("SEND_DEVICE_ID"), std::string::npos) << "--no-register:\n" << run.err;
  picojson::value parsed;
  ASSERT_EQ(picojson::parse(parsed, run.out), "") << run.out;
  picojson::object service = parsed.get<picojson::object>();
  // The issued values are random; the rest is what the dispatcher was given.
  for (const char* key : {"token", "zuc_key_value", "access_token"}) {
    EXPECT_GE(service[key].to_str().size(), 10u) << key;
    service.erase(key);
  }
  EXPECT_EQ(picojson::value(service).serialize(),
            R"({"audio_port":3333,"control_port":1111,"input_port":4444,"ipv4":"192.0.2.7",)"
            R"("ipv6":"2001:db8::9","key1":"k\/1","key2":"k2","quality":{"audio_bitrate":[96],)"
            R"("audio_level_count":1,"version":1,"video":[{"bitrate_ratio":40,"fps":30,)"
            R"("level":0,"resolution_ratio":50}],"video_level_count":1},"video_port":2222})");
  // A bare IPv6 host gets its brackets.
  run = Vanta("monitor-put --host ::1 --port " + std::to_string(d->monitor_port) +
              " --slotid 2 --client-delay -1 --remote-ip ::ffff:10.0.0.5");
  EXPECT_EQ(run.status, 0) << run.err;
  httplib::Result reports = httplib::Client("127.0.0.1", d->monitor_port).Get("/reports");
  ASSERT_TRUE(reports);
  EXPECT_EQ(reports->body,
            R"({"reports":[{"capture_down_time":0,"client_delay":-1,"handling_down_time":0,)"
            R"("heartbeat_down_time":0,"remote_ip":"::ffff:10.0.0.5","remote_port":0,"slotid":2}],)"
            R"("status":"ok"})");
#if !defined(_WIN32)
  // (wine never delivers a console control event to a child.)
  int status = -1;
  dispatchers_.back()->process.Interrupt();
  ASSERT_TRUE(dispatchers_.back()->process.Wait(10000, &status));
  EXPECT_EQ(status, 0) << "an interrupt should stop the dispatcher cleanly";
#endif
  // The game service request arrived with the --env entry.
  EXPECT_NE(Read(d->files + ".log").find("\"env\":{\"os\":\"linux\"}"), std::string::npos)
      << Read(d->files + ".log");
}

// Unusable command lines are refused before any request, named, with the
// closest known word suggested and what to use instead where it is known.
TEST_F(VantaCommandTest, UnusableCommandLinesAreRefusedBeforeAnyRequest) {
  const std::string base = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  ExpectRows({
      {"negotate", 2, {"vanta: 'negotate' is not a vanta command; did you mean 'negotiate'?"}},
      {"help negotate", 2, {"vanta help: 'negotate' is not a vanta command; did you mean"}},
      {"--versoin", 2, {"vanta: unknown option '--versoin'; did you mean '--version'?"}},
      {"--port 0 dispatcher", 2, {"vanta: --port is an option of a command"}},
      {"negotiate --request-token", 2, {"did you mean '--request-token-first'?"}},
      {"negotiate --client-version abc", 2, {"--client-version 'abc': not a whole number"}},
      {"monitor-put 3 --port 1", 2, {"vanta monitor-put: unexpected argument '3'"}},
      {"monitor-put --port", 2, {"--port needs a value (PORT)"}},
      {"monitor-put --port=70000", 2, {"--port '70000': not a port number (0 to 65535)"}},
      {"check -q -v", 2, {"vanta check: -v (--verbose) and -q (--quiet) cannot be used together"}},
      {"negotiate --no-register=yes", 2, {"--no-register takes no value"}},
      {"negotiate --max-time 0", 2, {"--max-time '0': not a number of seconds"}},
      {"negotiate --env novalue", 2, {"--env 'novalue': not KEY=VALUE"}},
      {"negotiate --dispatcher " + base + "/d", 2, {"use '" + base + "/d/'"}},
      {"negotiate --arbiter-base ftp://127.0.0.1/d/", 2, {"the scheme must be http or https"}},
      {"check --dispatcher http:///d/", 2, {"it has no host"}},
      {"negotiate --dispatcher http://::1:8081/d/", 2, {"needs brackets"}},
      {"negotiate --web-api-origin https://h/x", 2, {"an origin has no path; use 'https://h'"}},
      {"monitor-put --remote-ip 10.0.0.1&slotid=99", 2, {"not an IPv4 or IPv6 address"}},
      {"monitor-put --host 127.0.0.1:80", 2, {"--host '127.0.0.1:80': a host without a port"}},
      {"monitor-put --uri " + base + "/m --port 1", 2, {"--uri is the whole address"}},
      {"dispatcher --listen 1.2.3", 2, {"'1.2.3' is not an IPv4 or IPv6 address"}},
  });
}

// A failure says what failed, the HTTP status, the dispatcher's refusal or
// the start of an unreadable answer, and a hint, with the exit status of
// its kind: a refusal, an HTTP error status, a wait cut short, no server,
// an answer that cannot be read, a port in use.
TEST_F(VantaCommandTest, FailuresSayWhatFailedWithTheirExitStatus) {
  const Dispatcher* a = StartDispatcher("--refuse request_gameservice=10");
  const Dispatcher* b = StartDispatcher(
      "--http-status request_token=500 --delay request_accesstoken=3000 --issue tok=kv");
  ASSERT_TRUE(a != nullptr && b != nullptr);
  testing::LocalPeer peer;
  peer.SetAnswer("/m", testing::Reply("not json"));
  const std::string closed = std::to_string(testing::ClosedLoopbackPort());
  const std::string to_a = "negotiate --no-register --dispatcher " + a->base;
  const std::string to_b = "negotiate --dispatcher " + b->base;
  ExpectRows({
      {to_a + " --token t --zuc-key-value k",
       4,
       {"after 1 attempt: 0xAC40C810", "pass --request-token-first"}},
      {"-q " + to_a, 4, {"the game service request failed", "0xAC40C811", "refused: result 10"}},
      {to_b,
       4,
       {"negotiate: requesting the token, attempt 3 of 3 after a 3 s wait",
        "3 attempts: 0xAC40C80F WS_ERROR_SERVER_ERROR",
        "POST " + b->base + "request_token: HTTP 500 Internal Server Error; ",
        "server's own failure"}},
      {"check --dispatcher " + b->base + " --monitor-uri " + b->monitor +
           " --web-api-origin http://127.0.0.1:" + std::to_string(b->monitor_port),
       4,
       {"REFUSED: HTTP 500 Internal Server Error answer", "monitor     " + b->monitor + "  ok"}},
      {"check --dispatcher " + a->base + "nowhere/ --monitor-uri " + a->monitor +
           " --web-api-origin https://127.0.0.1:" + closed,
       3,
       {"HTTP 404", "nothing is published at " + a->base + "nowhere/request_token", "UNREACHABLE"}},
      {to_b + " --token tok --zuc-key-value kv --max-time 0.5",
       6,
       {"access token request was stopped"}},
      {"monitor-put --port " + closed,
       3,
       {"nothing accepts connections at http://127.0.0.1:" + closed}},
      {"monitor-put --uri " + peer.Url("/m"), 5, {"0xAC40C807", "the answer began: \"not json\""}},
      {"dispatcher --listen 127.0.0.1 --port " + std::to_string(a->port), 1, {"--port 0"}},
      // As JSON: the two local services pass; a web API where nothing listens
      // does not.
      {"check --json --web-api-origin https://127.0.0.1:" + closed + " --dispatcher " + a->base +
           " --monitor-uri " + a->monitor,
       3,
       {"\"ok\": true", "\"ok\": true", "\"web_api\"", "\"ok\": false"}},
  });
}

// Each command's help names its options within 80 columns, wherever --help
// stands; the man page names the same options and exit statuses, and the
// completion file (valid bash) offers the same long options.
TEST_F(VantaCommandTest, HelpManPageAndCompletionNameTheSameOptions) {
  // Without troff's escapes: "\-\-name\fI" reads "--name".
  const std::string man = std::regex_replace(Read(VANTA_MAN_PAGE), std::regex("\\\\f.|\\\\"), "");
#if !defined(_WIN32)
  auto complete = [&](const std::string& words) {
    return Matches(Run({"/bin/bash", "-c",
                        "source " VANTA_COMPLETION "; COMP_WORDS=(" + words +
                            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _vanta; "
                            "printf '%s\\n' \"${COMPREPLY[@]}\""})
                       .out,
                   "([^\n]+)");
  };
  EXPECT_EQ(complete("vanta -v neg"), std::set<std::string>{"negotiate"});
  EXPECT_EQ(complete("vanta help mon"), std::set<std::string>{"monitor-put"});
#endif
  EXPECT_NE(Vanta("dispatcher --help").out.find("(default 8081)"), std::string::npos);
  for (const std::string command :
       {"negotiate", "monitor-put", "device-id", "check", "dispatcher"}) {
    const std::string help = Vanta(command + " --help").out;
    EXPECT_EQ(Vanta("help " + command).out, help) << command;
    EXPECT_FALSE(std::regex_search(help, std::regex("[^\n]{81}"))) << help;
    const size_t entry = man.find("\n.SS " + command + "\n");
    ASSERT_NE(entry, std::string::npos) << command;
    std::set<std::string> named =
        Matches(man.substr(entry, man.find("\n.S", entry + 1) - entry), "(--[a-z0-9-]+)");
    named.insert({"-v", "--verbose", "-q", "--quiet", "-h", "--help", "-V", "--version"});
    // A help's option names start its lines or follow another name.
    EXPECT_EQ(Matches(help, "(?:\n  |, )(--?[a-zA-Z0-9-]+)"), named) << command;
#if !defined(_WIN32)
    EXPECT_EQ(complete("vanta " + command + " --"), Matches(help, "(?:\n  |, )(--[a-z0-9-]+)"))
        << command;
#endif
    // "Each command returns only these:", then ".B <command>" and its list.
    const size_t list = man.find("\n.B " + command + "\n", man.find("returns only these"));
    ASSERT_NE(list, std::string::npos) << command;
    const size_t list_end = man.find('\n', man.find('\n', list + 1) + 1);
    EXPECT_EQ(Matches(help, "\n  ([0-9]+) "),
              Matches(man.substr(list, list_end - list), "([0-9]+)"))
        << command;
  }
}

}  // namespace
}  // namespace vanta
