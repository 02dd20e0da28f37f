// What the C interface's handles hold: the C++ object each stands for, and
// the strings that the handle owns for its caller.
#ifndef VANTA_CAPI_HANDLES_H_
#define VANTA_CAPI_HANDLES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/NoThrow.h"
#include "vanta/WebService.h"
#include "vanta/WebServiceAccessor.h"
#include "vanta/vanta.h"

struct vanta_accessor {
  vanta::WebServiceAccessor accessor;
  vanta_state_handler state_handler = nullptr;
  void* state_context = nullptr;
  // The last run's report, copied once after the run ended; report_step
  // hands out its strings until the next initialize.
  std::vector<vanta::StepReport> report;
  bool report_taken = false;
};

struct vanta_web_service {
  vanta::WebService service;
  // What each function last handed out; replaced only by the same function.
  std::string token, zuc_key_value;                       // request_token
  std::string access_token;                               // request_access_token
  std::string ipv4, ipv6, key1, key2, sent_access_token;  // request_game_service
  vanta::ExchangeReport last;                             // last_exchange
};

namespace vanta {
namespace capi {

// The sizes of the structs' first release, the least a caller may declare.
// A struct that grows keeps its first size here: the offset of its first
// appended member.
constexpr size_t kConfigSize = sizeof(vanta_config);
constexpr size_t kServiceSize = sizeof(vanta_service);
constexpr size_t kExchangeSize = sizeof(vanta_exchange_report);
constexpr size_t kStepSize = sizeof(vanta_step_report);
constexpr size_t kGameServiceRequestSize = sizeof(vanta_game_service_request);

// True when p is not null and its caller declared at least first bytes.
template <typename T>
bool Sized(const T* p, size_t first) {
  return p != nullptr && p->size >= first;
}

// f() as a plain code, with no exception leaving.
template <typename F>
uint32_t Guarded(F&& f) {
  return NoThrow(f).GetValue();
}

// A new handle, or null when there is no memory for it.
template <typename Handle>
Handle* New() {
  Handle* handle = nullptr;
  Guarded([&] {
    handle = new Handle;
    return ErrorCode(WS_SUCCESS);
  });
  return handle;
}

// Writes a report's members into out (its size stays as the caller set it).
// The strings stay those of from.
void FillExchange(const ExchangeReport& from, vanta_exchange_report* out);

// Writes a game service into out. The strings stay those given.
struct ServiceText {
  const std::string& ipv4;
  const std::string& ipv6;
  const std::string& key1;
  const std::string& key2;
  const std::string& token;
  const std::string& zuc_key_value;
  const std::string& access_token;
};
void FillService(const ServiceText& text, const int ports[4],
                 const WebService::QualityParams& quality, vanta_service* out);

}  // namespace capi
}  // namespace vanta

#endif  // VANTA_CAPI_HANDLES_H_
