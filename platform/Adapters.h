// The first network adapter: which of the adapters the system lists gives
// the hardware address of the device identifier.
#ifndef VANTA_PLATFORM_ADAPTERS_H_
#define VANTA_PLATFORM_ADAPTERS_H_

#include <string>
#include <vector>

namespace vanta {

// The hardware address of the first network adapter.
struct AdapterAddress {
  enum class Status { kOk, kBufferUnavailable, kUnreadable };
  Status status = Status::kUnreadable;
  int length = 0;  // 0 to 8 bytes
  unsigned char bytes[8] = {};
};

// One adapter as the system lists it.
struct AdapterFacts {
  unsigned long index = 0;  // the system's interface index
  bool loopback = false;
  std::string address;  // the hardware address, one char per byte
};

// The first adapter in interface-index order (list order among equal
// indexes) that is not a loopback adapter and has a hardware address, its
// address cut to 8 bytes; kUnreadable when there is none.
AdapterAddress FirstAdapter(const std::vector<AdapterFacts>& adapters);

}  // namespace vanta

#endif  // VANTA_PLATFORM_ADAPTERS_H_
