#include "dispatcher/FaultPlan.h"

#include <algorithm>
#include <utility>

namespace vanta {
namespace dispatcher {

FaultPlan::FaultPlan(std::vector<std::string> actions) : actions_(std::move(actions)) {}

bool FaultPlan::Add(const FaultEntry& entry, std::string* error) {
  const int number = entry.number;
  if (std::find(actions_.begin(), actions_.end(), entry.action) == actions_.end()) {
    *error = "unknown action '" + entry.action + "'";
    return false;
  }
  if (entry.kind == FaultKind::kHttpStatus && (number < 400 || number > 599)) {
    *error = "HTTP status " + std::to_string(number) + " is not between 400 and 599";
    return false;
  }
  if (entry.kind == FaultKind::kDelay && (number < 0 || number > 600000)) {
    *error = "delay " + std::to_string(number) + " ms is not between 0 and 600000";
    return false;
  }
  MutexLock lock(&mu_);
  Fault& fault = faults_[entry.action];
  switch (entry.kind) {
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
  MutexLock lock(&mu_);
  count_ = count;
}

Fault FaultPlan::Take(const std::string& action) {
  MutexLock lock(&mu_);
  auto it = faults_.find(action);
  if (it == faults_.end()) return Fault();
  int& taken = taken_[action];
  if (count_ > 0 && taken >= count_) return Fault();
  ++taken;
  return it->second;
}

}  // namespace dispatcher
}  // namespace vanta
