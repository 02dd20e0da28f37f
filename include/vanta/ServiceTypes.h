// The plain data of the game service request, as WebService names them
// (WebService::ClientEnvironmentInfo, WebService::QualityParams).
#ifndef VANTA_SERVICE_TYPES_H_
#define VANTA_SERVICE_TYPES_H_

#include <string>
#include <unordered_map>

namespace vanta {

// Free-form environment entries sent as the "env" object of the game
// service request.
struct ClientEnvironmentInfo {
  std::unordered_map<std::string, std::string> entries;
};

// Per-level quality settings of the game service. Entries are indexed by
// level; a request writes only the levels it is given. An aggregate:
// `QualityParams q{};` zero-fills it.
struct QualityParams {
  int version;
  int video_level_count;
  int audio_level_count;
  struct Video {
    int fps;
    int resolution_ratio;
    int bitrate_ratio;
  } video[8];
  int audio_bitrate[8];
};

}  // namespace vanta

#endif  // VANTA_SERVICE_TYPES_H_
