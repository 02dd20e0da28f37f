// The request bodies as the library's request stages build and write them
// (a picojson object filled member by member, written by json::Write). The
// request stages do this inside their send path; these functions run the
// same steps without a transport so that the body cost can be timed alone.
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
