// The requests and answers that every benchmark exchanges: the arguments of
// the three dispatcher requests, the body texts they produce, and the
// largest valid answer of each endpoint (the game service answer carries
// all 8 audio and 8 video levels). One set of data for the library, the
// baselines and the local peer, so that every side does the same work.
#ifndef VANTA_BENCH_TEXTS_H_
#define VANTA_BENCH_TEXTS_H_

#include <string>

#include "vanta/WebService.h"

namespace vanta {
namespace bench {

// Arguments of the three dispatcher requests.
struct NegotiationArgs {
  int client_version = 3;
  std::string gameid = "bench-game-0001";
  int try_count = 0;
  int video_profile = 2;
  int audio_profile = 1;
  int io_mouse = 1;
  int io_touch = 0;
  int io_keyboard = 1;
  int io_sensor = 0;
  int io_gamepad = 1;
  int yuv_itu_r_bt = 709;
  WebService::ClientEnvironmentInfo env;  // three entries, see Args()
};
const NegotiationArgs& Args();

// Values the answers hand out (and the next request sends back).
const std::string& Token();
const std::string& ZucKeyValue();
const std::string& AccessToken();

// Request bodies exactly as the library writes them for Args().
const std::string& TokenBody();
const std::string& AccesstokenBody();
const std::string& GameserviceBody();

// Largest valid answer of each endpoint.
const std::string& TokenAnswer();
const std::string& AccesstokenAnswer();
const std::string& GameserviceAnswer();  // 8 audio + 8 video levels
const std::string& MonitorAnswer();

// The device identifier registration's values, body and answer.
struct DeviceIdArgs {
  std::string zu_key_value = "d41d8cd98f00b204e9800998ecf8427e";
  std::string device_id = "4C4C4544-0042-3510-8052-B4C04F4B4E32-00155D0A1B2C";
  std::string request_type = "0";
  std::string client_version = "1.1.0";
};
const DeviceIdArgs& DeviceId();
const std::string& DeviceIdBody();
const std::string& DeviceIdAnswer();

// A launcher monitor report's figures and its query string.
struct MonitorArgs {
  int slotid = 3;
  int capture_down_time = 10;
  int heartbeat_down_time = 20;
  int handling_down_time = 30;
  int client_delay = 40;
  std::string remote_ip = "192.0.2.5";
  int remote_port = 5000;
};
const MonitorArgs& Monitor();
const std::string& MonitorQuery();

// Paths the local peer serves.
extern const char kTokenPath[];
extern const char kAccesstokenPath[];
extern const char kGameservicePath[];
extern const char kMonitorPath[];
extern const char kDispatcherBase[];  // "/dispatcher/"

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_TEXTS_H_
