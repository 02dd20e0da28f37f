// The well-known addresses of the reference dispatcher and launcher
// monitor: where `vanta dispatcher` listens by default and where the other
// subcommands look for it. Written here only.
#ifndef VANTA_DISPATCHER_ADDRESSES_H_
#define VANTA_DISPATCHER_ADDRESSES_H_

namespace vanta {

constexpr char kLoopbackHost[] = "127.0.0.1";
constexpr char kLoopbackHostIpv6[] = "::1";
constexpr int kDispatcherPort = 8081;
constexpr char kDispatcherPath[] = "/dispatcher/";
constexpr int kMonitorPort = 7999;
constexpr char kMonitorPath[] = "/monitor/put";

}  // namespace vanta

#endif  // VANTA_DISPATCHER_ADDRESSES_H_
