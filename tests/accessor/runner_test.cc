// The negotiation runner: the device identifier, the retry rule, and whole
// negotiations of an accessor against a local peer that stands in for the
// dispatcher and the web API.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "accessor/DeviceId.h"
#include "accessor/Retry.h"
#include "tests/accessor/RunnerFixture.h"

namespace vanta {
namespace {

using testing::Answer;
using testing::kAccessPath;
using testing::kAllOk;
using testing::kGamePath;
using testing::kRegisterPath;
using testing::Reply;
using Status = AdapterAddress::Status;
using Failure = DeviceIdFailure;

using AccessorTest = testing::RunnerTest;

// One accessor runs twice: Initialize clears what the first run negotiated.
TEST_F(AccessorTest, CompleteRunsWithAndWithoutAFreshToken) {
  WebServiceAccessor accessor;
  EXPECT_EQ(
      (std::vector<int>{accessor.GetClientVersion(), accessor.GetVideoProfile(),
                        accessor.GetAudioProfile(), accessor.GetIoMouse(), accessor.GetIoTouch(),
                        accessor.GetIoKeyboard(), accessor.GetIoSensor(), accessor.GetIoGamepad(),
                        accessor.GetYuvItuRBt(), accessor.GetState()}),
      (std::vector<int>{0, 0, 2, 1, 1, 1, 0, 1, 709, 0}))
      << "the defaults of a fresh accessor";
  for (bool token_first : {true, false}) {
    NewPeer();
    const std::string key = token_first ? "K1" : "k0";
    Prepare(accessor, token_first);
    // Initialize has cleared what the first run negotiated, but for the
    // video level count and the levels' entries.
    const WebService::QualityParams& quality = accessor.GetQualityParams();
    EXPECT_EQ(accessor.GetIpv4() + accessor.GetKey1() + accessor.GetAccessToken(), "");
    EXPECT_EQ(std::vector<int>({quality.version, quality.audio_level_count,
                                quality.video_level_count, quality.audio_bitrate[0]}),
              std::vector<int>({0, 0, token_first ? 0 : 1, token_first ? 0 : 96}));
    ASSERT_EQ(accessor.Start(), WS_SUCCESS);
    accessor.Join(nullptr);
    EXPECT_EQ(Sent(kAccessPath, "token"), std::vector<std::string>{token_first ? "T1" : "t0"});
    EXPECT_EQ(Sent(kGamePath, "access_token"), std::vector<std::string>{"A1"});
    EXPECT_EQ(peer_->RequestsTo(kRegisterPath).at(0).body,
              R"({"client_version":"1.1.0","device_id":")" + ExpectedDeviceId() +
                  R"(","request_type":"0","zu_key_value":")" + key + "\"}");
    EXPECT_EQ(ReadTemp("key.tmp"), key);
    EXPECT_EQ(
        accessor.GetAccessToken() + accessor.GetZucKeyValue() + accessor.GetIpv4() +
            accessor.GetIpv6() + accessor.GetKey1() + accessor.GetKey2() +
            std::to_string(accessor.GetControlPort() + accessor.GetVideoPort() * 100 +
                           accessor.GetAudioPort() * 10000 + accessor.GetInputPort() * 1000000),
        "A1" + key + "10.1.2.3fe80::1k-1k-214131211");
    EXPECT_EQ(std::vector<int>({quality.version, quality.audio_level_count,
                                quality.video_level_count, quality.video[0].fps}),
              std::vector<int>({1, 1, 1, 30}));
  }
}

// The registration on demand, by an accessor that never starts, sends the
// first line of the key file (a 128-byte line read) as it is.
TEST_F(AccessorTest, CreateAndSendDeviceIdSendsTheKeyFileAsItIs) {
  const std::string long_key(130, 'k');
  struct Row {
    std::optional<std::string> key_file;
    bool identifier;  // whether it can be built
    Answer answer;
    std::vector<std::string> keys_sent;
  };
  const Row rows[] = {
      {std::nullopt, true, kAllOk[3].second, {}},
      {"KEY\nrest", true, kAllOk[3].second, {"KEY\n"}},
      {long_key, true, Reply("", 500), {3, long_key.substr(0, 127)}},
      {"K", false, kAllOk[3].second, {}},
  };
  for (const auto& [key_file, identifier, answer, keys_sent] : rows) {
    NewPeer().SetAnswer(kRegisterPath, answer);
    std::filesystem::remove(TempPath("key.tmp"));
    if (key_file) WriteTemp("key.tmp", *key_file);
    env_.adapter->status = identifier ? Status::kOk : Status::kUnreadable;
    {
      WebServiceAccessor accessor;
      Prepare(accessor, false);
      accessor.CreateAndSendDeviceId();
    }  // destroyed at once, with no run to end
    EXPECT_EQ(Sent(kRegisterPath, "zu_key_value"), keys_sent);
    EXPECT_EQ(Sent(kRegisterPath, "device_id"),
              std::vector<std::string>(keys_sent.size(), ExpectedDeviceId()));
    EXPECT_EQ(Sent(kRegisterPath, "request_type"), std::vector<std::string>(keys_sent.size(), "1"));
    EXPECT_EQ(env_.Sleeps().size(), keys_sent.empty() ? 0 : keys_sent.size() - 1);
    EXPECT_TRUE(trace_.With("state ").empty() && trace_.With("negotiation ended").empty());
  }
}

// The one test that waits for the real 2 s and 3 s.
TEST(RetrySlowTest, RealWaitsBetweenAttempts) {
  std::vector<std::chrono::steady_clock::time_point> times;
  StepOutcome outcome = RunStep(
      "step",
      [&](int try_count) {
        times.push_back(std::chrono::steady_clock::now());
        return try_count == 3 ? WS_ERROR_TIMED_OUT : WS_ERROR_CONNECT_FAILED;
      },
      [] { return false; }, nullptr);
  EXPECT_EQ(outcome.code, WS_ERROR_TIMED_OUT);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(2000));
  EXPECT_GE(times[2] - times[1], std::chrono::milliseconds(3000));
}

TEST_F(AccessorTest, DeviceIdBuildsFromTheUuidFileAndTheFirstAdapter) {
  // 100 header characters: the 127-byte line read stops inside them, and
  // the kept bytes are header characters 64 to 99.
  std::string header;
  for (int i = 0; i < 100; ++i) header += static_cast<char>('A' + i % 26);
  const std::string uuid = kUuid;
  const std::string normal = "\xFF\xFE" + testing::Utf16("UUID  \r\n" + uuid);
  struct Row {
    std::optional<std::string> uuid_file;
    int address_length;  // of the first adapter
    Status adapters;
    const char* before;  // the text in the buffer
    int size;            // of the buffer
    Failure failure;     // kNone: built
    std::string after;   // the text in the buffer
  };
  const Row rows[] = {
      {normal, 8, Status::kOk, "", 64, Failure::kNone, ExpectedDeviceId()},  // cut to 17
      {normal, 0, Status::kOk, "", 55, Failure::kNone, uuid + "-"},
      {normal, 2, Status::kOk, "", 55, Failure::kNone, uuid + "-00-1A"},
      {normal, 6, Status::kOk, "abcd", 4, Failure::kNone, "abcd"},  // no room left
      {normal, 6, Status::kOk, "ab", 12, Failure::kNone, "ab4C4C4544-"},
      {testing::Utf16(header + "\r\n" + uuid), 6, Status::kOk, "", 55, Failure::kNone,
       header.substr(64, 36) + "-" + kAddress},
      {testing::Utf16("UUID\r\n" + uuid.substr(0, 35)), 2, Status::kOk, "", 55,
       Failure::kUuidIncomplete, ""},
      // A query that writes nothing leaves the UUID file empty, not absent.
      {std::nullopt, 6, Status::kOk, "x", 55, Failure::kUuidIncomplete, "x"},
      {normal, 6, Status::kUnreadable, "x", 55, Failure::kAdapterListUnreadable, "x"},
  };
  for (const Row& row : rows) {
    std::filesystem::remove(TempPath("uuid-bytes"));
    if (row.uuid_file) WriteTemp("uuid-bytes", *row.uuid_file);
    env_.adapter->status = row.adapters;
    env_.adapter->length = row.address_length;
    env_.adapter->bytes[6] = 0x6F;
    env_.adapter->bytes[7] = 0x7F;
    char buffer[64] = {};
    std::strcpy(buffer, row.before);
    Failure failure = Failure::kQueryAborted;
    EXPECT_EQ(CreateDeviceIdText(buffer, row.size, nullptr, &failure),
              row.failure == Failure::kNone)
        << row.after;
    EXPECT_EQ(failure, row.failure) << row.after;
    EXPECT_EQ(std::string(buffer), row.after);
  }
  EXPECT_EQ(ReadTemp("arguments"), "/C|wmic|csproduct|get|uuid|>|" + TempPath("id.tmp") + "|");
}

}  // namespace
}  // namespace vanta
