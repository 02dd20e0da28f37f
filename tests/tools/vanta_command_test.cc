// The vanta command as a user runs it: separate processes talking over
// 127.0.0.1 on ports that the dispatcher picks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <picojson.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vanta {
namespace {

using std::chrono::milliseconds;

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// `env NAME=VALUE... vanta args...` as a child process; its output goes to
// files named after it in dir.
class Child {
 public:
  Child(const std::string& dir, const std::vector<std::string>& args,
        const std::vector<std::string>& env = {}) {
    static int count = 0;
    out_ = dir + "/child" + std::to_string(++count);
    std::vector<std::string> argv = {"/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(VANTA_TOOL_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (out_ + ".out").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (out_ + ".err").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() { Wait(SIGKILL); }

  // Sends signal_number (0: none) and waits at most 60 s, then kills the
  // child. The exit status, or -1 unless the child exited by itself.
  int Wait(int signal_number = 0) {
    if (pid_ <= 0) return -1;
    if (signal_number != 0) kill(pid_, signal_number);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 6000 && (done = waitpid(pid_, &status, WNOHANG)) == 0; ++i) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    if (done == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Out() const { return ReadFile(out_ + ".out"); }
  std::string Err() const { return ReadFile(out_ + ".err"); }

 private:
  pid_t pid_ = -1;
  std::string out_;
};

class VantaCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path().string() + "/vanta-tools-XXXXXX";
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override {
    dispatcher_.reset();
    std::filesystem::remove_all(dir_);
  }

  // Starts `vanta dispatcher` on ephemeral ports; false unless it tells its
  // ports within 10 s.
  bool StartDispatcher(const std::vector<std::string>& args) {
    const std::string ready = dir_ + "/ready" + std::to_string(++dispatchers_);
    std::vector<std::string> all = {"dispatcher", "--port",       "0",  "--monitor-port",
                                    "0",          "--ready-file", ready};
    all.insert(all.end(), args.begin(), args.end());
    dispatcher_ = std::make_unique<Child>(dir_, all);
    port_ = monitor_port_ = 0;
    for (int i = 0; i < 1000 && monitor_port_ == 0; ++i) {
      std::this_thread::sleep_for(milliseconds(10));
      std::sscanf(ReadFile(ready).c_str(), "dispatcher_port=%d monitor_port=%d", &port_,
                  &monitor_port_);
    }
    return port_ > 0 && monitor_port_ > 0;
  }

  // `vanta negotiate` against the dispatcher. The UUID query names a
  // program that does not exist, so that the device identifier registration
  // and its real waits are skipped; TEMP keeps the key file in dir_.
  struct Run {
    int status;
    std::string out, err;
  };
  Run Negotiate(std::vector<std::string> args) {
    args.insert(args.begin(), {"negotiate", "--arbiter-base",
                               "http://127.0.0.1:" + std::to_string(port_) + "/dispatcher/"});
    Child child(dir_, args, {"ComSpec=" + dir_ + "/none", "TEMP=" + dir_});
    const int status = child.Wait();
    return {status, child.Out(), child.Err()};
  }

  std::string dir_;
  std::unique_ptr<Child> dispatcher_;
  int dispatchers_ = 0;
  int port_ = 0;
  int monitor_port_ = 0;
};

TEST_F(VantaCommandTest, NegotiatesWithTheDispatcherAndReportsToItsMonitor) {
  std::ofstream(dir_ + "/service.json") << R"({
    "ipv4": "192.0.2.7", "ipv6": "2001:db8::1", "control_port": 1111, "video_port": 2222,
    "audio_port": 3333, "input_port": 4444, "key1": "k/1", "key2": "k2",
    "config": {"version": 1,
               "audio": [{"level": 0, "bitrate": 96}],
               "video": [{"level": 1, "fps": 60, "resolutionRatio": 100, "bitrateRatio": 90},
                         {"level": 0, "fps": 30, "resolutionRatio": 50, "bitrateRatio": 40}]}})";
  // An option overrides the file.
  ASSERT_TRUE(StartDispatcher({"--service-file", dir_ + "/service.json", "--ipv6", "2001:db8::9"}));
  const Run run = Negotiate({"--request-token-first", "--gameid", "g", "--env", "os=linux"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("state 4 COMPLETE"), std::string::npos) << run.err;
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
            R"("audio_level_count":1,"version":1,"video":[)"
            R"({"bitrate_ratio":40,"fps":30,"level":0,"resolution_ratio":50},)"
            R"({"bitrate_ratio":90,"fps":60,"level":1,"resolution_ratio":100}],)"
            R"("video_level_count":2},"video_port":2222})");

  Child report(dir_, {"monitor-put", "--port", std::to_string(monitor_port_), "--slotid", "2",
                      "--client-delay", "-1", "--remote-ip", "10.0.0.5"});
  EXPECT_EQ(report.Wait(), 0) << report.Err();
  httplib::Client client("127.0.0.1", monitor_port_);
  httplib::Result reports = client.Get("/reports");
  ASSERT_TRUE(reports);
  EXPECT_EQ(reports->body,
            R"({"reports":[{"capture_down_time":0,"client_delay":-1,"handling_down_time":0,)"
            R"("heartbeat_down_time":0,"remote_ip":"10.0.0.5","remote_port":0,"slotid":2}],)"
            R"("status":"ok"})");

  EXPECT_EQ(dispatcher_->Wait(SIGTERM), 0) << "a signal should stop the dispatcher cleanly";
  EXPECT_NE(dispatcher_->Err().find("\"env\":{\"os\":\"linux\"}"), std::string::npos)
      << "the log should show the game service request as it arrived:\n"
      << dispatcher_->Err();
}

TEST_F(VantaCommandTest, RefusalsEndTheNegotiationWithTheMappedCode) {
  struct Row {
    std::vector<std::string> dispatcher_args, negotiate_args;
    const char* expected;
  } rows[] = {
      {{"--refuse", "request_token=10"},
       {"--request-token-first"},
       "0xAC40C811 WS_ERROR_SERVER_RESULT_10"},
      // A token that the dispatcher did not issue.
      {{},
       {"--token", "made-up", "--zuc-key-value", "k"},
       "0xAC40C810 WS_ERROR_SERVER_RESULT_2_5_6_7"},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(StartDispatcher(row.dispatcher_args));
    const Run run = Negotiate(row.negotiate_args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "") << "no service is printed after a failure";
    EXPECT_NE(run.err.find(row.expected), std::string::npos) << run.err;
    EXPECT_EQ(dispatcher_->Wait(SIGINT), 0);
  }
}

// Each subcommand offers every option it should, and explains each one on
// the option's own line.
TEST_F(VantaCommandTest, HelpExplainsEveryOptionOnItsLine) {
  const std::pair<const char*, std::string> rows[] = {
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
    Child help(dir_, {subcommand, "--help"});
    ASSERT_EQ(help.Wait(), 0) << subcommand;
    std::string explained;
    std::istringstream lines(help.Out());
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("  -", 0) != 0) continue;
      // An option line: the option's names and type, two or more blanks,
      // and the explanation.
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
