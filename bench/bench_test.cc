// Checks that each comparison of the benchmarks is fair: the baselines send
// the same bytes as the library, the nlohmann/json way accepts and rejects
// what the library does, and the allocation counter charges only the
// counting thread.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "bench/AllocCounter.h"
#include "bench/Exchanges.h"
#include "bench/LibraryBodies.h"
#include "bench/Memory.h"
#include "bench/NlohmannMessages.h"
#include "bench/Peer.h"
#include "bench/Texts.h"
#include "messages/Gameservice.h"

namespace vanta {
namespace bench {
namespace {

using testing::RecordedRequest;

std::string Header(const RecordedRequest& r, const std::string& name) {
  auto it = r.headers.find(name);
  return it == r.headers.end() ? "(none)" : it->second;
}

TEST(BaselineTest, LibraryAndRawCurlSendTheSameRequests) {
  BenchPeer peer;
  WebService ws;
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  ws.SetUrlArbiterBase(peer->Url(kDispatcherBase));
  ASSERT_TRUE(LibraryNegotiation(ws));
  ASSERT_TRUE(RawNegotiation(peer->Url(kDispatcherBase)));

  const NegotiationArgs& a = Args();
  const struct {
    const char* path;
    const std::string& body;
    std::string library_body;
    std::string nlohmann_body;
  } rows[] = {
      {kTokenPath, TokenBody(), LibraryTokenBody(a), nl::TokenBody(a)},
      {kAccesstokenPath, AccesstokenBody(), LibraryAccesstokenBody(a, Token(), ZucKeyValue()),
       nl::AccesstokenBody(a, Token(), ZucKeyValue())},
      {kGameservicePath, GameserviceBody(), LibraryGameserviceBody(a, AccessToken()),
       nl::GameserviceBody(a, AccessToken())},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    std::vector<RecordedRequest> got = peer->RequestsTo(row.path);
    ASSERT_EQ(got.size(), 2u);
    const RecordedRequest& library = got[0];
    const RecordedRequest& raw = got[1];
    EXPECT_EQ(library.body, row.body);
    EXPECT_EQ(raw.body, row.body);
    EXPECT_EQ(row.library_body, row.body);
    EXPECT_EQ(row.nlohmann_body, row.body);
    EXPECT_EQ(raw.method, library.method);
    for (const char* name : {"Accept", "Content-Type", "User-Agent", "Connection"}) {
      EXPECT_EQ(Header(raw, name), Header(library, name)) << name;
    }
  }
}

TEST(BaselineTest, DeviceIdBodiesMatchTheText) {
  EXPECT_EQ(LibraryDeviceIdBody(DeviceId()), DeviceIdBody());
  EXPECT_EQ(nl::DeviceIdBody(DeviceId()), DeviceIdBody());
}

TEST(BaselineTest, MonitorReportsReuseOneConnectionOnlyWhenKeptAlive) {
  BenchPeer peer;
  const std::string url = peer->Url(kMonitorPath);
  WebService ws;
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  ws.SetUriRequestLauncherMonitorPut(url);
  RawKeepAlive connection;
  const struct {
    const char* name;
    std::function<bool()> report;
    bool same_connection;
  } rows[] = {
      {"library", [&] { return LibraryMonitorReport(ws); }, true},
      {"raw kept alive", [&] { return RawMonitorReport(connection, url); }, true},
      {"raw fresh", [&] { return RawFreshMonitorReport(url); }, false},
  };
  size_t seen = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(row.report());
    std::vector<RecordedRequest> got = peer->RequestsTo(kMonitorPath);
    ASSERT_EQ(got.size(), seen + 3);
    for (size_t i = seen; i < got.size(); ++i) {
      EXPECT_EQ(got[i].query, MonitorQuery());
      EXPECT_EQ(Header(got[i], "Connection"), "Keep-Alive");
      EXPECT_EQ(Header(got[i], "User-Agent"), Header(got[seen], "User-Agent"));
    }
    EXPECT_EQ(got[seen].client_port == got[seen + 1].client_port, row.same_connection);
    EXPECT_EQ(got[seen + 1].client_port == got[seen + 2].client_port, row.same_connection);
    seen = got.size();
  }
}

// The game service answer with one piece replaced.
std::string Broken(const std::string& from, const std::string& to) {
  std::string text = GameserviceAnswer();
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(BaselineTest, NlohmannGameserviceParseChecksWhatTheLibraryChecks) {
  const struct {
    const char* what;
    std::string text;
    bool valid;
  } rows[] = {
      {"full answer", GameserviceAnswer(), true},
      {"status not ok", Broken("\"status\":\"ok\"", "\"status\":\"ng\""), false},
      {"port as text", Broken("\"control_port\":9000", "\"control_port\":\"9000\""), false},
      {"no gameid", Broken("\"gameid\":", "\"gamei\":"), false},
      {"level twice", Broken("{\"level\":6,\"bitrate\"", "{\"level\":7,\"bitrate\""), false},
      {"bitrate 0", Broken("\"bitrate\":32}", "\"bitrate\":0}"), false},
      {"fps 61", Broken("\"fps\":60", "\"fps\":61"), false},
      {"version 2", Broken("\"version\":1", "\"version\":2"), false},
      {"not JSON", "{\"status\":", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::string ipv4, ipv6, key1, key2;
    int control = 0, video = 0, audio = 0, input = 0;
    WebService::QualityParams quality{};
    const bool library = ParseGameserviceResponse(row.text, ipv4, ipv6, control, video, audio,
                                                  input, key1, key2, quality) == WS_SUCCESS;
    nl::Gameservice g;
    EXPECT_EQ(library, row.valid);
    EXPECT_EQ(nl::ParseGameservice(row.text, g), row.valid);
    if (!row.valid) continue;
    EXPECT_EQ(g.ipv4, ipv4);
    EXPECT_EQ(g.key2, key2);
    EXPECT_EQ(g.input_port, input);
    EXPECT_EQ(g.quality.audio_level_count, 8);
    EXPECT_EQ(0, std::memcmp(&g.quality, &quality, sizeof(quality)));
  }
}

TEST(AllocCounterTest, CountsOnlyTheCountingThread) {
  StartCounting();
  std::thread other([] {
    for (int i = 0; i < 100; ++i) delete new std::string(64, 'x');
  });
  other.join();
  std::vector<std::unique_ptr<int>> mine;
  for (int i = 0; i < 10; ++i) mine.push_back(std::make_unique<int>(i));
  std::string response;
  const bool posted = RawPost("http://127.0.0.1:1/", "{}", response);
  AllocCounts counts = StopCounting();
  EXPECT_FALSE(posted);  // nothing listens on port 1
  // The thread object and the vector's growth add a few; the other
  // thread's 100 strings must not be there.
  EXPECT_GE(counts.cxx, 10u);
  EXPECT_LT(counts.cxx, 40u);
  EXPECT_GT(counts.curl, 0u);
  // Nothing is counted once stopped.
  mine.push_back(std::make_unique<int>(0));
  EXPECT_EQ(StopCounting().cxx, counts.cxx);
}

}  // namespace
}  // namespace bench
}  // namespace vanta

int main(int argc, char** argv) {
  // MemoryTest starts this program again as a child of the measurement.
  const int child_status = vanta::bench::RssChildMain(argc, argv);
  if (child_status >= 0) return child_status;
  // libcurl takes its allocator only before its first use.
  if (!vanta::bench::InstallCurlAllocCounter()) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
