// The reference dispatcher and launcher monitor as one call: what
// `vanta dispatcher` runs.
#ifndef VANTA_DISPATCHER_DISPATCHER_H_
#define VANTA_DISPATCHER_DISPATCHER_H_

#include <string>
#include <utility>
#include <vector>

#include "dispatcher/Book.h"
#include "dispatcher/FaultPlan.h"
#include "dispatcher/Server.h"

namespace vanta {
namespace dispatcher {

struct Config {
  // The dispatcher path must begin and end with "/", the monitor path
  // begin with "/".
  ServerAddresses addresses;
  // While listening, this file (when named) holds the lines
  // "dispatcher_port=N" and "monitor_port=N"; it is written in one step
  // and removed on stopping.
  std::string ready_file;
  GameService service;
  std::vector<std::pair<std::string, std::string>> issued;  // token, key value
  std::vector<FaultEntry> faults;
  int fault_count = 0;       // see FaultPlan::SetCount
  bool log_requests = true;  // false: no line per request on stderr
};

enum class Outcome {
  kStopped,   // ran until the stop request
  kUnusable,  // the configuration is not usable (a path, a fault, a host)
  kFailed,    // could not listen, start or write the ready file
};

// Listens, prints the addresses on stdout, writes the ready file, logs
// every request on stderr, and serves until the stop request (SIGINT or
// SIGTERM; Ctrl-C, Ctrl-Break or closing the console on Windows). First
// raises the descriptor limit, from which the connection cap follows. On
// kUnusable and kFailed, *error holds one line saying why. Once per
// process: it takes the process's stop request.
Outcome Run(const Config& config, std::string* error);

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_DISPATCHER_H_
