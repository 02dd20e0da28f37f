// Faults that the reference dispatcher injects into its answers, so that
// demonstrations and tests can see how the library meets a refusal, an HTTP
// error or a slow server.
#ifndef VANTA_DISPATCHER_FAULT_PLAN_H_
#define VANTA_DISPATCHER_FAULT_PLAN_H_

#include <map>
#include <mutex>
#include <string>
#include <vector>
#include "platform/Mutex.h"

namespace vanta {
namespace dispatcher {

struct Fault {
  bool refuse = false;  // answer {"status":"ng","result":refuse_result,...}
  int refuse_result = 0;
  int http_status = 0;  // answer with this HTTP status instead (0: no)
  int delay_ms = 0;     // wait this long before answering
};

enum class FaultKind { kRefuse, kHttpStatus, kDelay };

// One fault as the options give it: answer action with a refusal of this
// result, with this HTTP status, or after a delay of this many ms.
struct FaultEntry {
  FaultKind kind;
  std::string action;
  int number;
};

// Thread-safe: the servers' threads call Take concurrently.
class FaultPlan {
 public:
  // actions: the names that entries may use.
  explicit FaultPlan(std::vector<std::string> actions);

  // Adds one entry. On a bad entry (an unknown action, an HTTP status
  // outside 400 to 599, a delay outside 0 to 600000 ms) returns false and
  // sets *error to one line saying why.
  bool Add(const FaultEntry& entry, std::string* error);
  // The faults hit only the first count requests of each action; 0 (the
  // default) means every request.
  void SetCount(int count);

  // The fault for the next request of action; an empty Fault when none
  // applies (any more).
  Fault Take(const std::string& action);

 private:
  std::vector<std::string> actions_;
  Mutex mu_;
  std::map<std::string, Fault> faults_ VANTA_GUARDED_BY(mu_);
  std::map<std::string, int> taken_ VANTA_GUARDED_BY(mu_);
  int count_ VANTA_GUARDED_BY(mu_) = 0;
};

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_FAULT_PLAN_H_
