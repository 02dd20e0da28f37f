// Message work without the network: the library's request bodies and
// response stages, the picojson floor and the nlohmann/json way.
#include <benchmark/benchmark.h>
#include <picojson.h>

#include <functional>

#include "bench/Benchmarks.h"
#include "bench/LibraryBodies.h"
#include "bench/NlohmannMessages.h"
#include "bench/Paired.h"
#include "bench/Texts.h"
#include "messages/Accesstoken.h"
#include "messages/Gameservice.h"
#include "messages/LauncherMonitor.h"
#include "messages/SendDeviceId.h"
#include "messages/Token.h"

namespace vanta {
namespace bench {

const char kGameserviceParseLibrary[] = "gameservice_answer/library";
const char kGameserviceParseBare[] = "gameservice_answer/picojson_parse_only";

namespace {

using Work = std::function<bool()>;

struct MessageCase {
  const char* name;
  const std::string& text;  // what the floor parses and writes
  Work library;
  Work nlohmann;
};

// Where the parse benchmarks put their outputs.
struct Outputs {
  std::string token, zuc_key_value, access_token;
  std::string ipv4, ipv6, key1, key2;
  int control_port = 0, video_port = 0, audio_port = 0, input_port = 0, status = 0;
  WebService::QualityParams quality{};
  nl::Gameservice gameservice;
};
Outputs out;

bool Keep(std::string text) {
  benchmark::DoNotOptimize(text.data());
  return !text.empty();
}

bool LibraryGameserviceParse() {
  return ParseGameserviceResponse(GameserviceAnswer(), out.ipv4, out.ipv6, out.control_port,
                                  out.video_port, out.audio_port, out.input_port, out.key1,
                                  out.key2, out.quality) == WS_SUCCESS;
}

std::vector<MessageCase> Cases() {
  return {
      {"token_body", TokenBody(), [] { return Keep(LibraryTokenBody(Args())); },
       [] { return Keep(nl::TokenBody(Args())); }},
      {"accesstoken_body", AccesstokenBody(),
       [] { return Keep(LibraryAccesstokenBody(Args(), Token(), ZucKeyValue())); },
       [] { return Keep(nl::AccesstokenBody(Args(), Token(), ZucKeyValue())); }},
      {"gameservice_body", GameserviceBody(),
       [] { return Keep(LibraryGameserviceBody(Args(), AccessToken())); },
       [] { return Keep(nl::GameserviceBody(Args(), AccessToken())); }},
      {"device_id_body", DeviceIdBody(), [] { return Keep(LibraryDeviceIdBody(DeviceId())); },
       [] { return Keep(nl::DeviceIdBody(DeviceId())); }},
      {"token_answer", TokenAnswer(),
       [] { return ParseTokenResponse(TokenAnswer(), out.token, out.zuc_key_value) == WS_SUCCESS; },
       [] { return nl::ParseToken(TokenAnswer(), out.token, out.zuc_key_value); }},
      {"accesstoken_answer", AccesstokenAnswer(),
       [] { return ParseAccesstokenResponse(AccesstokenAnswer(), out.access_token) == WS_SUCCESS; },
       [] { return nl::ParseAccesstoken(AccesstokenAnswer(), out.access_token); }},
      {"gameservice_answer", GameserviceAnswer(), LibraryGameserviceParse,
       [] { return nl::ParseGameservice(GameserviceAnswer(), out.gameservice); }},
      {"monitor_answer", MonitorAnswer(),
       [] { return ParseLauncherMonitorResponse(MonitorAnswer()) == WS_SUCCESS; },
       [] { return nl::ParseMonitor(MonitorAnswer()); }},
      {"device_id_answer", DeviceIdAnswer(),
       [] { return ParseSendDeviceIdResponse(DeviceIdAnswer(), out.status) == WS_SUCCESS; },
       [] { return nl::ParseDeviceId(DeviceIdAnswer(), out.status); }},
  };
}

// Parses text and writes it back: the least that any picojson-based
// message code does with it.
bool PicojsonFloor(const std::string& text) {
  picojson::value value;
  if (!picojson::parse(value, text).empty()) return false;
  return Keep(value.serialize());
}

bool PicojsonParseOnly(const std::string& text) {
  picojson::value value;
  return picojson::parse(value, text).empty();
}

// Calls per side and round: long enough that the clock's own cost is lost
// in it, short enough that the sides alternate many times.
constexpr int kBatch = 50;

}  // namespace

std::vector<std::string> RegisterMessageBenchmarks() {
  std::vector<std::string> names;
  for (const MessageCase& c : Cases()) {
    const std::string& text = c.text;
    std::vector<Side> sides = {{"library", c.library},
                               {"picojson", [&text] { return PicojsonFloor(text); }},
                               {"nlohmann", c.nlohmann}};
    if (&text == &GameserviceAnswer()) {
      sides.push_back({"picojson_parse_only", [&text] { return PicojsonParseOnly(text); }});
    }
    benchmark::RegisterBenchmark(c.name, [sides](benchmark::State& state) {
      RunPaired(state, sides, kBatch);
    })->Unit(benchmark::kMicrosecond);
    names.push_back(c.name);
  }
  return names;
}

}  // namespace bench
}  // namespace vanta
