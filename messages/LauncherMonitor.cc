#include "messages/LauncherMonitor.h"

#include <cstdint>

#include "messages/Kept.h"

namespace vanta {

namespace {

// Signed decimal text: no fill, no "+", "-" for negative values.
std::string Decimal(int value) { return std::to_string(static_cast<int64_t>(value)); }

struct MonitorAnswer : json::KeptObject {
  MonitorAnswer() { Keep("status", status); }
  json::Kept status;
};

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
  MonitorAnswer answer;
  if (!json::ParseKept(response, answer) || !answer.is_object()) return Verdict::Malformed();
  return answer.status.is_string() && answer.status.Equals("ok") ? Verdict::Accepted()
                                                                 : Verdict::Malformed();
}

}  // namespace vanta
