// Test seams of the negotiation runner: what a test replaces or watches.
// Not part of the public headers. Install them while no run is going.
#ifndef VANTA_ACCESSOR_TEST_SEAMS_H_
#define VANTA_ACCESSOR_TEST_SEAMS_H_

#include "platform/Platform.h"
#include "vanta/ErrorCode.h"

namespace vanta {

class WebServiceAccessor;

// Sees every state an accessor stores and every code its Run returns, on
// the thread that stores or returns it.
class AccessorObserver {
 public:
  virtual ~AccessorObserver() = default;
  virtual void OnState(const WebServiceAccessor* accessor, int state) = 0;
  virtual void OnRunEnded(const WebServiceAccessor* accessor, ErrorCode result) = 0;
};

// Installs observer (nullptr: none). Returns the previous one.
AccessorObserver* SetAccessorObserverForTesting(AccessorObserver* observer);

// Replaces the adapter list of the device identifier (nullptr: the real
// one). Returns the previous source.
using AdapterSource = platform::AdapterAddress (*)();
AdapterSource SetAdapterSourceForTesting(AdapterSource source);

}  // namespace vanta

#endif  // VANTA_ACCESSOR_TEST_SEAMS_H_
