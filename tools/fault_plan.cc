#include "tools/fault_plan.h"

#include <algorithm>
#include <utility>

#include "tools/key_value.h"

namespace vanta {
namespace tools {

FaultPlan::FaultPlan(std::vector<std::string> actions) : actions_(std::move(actions)) {}

bool FaultPlan::Add(FaultKind kind, const std::string& entry, std::string* error) {
  std::string action;
  std::string number_text;
  int number = 0;
  if (!SplitKeyValue(entry, &action, &number_text) || !ParseInt(number_text, &number)) {
    *error = "'" + entry + "' is not ACTION=NUMBER";
    return false;
  }
  if (std::find(actions_.begin(), actions_.end(), action) == actions_.end()) {
    *error = "unknown action '" + action + "'";
    return false;
  }
  if (kind == FaultKind::kHttpStatus && (number < 400 || number > 599)) {
    *error = "HTTP status " + number_text + " is not between 400 and 599";
    return false;
  }
  if (kind == FaultKind::kDelay && (number < 0 || number > 600000)) {
    *error = "delay " + number_text + " ms is not between 0 and 600000";
    return false;
  }
  std::lock_guard<std::mutex> lock(mu_);
  Fault& fault = faults_[action];
  switch (kind) {
    case FaultKind::kRefuse:
      fault.refuse = true;
      fault.refuse_result = number;
      break;
    case FaultKind::kHttpStatus:
      fault.http_status = number;
      break;
    case FaultKind::kDelay:
      fault.delay_ms = number;
      break;
  }
  return true;
}

void FaultPlan::SetCount(int count) {
  std::lock_guard<std::mutex> lock(mu_);
  count_ = count;
}

Fault FaultPlan::Take(const std::string& action) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = faults_.find(action);
  if (it == faults_.end()) return Fault();
  int& taken = taken_[action];
  if (count_ > 0 && taken >= count_) return Fault();
  ++taken;
  return it->second;
}

}  // namespace tools
}  // namespace vanta
