#include "messages/LauncherMonitor.h"

#include <cstdint>

namespace vanta {

namespace {

// Signed decimal text: no fill, no "+", "-" for negative values.
std::string Decimal(int value) { return std::to_string(static_cast<int64_t>(value)); }

}  // namespace

std::string LauncherMonitorQuery(int slotid, int capture_down_time, int heartbeat_down_time,
                                 int handling_down_time, int client_delay,
                                 const std::string& remote_ip, int remote_port) {
  return "slotid=" + Decimal(slotid) + "&capture_down_time=" + Decimal(capture_down_time) +
         "&heartbeat_down_time=" + Decimal(heartbeat_down_time) +
         "&handling_down_time=" + Decimal(handling_down_time) +
         "&client_delay=" + Decimal(client_delay) +
         "&remote_ip=" + (remote_ip.empty() ? std::string("none") : remote_ip) +
         "&remote_port=" + Decimal(remote_port);
}

Verdict ParseLauncherMonitorResponse(const std::string& response) {
  picojson::value root;
  if (!json::ParseObject(response, root)) return Verdict::Malformed();
  const std::string* status = json::Find<std::string>(root.get<picojson::object>(), "status");
  return status != nullptr && *status == "ok" ? Verdict::Accepted() : Verdict::Malformed();
}

}  // namespace vanta
