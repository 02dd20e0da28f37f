// One exchange with the local peer, done by each side of a comparison: the
// library through WebService, and bare libcurl sending the same bytes with
// the same options. Each returns true when the exchange succeeded (and, for
// the library, its answer passed the checks).
#ifndef VANTA_BENCH_EXCHANGES_H_
#define VANTA_BENCH_EXCHANGES_H_

#include <string>

#include "bench/RawCurl.h"
#include "vanta/WebService.h"

namespace vanta {
namespace bench {

enum class Dispatch { kToken, kAccesstoken, kGameservice };

// ws must be initialised and pointed at the peer (SetUrlArbiterBase).
bool LibraryDispatch(WebService& ws, Dispatch which);
// The three dispatcher exchanges in order. The peer hands out the values of
// Texts.h, so each request sends what the previous answer gave.
bool LibraryNegotiation(WebService& ws);

// base is the peer's dispatcher base address ("http://127.0.0.1:<port>/dispatcher/").
bool RawDispatch(const std::string& base, Dispatch which);
bool RawNegotiation(const std::string& base);
// Bare libcurl doing the library's message work too: each body built and
// written as the library does, each answer put through the library's
// response stage. What separates it from LibraryNegotiation is the
// library's own glue (WebService, WebServiceImpl, the transport wrapper).
bool RawNegotiationWithMessages(const std::string& base);

// ws must be initialised and its monitor address set to the peer.
bool LibraryMonitorReport(WebService& ws);
bool RawMonitorReport(RawKeepAlive& connection, const std::string& url);
bool RawFreshMonitorReport(const std::string& url);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_EXCHANGES_H_
