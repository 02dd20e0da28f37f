// The launcher monitor report: seven figures in a query string, a JSON
// answer whose "status" must be "ok".
#ifndef VANTA_MESSAGES_LAUNCHER_MONITOR_H_
#define VANTA_MESSAGES_LAUNCHER_MONITOR_H_

#include <string>

#include "messages/Json.h"

namespace vanta {

// The query of one report: the seven parameters in their fixed order,
// integers as plain decimal text, remote_ip unescaped ("none" when empty).
std::string LauncherMonitorQuery(int slotid, int capture_down_time, int heartbeat_down_time,
                                 int handling_down_time, int client_delay,
                                 const std::string& remote_ip, int remote_port);

// Accepted when response is a JSON object whose "status" is the string
// "ok"; anything else is malformed (there is no server status here).
Verdict ParseLauncherMonitorResponse(const std::string& response);

}  // namespace vanta

#endif  // VANTA_MESSAGES_LAUNCHER_MONITOR_H_
