// The message work written the way a typical C++ program would write it with
// nlohmann/json: a json object filled by key and dumped, and an answer
// parsed whole and read with at()/get<>() under one try block. The checks
// match the library's (kinds, status, level coverage, value ranges), so the
// comparison is of the same work.
#ifndef VANTA_BENCH_NLOHMANN_MESSAGES_H_
#define VANTA_BENCH_NLOHMANN_MESSAGES_H_

#include <string>

#include "bench/Texts.h"
#include "vanta/WebService.h"

namespace vanta {
namespace bench {
namespace nl {

std::string TokenBody(const NegotiationArgs& args);
std::string AccesstokenBody(const NegotiationArgs& args, const std::string& token,
                            const std::string& zuc_key_value);
std::string GameserviceBody(const NegotiationArgs& args, const std::string& access_token);
std::string DeviceIdBody(const DeviceIdArgs& args);

// Connection data of a game service answer.
struct Gameservice {
  std::string ipv4;
  std::string ipv6;
  int control_port = 0;
  int video_port = 0;
  int audio_port = 0;
  int input_port = 0;
  std::string key1;
  std::string key2;
  WebService::QualityParams quality{};
};

// Each returns true when the answer is a valid "ok" answer and fills its
// outputs; false for anything else.
bool ParseToken(const std::string& text, std::string& token, std::string& zuc_key_value);
bool ParseAccesstoken(const std::string& text, std::string& access_token);
bool ParseGameservice(const std::string& text, Gameservice& out);
bool ParseMonitor(const std::string& text);
// A registration answer: a "status" and a "message"; status receives a
// non-zero status. True for status 0.
bool ParseDeviceId(const std::string& text, int& status);

}  // namespace nl
}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_NLOHMANN_MESSAGES_H_
