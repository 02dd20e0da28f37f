// The vanta command as a user runs it: separate processes talking over
// 127.0.0.1 on ports that the dispatcher picks.
#include <gtest/gtest.h>
#include <httplib.h>
#include <picojson.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

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

  std::string Read(const std::string& name) const {
    std::stringstream text;
    text << std::ifstream(dir_ + "/" + name).rdbuf();
    return text.str();
  }

  // Runs a shell command in dir_ (for at most 60 s) with its output in the
  // files "out" and "err"; its exit status.
  int Shell(const std::string& command) {
    const int status = std::system(
        ("cd " + dir_ + " && timeout 60 " + command + " >out 2>err </dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Starts `vanta dispatcher` on ephemeral ports in the background; false
  // unless it tells its ports within 10 s. Its log goes to "log", its exit
  // status to "status".
  bool StartDispatcher(const std::string& args) {
    std::system(("cd " + dir_ + " && rm -f ready status && (" + kVanta +
                 " dispatcher --port 0 --monitor-port 0 --ready-file ready " + args +
                 " 2>log & echo $! >pid; wait $!; echo $? >status) >/dev/null 2>&1 </dev/null &")
                    .c_str());
    port_ = monitor_port_ = 0;
    for (int i = 0; i < 1000 && monitor_port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::sscanf(Read("ready").c_str(), "dispatcher_port=%d monitor_port=%d", &port_,
                  &monitor_port_);
    }
    return port_ > 0 && monitor_port_ > 0;
  }

  // Signals a running dispatcher and waits (at most 10 s) for its exit
  // status; -1 when none comes.
  int StopDispatcher(int signal_number) {
    int pid = 0, status = -1;
    if (std::sscanf(Read("pid").c_str(), "%d", &pid) != 1 || Read("status") != "") return -1;
    kill(pid, signal_number);
    for (int i = 0; i < 1000 && std::sscanf(Read("status").c_str(), "%d", &status) != 1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
  }

  // `vanta negotiate` against the dispatcher. The UUID query names a
  // program that does not exist, so that the device identifier registration
  // and its real waits are skipped; TEMP keeps the key file in dir_.
  int Negotiate(const std::string& args) {
    return Shell("env ComSpec=none TEMP=" + dir_ + " " + kVanta +
                 " negotiate --arbiter-base http://127.0.0.1:" + std::to_string(port_) +
                 "/dispatcher/ " + args);
  }

  std::string dir_;
  int port_ = 0;
  int monitor_port_ = 0;
};

TEST_F(VantaCommandTest, NegotiatesWithTheDispatcherAndReportsToItsMonitor) {
  std::ofstream(dir_ + "/service.json") << R"({"ipv4": "192.0.2.7", "ipv6": "2001:db8::1",
    "control_port": 1111, "video_port": 2222, "audio_port": 3333, "input_port": 4444,
    "key1": "k/1", "key2": "k2", "config": {"version": 1, "audio": [{"level": 0, "bitrate": 96}],
    "video": [{"level": 1, "fps": 60, "resolutionRatio": 100, "bitrateRatio": 90},
              {"level": 0, "fps": 30, "resolutionRatio": 50, "bitrateRatio": 40}]}})";
  // An option overrides the file.
  ASSERT_TRUE(StartDispatcher("--service-file service.json --ipv6 2001:db8::9"));
  ASSERT_EQ(Negotiate("--request-token-first --gameid g --env os=linux"), 0) << Read("err");
  EXPECT_NE(Read("err").find("state 4 COMPLETE"), std::string::npos) << Read("err");
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

  EXPECT_EQ(StopDispatcher(SIGTERM), 0) << "a signal should stop the dispatcher cleanly";
  EXPECT_NE(Read("log").find("\"env\":{\"os\":\"linux\"}"), std::string::npos)
      << "the log should show the game service request as it arrived:\n"
      << Read("log");
}

TEST_F(VantaCommandTest, RefusalsEndTheNegotiationWithTheMappedCode) {
  const std::pair<std::string, std::string> rows[] = {
      {"--refuse request_accesstoken=10", "0xAC40C811 WS_ERROR_SERVER_RESULT_10"},
      {"", "0xAC40C810 WS_ERROR_SERVER_RESULT_2_5_6_7"},  // the token was not issued here
  };
  for (const auto& [dispatcher_args, expected] : rows) {
    ASSERT_TRUE(StartDispatcher(dispatcher_args));
    EXPECT_EQ(Negotiate("--token made-up"), 1) << Read("err");
    EXPECT_EQ(Read("out"), "") << "no service is printed after a failure";
    EXPECT_NE(Read("err").find(expected), std::string::npos) << Read("err");
    EXPECT_EQ(StopDispatcher(SIGINT), 0);
  }
}

// Each subcommand offers every option it should, and explains each one on
// the option's own line.
TEST_F(VantaCommandTest, HelpExplainsEveryOptionOnItsLine) {
  const std::pair<std::string, std::string> rows[] = {
      {"negotiate",
       " --client-version --token --arbiter-base --video-profile --audio-profile --gameid"
       " --request-token-first --zuc-key-value --io-mouse --io-touch --io-keyboard --io-sensor"
       " --io-gamepad --yuv-itu-r-bt --env"},
      {"monitor-put",
       " --slotid --capture-down-time --heartbeat-down-time --handling-down-time --client-delay"
       " --remote-ip --remote-port --uri --scheme --host --port --path"},
      {"device-id", ""},
      {"dispatcher",
       " --port --path --monitor-port --monitor-path --ready-file --service-file --ipv4 --ipv6"
       " --key1 --key2 --control-port --video-port --audio-port --input-port --no-config --issue"
       " --refuse --http-status --delay --fault-count"},
  };
  for (const auto& [subcommand, options] : rows) {
    ASSERT_EQ(Shell(kVanta + " " + subcommand + " --help"), 0) << subcommand;
    std::string explained;
    std::istringstream lines(Read("out"));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("  -", 0) != 0) continue;
      // An option line: names and type, two or more blanks, the explanation.
      const size_t gap = line.find("  ", 2);
      EXPECT_NE(line.find_first_not_of(' ', gap), std::string::npos)
          << subcommand << ": option without an explanation on its line: " << line;
      const size_t name = line.find("--");
      if (name < gap) explained += " " + line.substr(name, line.find_first_of(" ,", name) - name);
    }
    EXPECT_EQ(explained, " --help" + options);
  }
}

}  // namespace
}  // namespace vanta
