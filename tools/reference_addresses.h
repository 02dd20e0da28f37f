// The well-known addresses of the reference dispatcher and launcher
// monitor on the loopback address: where `vanta dispatcher` listens by
// default and where the other subcommands look for it.
#ifndef VANTA_TOOLS_REFERENCE_ADDRESSES_H_
#define VANTA_TOOLS_REFERENCE_ADDRESSES_H_

namespace vanta {
namespace tools {

constexpr char kLoopbackHost[] = "127.0.0.1";
constexpr int kDispatcherPort = 8081;
constexpr char kDispatcherPath[] = "/dispatcher/";
constexpr int kMonitorPort = 7999;
constexpr char kMonitorPath[] = "/monitor/put";

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_REFERENCE_ADDRESSES_H_
