// The vanta command as a user runs it: separate processes talking over
// 127.0.0.1 on ports that the dispatcher picks.
#include <gtest/gtest.h>
#include <httplib.h>
#include <picojson.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/LocalPeer.h"

namespace vanta {
namespace {

const std::string kVanta = VANTA_TOOL_PATH;

class VantaCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path().string() + "/vanta-tools-XXXXXX";
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override {
    StopDispatcher(SIGKILL);
    std::filesystem::remove_all(dir_);
  }

  // The text of a file; a relative name is taken in dir_.
  std::string Read(const std::string& name) const {
    std::stringstream text;
    text << std::ifstream(name[0] == '/' ? name : dir_ + "/" + name).rdbuf();
    return text.str();
  }
  // Runs a shell command in dir_ (for at most 60 s) with its output in the
  // files "out" and "err"; its exit status.
  int Shell(const std::string& command) {
    const int status = std::system(
        ("cd " + dir_ + " && timeout 60 " + command + " >out 2>err </dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Starts `vanta dispatcher` on ephemeral ports in the background, its log
  // in "log" and its exit status in "status"; false unless it tells its
  // ports within 10 s.
  bool StartDispatcher(const std::string& args) {
    std::system(("cd " + dir_ + " && (" + kVanta +
                 " dispatcher --port 0 --monitor-port 0 --ready-file ready " + args +
                 " 2>log & echo $! >pid; wait $!; echo $? >status) >/dev/null 2>&1 </dev/null &")
                    .c_str());
    return testing::Eventually([&] {
      return std::sscanf(Read("ready").c_str(), "dispatcher_port=%d monitor_port=%d", &port_,
                         &monitor_port_) == 2;
    });
  }
  // Signals a running dispatcher; its exit status within 10 s, else -1.
  int StopDispatcher(int signal_number) {
    int pid = 0, status = -1;
    if (std::sscanf(Read("pid").c_str(), "%d", &pid) != 1 || Read("status") != "") return -1;
    kill(pid, signal_number);
    testing::Eventually([&] { return std::sscanf(Read("status").c_str(), "%d", &status) == 1; });
    return status;
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/dispatcher/"; }

  std::string dir_;
  int port_ = 0, monitor_port_ = 0;
};

TEST_F(VantaCommandTest, NegotiatesWithTheDispatcherAndReportsToItsMonitor) {
  std::ofstream(dir_ + "/service.json") << R"({"ipv4": "192.0.2.7", "ipv6": "2001:db8::1",
    "control_port": 1111, "video_port": 2222, "audio_port": 3333, "input_port": 4444,
    "key1": "k/1", "key2": "k2", "config": {"version": 1, "audio": [{"level": 0, "bitrate": 96}],
    "video": [{"level": 1, "fps": 60, "resolutionRatio": 100, "bitrateRatio": 90},
              {"level": 0, "fps": 30, "resolutionRatio": 50, "bitrateRatio": 40}]}})";
  // An option overrides the file.
  ASSERT_TRUE(StartDispatcher("--service-file service.json --ipv6 2001:db8::9"));
  // Without --token a token is requested first; -v shows every exchange.
  // ComSpec names no program: the registration and its real waits are left
  // out; TEMP keeps the key file in dir_.
  ASSERT_EQ(Shell("env ComSpec=none TEMP=" + dir_ + " " + kVanta + " negotiate --arbiter-base " +
                  Base() + " -v --gameid g --env os=linux"),
            0)
      << Read("err");
  // Trace lines name the accessor they come from.
  EXPECT_TRUE(std::regex_search(Read("err"), std::regex("\\* \\[a[0-9]+\\] POST " + Base() +
                                                        "request_token: HTTP 200; ")))
      << Read("err");
  EXPECT_NE(Read("err").find("] state 4 COMPLETE"), std::string::npos) << Read("err");
  picojson::value parsed;
  ASSERT_EQ(picojson::parse(parsed, Read("out")), "") << Read("out");
  picojson::object service = parsed.get<picojson::object>();
  // The issued values are random; the rest is what the dispatcher was given.
  for (const char* key : {"token", "zuc_key_value", "access_token"}) {
    EXPECT_GE(service[key].to_str().size(), 10u) << key;
    service.erase(key);
  }
  EXPECT_EQ(picojson::value(service).serialize(),
            R"({"audio_port":3333,"control_port":1111,"input_port":4444,"ipv4":"192.0.2.7",)"
            R"("ipv6":"2001:db8::9","key1":"k\/1","key2":"k2","quality":{"audio_bitrate":[96],)"
            R"("audio_level_count":1,"version":1,"video":[)"
            R"({"bitrate_ratio":40,"fps":30,"level":0,"resolution_ratio":50},)"
            R"({"bitrate_ratio":90,"fps":60,"level":1,"resolution_ratio":100}],)"
            R"("video_level_count":2},"video_port":2222})");

  EXPECT_EQ(Shell(kVanta + " monitor-put --port " + std::to_string(monitor_port_) +
                  " --slotid 2 --client-delay -1 --remote-ip 10.0.0.5"),
            0)
      << Read("err");
  httplib::Result reports = httplib::Client("127.0.0.1", monitor_port_).Get("/reports");
  ASSERT_TRUE(reports);
  EXPECT_EQ(reports->body,
            R"({"reports":[{"capture_down_time":0,"client_delay":-1,"handling_down_time":0,)"
            R"("heartbeat_down_time":0,"remote_ip":"10.0.0.5","remote_port":0,"slotid":2}],)"
            R"("status":"ok"})");

  // The two local services pass the connectivity check; the web API of a
  // machine without internet does not.
  EXPECT_EQ(
      Shell(kVanta + " check --json --web-api-host 127.0.0.1:" +
            std::to_string(testing::ClosedLoopbackPort()) + " --arbiter-base " + Base() +
            " --monitor-uri http://127.0.0.1:" + std::to_string(monitor_port_) + "/monitor/put"),
      3);
  ASSERT_EQ(picojson::parse(parsed, Read("out")), "") << Read("out");
  EXPECT_TRUE(parsed.get("dispatcher").get("reachable").get<bool>()) << Read("out");
  EXPECT_TRUE(parsed.get("monitor").get("reachable").get<bool>()) << Read("out");
  EXPECT_FALSE(parsed.get("web API").get("reachable").get<bool>()) << Read("out");
  EXPECT_NE(parsed.get("web API").get("problem").to_str().find("connection"), std::string::npos);

  EXPECT_EQ(StopDispatcher(SIGTERM), 0) << "a signal should stop the dispatcher cleanly";
  EXPECT_NE(Read("log").find("\"env\":{\"os\":\"linux\"}"), std::string::npos)
      << "the log should show the game service request as it arrived:\n"
      << Read("log");
}

// Failures name what failed and why, with the exit status of their kind.
TEST_F(VantaCommandTest, FailuresSayWhatFailedWithTheirExitStatus) {
  ASSERT_TRUE(StartDispatcher("--refuse request_gameservice=10"));
  testing::LocalPeer peer;
  peer.SetAnswer("/m", testing::Reply("not json"));
  const std::string closed = std::to_string(testing::ClosedLoopbackPort());
  struct Row {
    std::string command;
    int status;
    std::vector<std::string> said;  // on stderr, in this order
  } rows[] = {
      {"negotiate --arbiter-base " + Base() + " --token made-up --zuc-key-value k",
       4,
       {"vanta negotiate: the access token request failed after 1 attempt: 0xAC40C810 "
        "WS_ERROR_SERVER_RESULT_2_5_6_7",
        "last exchange: POST " + Base() + "request_accesstoken: HTTP 200",
        "refused: result 2, message \"the token was not issued here",
        "hint: pass --request-token-first, or --token with the key value"}},
      {"negotiate --arbiter-base " + Base(),
       4,
       {"the game service request failed after 1 attempt: 0xAC40C811 WS_ERROR_SERVER_RESULT_10",
        "last exchange: POST " + Base() + "request_gameservice: HTTP 200",
        "refused: result 10, message \"injected refusal\""}},
      {"monitor-put --port " + closed,
       3,
       {"vanta monitor-put: the report was not accepted: 0xAC40C80B WS_ERROR_CONNECT_FAILED",
        "hint: nothing accepts connections at http://127.0.0.1:" + closed}},
      {"monitor-put --uri " + peer.Url("/m"),
       5,
       {"0xAC40C807 WS_ERROR_BAD_RESPONSE", "the answer began: \"not json\""}},
      {"negotiate --arbiter-base ftp://127.0.0.1/d/",
       2,
       {"vanta negotiate: --arbiter-base 'ftp://127.0.0.1/d/': the scheme must be http or https"}},
      {"negotiate --arbiter-base http:///d/", 2, {"it has no host"}},
      {"negotiate --bogus", 2, {"vanta negotiate: unknown option '--bogus'"}},
      {"bogus", 2, {"vanta: 'bogus' is not a vanta command"}},
      {"dispatcher --listen localhost",
       2,
       {"vanta dispatcher: 'localhost' is not an IPv4 or IPv6 address"}},
      {"dispatcher --listen 127.0.0.1 --port " + std::to_string(port_),
       1,
       {"vanta dispatcher: cannot listen on 127.0.0.1:" + std::to_string(port_) +
            " for the dispatcher: ",
        "--port 0"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Shell("env ComSpec=none TEMP=" + dir_ + " " + kVanta + " " + row.command), row.status)
        << row.command << "\n"
        << Read("err");
    const std::string err = Read("err");
    size_t at = 0;
    for (const std::string& text : row.said) {
      at = err.find(text, at);
      EXPECT_NE(at, std::string::npos) << row.command << ": no '" << text << "' in\n" << err;
    }
    EXPECT_EQ(Read("out"), "") << row.command;
  }
}

// Each subcommand explains each of its options on the option's own lines
// within 80 columns, and the man page's entry for it names the same options.
TEST_F(VantaCommandTest, HelpAndManPageNameTheSameOptions) {
  const std::string man = Read(VANTA_MAN_PAGE);
  const std::regex option("\\\\?-\\\\?-[a-z0-9\\\\-]+");  // as "--name" or "\\-\\-name"
  auto options = [&](const std::string& text) {
    std::set<std::string> names;
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
      names.insert(std::regex_replace(it->str(), std::regex("\\\\"), ""));
    }
    return names;
  };
  for (const std::string subcommand :
       {"negotiate", "monitor-put", "device-id", "check", "dispatcher"}) {
    ASSERT_EQ(Shell(kVanta + " " + subcommand + " --help"), 0) << subcommand;
    std::string explained;
    std::istringstream lines(Read("out"));
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 80u) << subcommand << ": " << line;
      if (line.rfind("  -", 0) == 0) explained += line.substr(0, line.find("  ", 3)) + " ";
    }
    const std::string title =
        "\n.B " + std::regex_replace(subcommand, std::regex("-"), "\\-") + "\n";
    const size_t entry = man.find(title);
    ASSERT_NE(entry, std::string::npos) << subcommand;
    std::set<std::string> named = options(man.substr(entry, man.find("\n.TP\n", entry) - entry));
    named.insert("--help");
    EXPECT_EQ(options(explained), named) << subcommand;
  }
}

// Several processes build the identifier at once on one temporary
// directory; none may read another's half-written UUID file.
TEST_F(VantaCommandTest, ConcurrentDeviceIdProcessesSeeWholeUuidFiles) {
  const std::string uuid = "4C4C4544-0042-3510-8051-B4C04F564433";
  std::string bytes = "\xFF\xFE";
  for (char c : "UUID  \r\n" + uuid + "  \r\n") bytes += std::string(1, c) + '\0';
  std::ofstream(dir_ + "/uuid-bytes", std::ios::binary) << bytes;
  std::string script = "for i in 1 2 3 4 5 6 7 8; do env TEMP=" + dir_ +
                       " ComSpec=" VANTA_FAKE_INTERPRETER " " + kVanta +
                       " device-id >out-$i 2>err-$i & done; wait";
  ASSERT_EQ(Shell("sh -c '" + script + "'"), 0);
  int complete = 0;
  for (int i = 1; i <= 8; ++i) {
    const std::string out = Read("out-" + std::to_string(i));
    const std::string err = Read("err-" + std::to_string(i));
    if (out.empty()) {
      EXPECT_NE(err.find("cannot build the device identifier"), std::string::npos) << err;
      continue;
    }
    EXPECT_EQ(out.substr(0, uuid.size() + 1), uuid + "-") << out;
    ++complete;
  }
  if (complete == 0) GTEST_SKIP() << "this machine has no network adapter with an address";
}

}  // namespace
}  // namespace vanta
