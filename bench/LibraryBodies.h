// The library's own request body builders, called with the benchmark's
// arguments, so that the body cost can be timed without a transport.
// bench_test checks that they give the bytes the library really sends.
#ifndef VANTA_BENCH_LIBRARY_BODIES_H_
#define VANTA_BENCH_LIBRARY_BODIES_H_

#include <string>

#include "bench/Texts.h"

namespace vanta {
namespace bench {

std::string LibraryTokenBody(const NegotiationArgs& args);
std::string LibraryAccesstokenBody(const NegotiationArgs& args, const std::string& token,
                                   const std::string& zuc_key_value);
std::string LibraryGameserviceBody(const NegotiationArgs& args, const std::string& access_token);
std::string LibraryDeviceIdBody(const DeviceIdArgs& args);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_LIBRARY_BODIES_H_
