#include "messages/LauncherMonitor.h"

#include <charconv>
#include <string_view>

#include "messages/SelectiveParse.h"

namespace vanta {

namespace {

// Appends key and the signed decimal text of value: no fill, no "+", "-"
// for negative values.
void AppendDecimal(std::string& query, const char* key, int value) {
  char digits[16];
  query += key;
  query.append(digits, std::to_chars(digits, digits + sizeof(digits), value).ptr);
}

struct MonitorAnswer : json::ObjectSlot {
  MonitorAnswer() { Keep("status", status); }
  json::Slot status;
};

}  // namespace

std::string LauncherMonitorQuery(int slotid, int capture_down_time, int heartbeat_down_time,
                                 int handling_down_time, int client_delay,
                                 const std::string& remote_ip, int remote_port) {
  // Built in one string, allocated once.
  std::string query;
  query.reserve(160 + remote_ip.size());
  AppendDecimal(query, "slotid=", slotid);
  AppendDecimal(query, "&capture_down_time=", capture_down_time);
  AppendDecimal(query, "&heartbeat_down_time=", heartbeat_down_time);
  AppendDecimal(query, "&handling_down_time=", handling_down_time);
  AppendDecimal(query, "&client_delay=", client_delay);
  query += "&remote_ip=";
  query += remote_ip.empty() ? std::string_view("none") : std::string_view(remote_ip);
  AppendDecimal(query, "&remote_port=", remote_port);
  return query;
}

Verdict ParseLauncherMonitorResponse(const std::string& response) {
  MonitorAnswer answer;
  if (!json::ParseSelected(response, answer) || !answer.is_object()) return Verdict::Malformed();
  return answer.status.is_string() && answer.status.Equals("ok") ? Verdict::Accepted()
                                                                 : Verdict::Malformed();
}

}  // namespace vanta
