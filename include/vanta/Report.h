// What a program can learn about an exchange and about the steps of a
// negotiation, as plain values: the stable counterpart of the trace.
// Texts that came from a peer are printable (control characters and bytes
// that are not UTF-8 written as \xNN); keys and tokens never appear whole.
#ifndef VANTA_REPORT_H_
#define VANTA_REPORT_H_

#include <string>

#include "vanta/ErrorCode.h"
#include "vanta/Export.h"

namespace vanta {

// One HTTP exchange, as WebService::GetLastExchange tells it.
struct ExchangeReport {
  std::string method;           // "POST" or "GET"; empty when no exchange was attempted
  std::string address;          // the address asked, without its query string
  long http_status = 0;         // 0 when no answer came
  std::string transport_error;  // libcurl's error text; empty when the transfer worked
  ErrorCode code;               // the operation's result
  std::string server_result;    // the answer's "result" (or status) as text, for a refusal
  std::string server_message;   // the answer's "message", at most 200 bytes
  std::string answer_excerpt;   // the answer's first 64 bytes, when it could not be read
  long long bytes_sent = 0;
  long long bytes_received = 0;
  long elapsed_ms = 0;
};

// One step of a negotiation that ran, as WebServiceAccessor::GetRunReport
// lists them in the order they ran.
struct StepReport {
  struct Step {
    enum type {
      INITIALIZE,    // the web service's set-up (release check)
      TOKEN,         // request_token
      ACCESS_TOKEN,  // request_accesstoken
      GAME_SERVICE,  // request_gameservice
      DEVICE_ID,     // building the device identifier
      REGISTRATION,  // registering it with the web API
      KEY_FILE,      // writing the key file
    };
  };
  Step::type step = Step::INITIALIZE;
  int attempts = 0;     // requests made; 0 for steps without one
  ErrorCode code;       // the step's outcome
  std::string detail;   // why a step without an exchange failed (device identifier, key file)
  ExchangeReport last;  // the step's last exchange (empty for steps without one)
};

// Where a run is, as WebServiceAccessor::GetProgress tells it while it
// runs: the stable way to show a step's attempts as they happen.
struct StepProgress {
  StepReport::Step::type step = StepReport::Step::INITIALIZE;
  // The step's request being made, 1 to 3, and still after it while the
  // retry rule waits for the next; 0 for steps without a request.
  int attempt = 0;
};

// "initialize", "token", "access token", "game service", "device
// identifier", "registration", "key file"; "unknown" for other values.
VANTA_EXPORT const char* StepName(StepReport::Step::type step);

}  // namespace vanta

#endif  // VANTA_REPORT_H_
