// One negotiation through each of the library's two interfaces, for the
// benchmark row that sets the C interface beside the C++ one.
#ifndef VANTA_BENCH_C_API_H_
#define VANTA_BENCH_C_API_H_

namespace vanta {
namespace bench {

// One whole negotiation against the dispatcher at base, without the device
// identifier and its registration (the key file is written to TEMP): through
// WebServiceAccessor, and through the C functions of vanta.h with the same
// configuration. True when it completed.
bool NegotiateThroughCxx(const char* base);
bool NegotiateThroughC(const char* base);

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_C_API_H_
