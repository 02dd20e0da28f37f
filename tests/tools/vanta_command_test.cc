// The vanta command as a user runs it: separate processes talking over
// 127.0.0.1 on ports that the dispatcher picks.
#include <gtest/gtest.h>
#include <httplib.h>
#include <picojson.h>
#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/ChildProcess.h"

namespace vanta {
namespace testing {
namespace {

using std::chrono::milliseconds;

const std::string kVanta = VANTA_TOOL_PATH;

// The environment of a negotiation that skips the device identifier
// registration and its real waits: the UUID query names a program that does
// not exist, so the identifier cannot be built. TEMP keeps any file in dir.
ChildEnv FastNegotiationEnv(const ScratchDir& dir) {
  ChildEnv env;
  env.set["ComSpec"] = dir.File("no-such-program");
  env.set["TEMP"] = dir.path();
  return env;
}

// `vanta dispatcher` on ephemeral ports, stopped by a signal.
class DispatcherProcess {
 public:
  DispatcherProcess(const ScratchDir& dir, const std::vector<std::string>& extra_args)
      : ready_file_(dir.File("ready" + std::to_string(++count_))),
        child_(Args(extra_args), ChildEnv(), dir) {
    for (int i = 0; i < 1000 && child_.Running(); ++i) {
      std::istringstream ready(ReadFile(ready_file_));
      std::string line;
      while (std::getline(ready, line)) {
        std::sscanf(line.c_str(), "dispatcher_port=%d", &dispatcher_port_);
        std::sscanf(line.c_str(), "monitor_port=%d", &monitor_port_);
      }
      if (dispatcher_port_ > 0 && monitor_port_ > 0) return;
      std::this_thread::sleep_for(milliseconds(10));
    }
  }

  bool ready() const { return dispatcher_port_ > 0 && monitor_port_ > 0; }
  int dispatcher_port() const { return dispatcher_port_; }
  int monitor_port() const { return monitor_port_; }
  std::string ArbiterBase() const {
    return "http://127.0.0.1:" + std::to_string(dispatcher_port_) + "/dispatcher/";
  }
  ChildResult Stop(int signal_number = SIGTERM) {
    child_.Signal(signal_number);
    return child_.Wait(milliseconds(10000));
  }

 private:
  std::vector<std::string> Args(const std::vector<std::string>& extra_args) const {
    std::vector<std::string> args = {kVanta,           "dispatcher", "--port",       "0",
                                     "--monitor-port", "0",          "--ready-file", ready_file_};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    return args;
  }

  static inline int count_ = 0;
  std::string ready_file_;
  Child child_;
  int dispatcher_port_ = 0;
  int monitor_port_ = 0;
};

std::vector<std::string> NegotiateArgs(const DispatcherProcess& dispatcher,
                                       const std::vector<std::string>& extra_args) {
  std::vector<std::string> args = {kVanta, "negotiate", "--arbiter-base", dispatcher.ArbiterBase()};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  return args;
}

std::string Serialized(const picojson::object& object, const std::string& key) {
  auto it = object.find(key);
  return it == object.end() ? "(absent)" : it->second.serialize();
}

TEST(VantaCommandTest, NegotiatesWithTheDispatcherAndPrintsTheService) {
  ScratchDir dir;
  WriteFile(dir.File("service.json"), R"({
    "ipv4": "192.0.2.7", "ipv6": "2001:db8::1", "control_port": 1111, "video_port": 2222,
    "audio_port": 3333, "input_port": 4444, "key1": "k/1", "key2": "k2",
    "config": {"version": 1,
               "audio": [{"level": 0, "bitrate": 96}],
               "video": [{"level": 1, "fps": 60, "resolutionRatio": 100, "bitrateRatio": 90},
                         {"level": 0, "fps": 30, "resolutionRatio": 50, "bitrateRatio": 40}]}})");
  // An option overrides the file.
  DispatcherProcess dispatcher(
      dir, {"--service-file", dir.File("service.json"), "--ipv6", "2001:db8::9"});
  ASSERT_TRUE(dispatcher.ready());

  ChildResult run = RunChild(
      NegotiateArgs(dispatcher, {"--request-token-first", "--gameid", "g", "--env", "os=linux"}),
      FastNegotiationEnv(dir));
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("state 4 COMPLETE"), std::string::npos) << run.err;

  picojson::value parsed;
  ASSERT_EQ(picojson::parse(parsed, run.out), "") << run.out;
  ASSERT_TRUE(parsed.is<picojson::object>());
  picojson::object service = parsed.get<picojson::object>();
  // The issued values are random; the rest is what the dispatcher was given.
  for (const char* key : {"token", "zuc_key_value", "access_token"}) {
    EXPECT_GE(Serialized(service, key).size(), 10u) << key << " should hold an issued value";
    service.erase(key);
  }
  EXPECT_EQ(picojson::value(service).serialize(),
            R"({"audio_port":3333,"control_port":1111,"input_port":4444,"ipv4":"192.0.2.7",)"
            R"("ipv6":"2001:db8::9","key1":"k\/1","key2":"k2","quality":{"audio_bitrate":[96],)"
            R"("audio_level_count":1,"version":1,"video":[)"
            R"({"bitrate_ratio":40,"fps":30,"level":0,"resolution_ratio":50},)"
            R"({"bitrate_ratio":90,"fps":60,"level":1,"resolution_ratio":100}],)"
            R"("video_level_count":2},"video_port":2222})");

  ChildResult stopped = dispatcher.Stop();
  EXPECT_EQ(stopped.exit_status, 0) << "a signal should stop the dispatcher cleanly";
  EXPECT_NE(stopped.err.find("\"env\":{\"os\":\"linux\"}"), std::string::npos)
      << "the log should show the game service request as it arrived:\n"
      << stopped.err;
}

TEST(VantaCommandTest, RefusalsEndTheNegotiationWithTheMappedCode) {
  struct Row {
    std::vector<std::string> dispatcher_args;
    std::vector<std::string> negotiate_args;
    const char* expected;  // nullptr: the negotiation succeeds
  };
  const Row rows[] = {
      {{"--refuse", "request_token=10"},
       {"--request-token-first"},
       "0xAC40C811 WS_ERROR_SERVER_RESULT_10"},
      {{"--refuse", "request_gameservice=8"},
       {"--request-token-first"},
       "0xAC40C80E WS_ERROR_SERVER_RESULT_8"},
      // A token that the dispatcher did not issue, and one with the wrong key.
      {{},
       {"--token", "made-up", "--zuc-key-value", "k"},
       "0xAC40C810 WS_ERROR_SERVER_RESULT_2_5_6_7"},
      {{"--issue", "tok=key"},
       {"--token", "tok", "--zuc-key-value", "other"},
       "0xAC40C810 WS_ERROR_SERVER_RESULT_2_5_6_7"},
      {{"--issue", "tok=key"}, {"--token", "tok", "--zuc-key-value", "key"}, nullptr},
  };
  for (const Row& row : rows) {
    ScratchDir dir;
    DispatcherProcess dispatcher(dir, row.dispatcher_args);
    ASSERT_TRUE(dispatcher.ready());
    ChildResult run =
        RunChild(NegotiateArgs(dispatcher, row.negotiate_args), FastNegotiationEnv(dir));
    std::string output = run.out + run.err;
    if (row.expected == nullptr) {
      EXPECT_EQ(run.exit_status, 0) << output;
    } else {
      EXPECT_EQ(run.exit_status, 1) << output;
      EXPECT_NE(output.find(row.expected), std::string::npos) << output;
      EXPECT_EQ(run.out, "") << "no service is printed after a failure";
    }
    EXPECT_EQ(dispatcher.Stop(SIGINT).exit_status, 0);
  }
}

TEST(VantaCommandTest, MonitorReportsReachTheMonitor) {
  ScratchDir dir;
  // The first report is refused, the later ones are accepted.
  DispatcherProcess dispatcher(dir, {"--refuse", "monitor=1", "--fault-count", "1"});
  ASSERT_TRUE(dispatcher.ready());
  std::string port = std::to_string(dispatcher.monitor_port());
  std::string uri = "http://127.0.0.1:" + port + "/monitor/put";
  struct Row {
    std::vector<std::string> args;
    int exit_status;
    const char* expected;
  };
  const Row rows[] = {
      {{"--port", port, "--slotid", "1"}, 1, "0xAC40C807 WS_ERROR_BAD_RESPONSE"},
      {{"--port", port, "--slotid", "2", "--client-delay", "-1", "--remote-ip", "10.0.0.5"},
       0,
       "report accepted"},
      {{"--uri", uri, "--slotid", "3", "--remote-port", "5000"}, 0, "report accepted"},
      {{"--scheme", "HTTP://", "--port", port}, 1, "0xAC40C801 WS_ERROR_FAILED"},
      {{"--port", "1"}, 1, "0xAC40C80B WS_ERROR_CONNECT_FAILED"},
      {{"--uri", uri, "--port", port}, 2, "excludes"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {kVanta, "monitor-put"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ChildResult run = RunChild(args, ChildEnv());
    std::string output = run.out + run.err;
    EXPECT_EQ(run.exit_status, row.exit_status) << output;
    EXPECT_NE(output.find(row.expected), std::string::npos) << output;
  }

  httplib::Client client("127.0.0.1", dispatcher.monitor_port());
  httplib::Result reports = client.Get("/reports");
  ASSERT_TRUE(reports);
  EXPECT_EQ(reports->body,
            R"({"reports":[)"
            R"({"capture_down_time":0,"client_delay":-1,"handling_down_time":0,)"
            R"("heartbeat_down_time":0,"remote_ip":"10.0.0.5","remote_port":0,"slotid":2},)"
            R"({"capture_down_time":0,"client_delay":0,"handling_down_time":0,)"
            R"("heartbeat_down_time":0,"remote_ip":"none","remote_port":5000,"slotid":3}],)"
            R"("status":"ok"})");
  EXPECT_EQ(dispatcher.Stop().exit_status, 0);
}

TEST(VantaCommandTest, DispatcherRefusesUnusableSettings) {
  ScratchDir dir;
  WriteFile(dir.File("bad.json"), R"({"port": 7})");
  DispatcherProcess running(dir, {});
  ASSERT_TRUE(running.ready());
  std::string taken = std::to_string(running.dispatcher_port());
  struct Row {
    std::vector<std::string> args;
    int exit_status;
    const char* expected;
  };
  const Row rows[] = {
      {{"--port", taken}, 1, "is the port taken?"},
      {{"--refuse", "request_everything=1"}, 2, "unknown action"},
      {{"--path", "dispatcher"}, 2, "--path must begin and end with /"},
      {{"--issue", "token-without-key"}, 2, "TOKEN=KEY_VALUE"},
      {{"--service-file", dir.File("absent.json")}, 2, "cannot read"},
      {{"--service-file", dir.File("bad.json")}, 2, "unknown member \"port\""},
      {{"--port", "65536"}, 2, "65535"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {kVanta, "dispatcher", "--monitor-port", "0"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    ChildResult run = RunChild(args, ChildEnv(), milliseconds(10000));
    EXPECT_EQ(run.exit_status, row.exit_status) << run.err;
    EXPECT_NE(run.err.find(row.expected), std::string::npos) << run.err;
  }
  EXPECT_EQ(running.Stop().exit_status, 0);
}

// Each subcommand offers every option it should, and explains each one on
// the option's own line.
TEST(VantaCommandTest, HelpExplainsEveryOptionOnItsLine) {
  struct Row {
    const char* subcommand;
    std::vector<std::string> options;
  };
  const Row rows[] = {
      {"negotiate",
       {"--client-version", "--token", "--arbiter-base", "--video-profile", "--audio-profile",
        "--gameid", "--request-token-first", "--zuc-key-value", "--io-mouse", "--io-touch",
        "--io-keyboard", "--io-sensor", "--io-gamepad", "--yuv-itu-r-bt", "--env"}},
      {"monitor-put",
       {"--slotid", "--capture-down-time", "--heartbeat-down-time", "--handling-down-time",
        "--client-delay", "--remote-ip", "--remote-port", "--uri", "--scheme", "--host", "--port",
        "--path"}},
      {"device-id", {}},
      {"dispatcher",
       {"--port",         "--path",       "--monitor-port", "--monitor-path", "--ready-file",
        "--service-file", "--ipv4",       "--ipv6",         "--key1",         "--key2",
        "--control-port", "--video-port", "--audio-port",   "--input-port",   "--no-config",
        "--issue",        "--refuse",     "--http-status",  "--delay",        "--fault-count"}},
  };
  for (const Row& row : rows) {
    ChildResult help = RunChild({kVanta, row.subcommand, "--help"}, ChildEnv());
    ASSERT_EQ(help.exit_status, 0) << row.subcommand;
    std::vector<std::string> explained;
    std::istringstream lines(help.out);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("  -", 0) != 0) continue;
      // An option line: the option's names and type, two or more blanks,
      // and the explanation.
      size_t gap = line.find("  ", 2);
      size_t text = line.find_first_not_of(' ', gap);
      EXPECT_TRUE(gap != std::string::npos && text != std::string::npos)
          << row.subcommand << ": option without an explanation on its line: " << line;
      size_t name = line.find("--");
      if (name < gap) {
        explained.push_back(line.substr(name, line.find_first_of(" ,", name) - name));
      }
    }
    std::vector<std::string> expected = row.options;
    expected.insert(expected.begin(), "--help");
    EXPECT_EQ(explained, expected) << row.subcommand;
  }
}

}  // namespace
}  // namespace testing
}  // namespace vanta
