#include "platform/Adapters.h"

#include <cstring>

namespace vanta {

AdapterAddress FirstAdapter(const std::vector<AdapterFacts>& adapters) {
  const AdapterFacts* first = nullptr;
  for (const AdapterFacts& adapter : adapters) {
    if (adapter.loopback || adapter.address.empty()) continue;
    if (first == nullptr || adapter.index < first->index) first = &adapter;
  }
  AdapterAddress chosen;
  if (first == nullptr) return chosen;
  chosen.status = AdapterAddress::Status::kOk;
  chosen.length = static_cast<int>(
      first->address.size() < sizeof(chosen.bytes) ? first->address.size() : sizeof(chosen.bytes));
  std::memcpy(chosen.bytes, first->address.data(), static_cast<size_t>(chosen.length));
  return chosen;
}

}  // namespace vanta
