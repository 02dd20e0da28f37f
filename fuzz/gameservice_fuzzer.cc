// The request_gameservice answer check on arbitrary bytes.
//
// The stage runs twice, from two sets of outputs that differ in every
// field; a field that ends equal in both runs was written by the stage, one
// that ends as it started was not. Quality entries start out of range, so a
// written entry can be told from one left alone. Invariants:
// - success: every connection output written; the quality configuration
//   untouched, or version 0 with nothing else written, or version 1 with the
//   counts written and exactly the entries below them written and in range;
// - failure: nothing written, or (bad answer only) the one partial write of
//   a version 1 configuration whose written entries include one out of
//   range, with nothing written above the counts;
// - verdict and outputs are those of the tree-reading reference, from the
//   same start.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Invariant.h"
#include "fuzz/Reference.h"
#include "messages/Gameservice.h"

namespace {

using vanta::ErrorCode;
using Quality = vanta::WebService::QualityParams;
constexpr int kLevels = 8;

struct Outputs {
  std::string ipv4, ipv6;
  int control_port, video_port, audio_port, input_port;
  std::string key1, key2;
  Quality quality;
};

// Outputs that differ from those of any other seed in every field; the
// version is neither 0 nor 1 and every level value is out of range.
Outputs Start(int seed) {
  Outputs out;
  const std::string tag = std::to_string(seed);
  out.ipv4 = "ipv4 " + tag;
  out.ipv6 = "ipv6 " + tag;
  out.key1 = "key1 " + tag;
  out.key2 = "key2 " + tag;
  out.control_port = seed * 10 + 1;
  out.video_port = seed * 10 + 2;
  out.audio_port = seed * 10 + 3;
  out.input_port = seed * 10 + 4;
  out.quality.version = 100 + seed;
  out.quality.video_level_count = 100 + seed;
  out.quality.audio_level_count = 100 + seed;
  for (int i = 0; i < kLevels; ++i) {
    out.quality.video[i] = {-1000 * seed - i, -2000 * seed - i, -3000 * seed - i};
    out.quality.audio_bitrate[i] = -4000 * seed - i;
  }
  return out;
}

vanta::Verdict Shipped(const std::string& response, Outputs& out) {
  return vanta::ParseGameserviceResponse(response, out.ipv4, out.ipv6, out.control_port,
                                         out.video_port, out.audio_port, out.input_port, out.key1,
                                         out.key2, out.quality);
}

vanta::Verdict Reference(const std::string& response, Outputs& out) {
  return vanta::reference::ParseGameserviceResponse(response, out.ipv4, out.ipv6, out.control_port,
                                                    out.video_port, out.audio_port, out.input_port,
                                                    out.key1, out.key2, out.quality);
}

ErrorCode Parse(const std::string& response, Outputs& out) {
  return vanta::CodeOf(Shipped(response, out));
}

bool SameConnection(const Outputs& a, const Outputs& b) {
  return a.ipv4 == b.ipv4 && a.ipv6 == b.ipv6 && a.control_port == b.control_port &&
         a.video_port == b.video_port && a.audio_port == b.audio_port &&
         a.input_port == b.input_port && a.key1 == b.key1 && a.key2 == b.key2;
}

bool SameVideo(const Quality::Video& a, const Quality::Video& b) {
  return a.fps == b.fps && a.resolution_ratio == b.resolution_ratio &&
         a.bitrate_ratio == b.bitrate_ratio;
}

bool SameQuality(const Quality& a, const Quality& b) {
  if (a.version != b.version || a.video_level_count != b.video_level_count ||
      a.audio_level_count != b.audio_level_count) {
    return false;
  }
  for (int i = 0; i < kLevels; ++i) {
    if (!SameVideo(a.video[i], b.video[i]) || a.audio_bitrate[i] != b.audio_bitrate[i]) {
      return false;
    }
  }
  return true;
}

bool operator==(const Outputs& a, const Outputs& b) {
  return SameConnection(a, b) && SameQuality(a.quality, b.quality);
}

bool AudioInRange(int bitrate) { return bitrate >= 1 && bitrate <= 1024; }
bool VideoInRange(const Quality::Video& v) {
  return v.fps >= 1 && v.fps <= 60 && v.resolution_ratio >= 1 && v.resolution_ratio <= 100 &&
         v.bitrate_ratio >= 1 && v.bitrate_ratio <= 100;
}

// What one medium of a version 1 configuration shows after both runs.
struct Medium {
  bool count_written = false;
  int count = 0;
  bool above_count_untouched = true;
  bool all_below_written_in_range = true;
  bool some_written_out_of_range = false;
};

template <typename Entry, typename Same, typename InRange>
Medium Inspect(int count_a, int count_b, int start_count_a, const Entry* a, const Entry* b,
               const Entry* start_a, Same same, InRange in_range) {
  Medium m;
  m.count_written = count_a == count_b;
  if (!m.count_written) {
    VANTA_FUZZ_CHECK(count_a == start_count_a);
    m.count = 0;
  } else {
    VANTA_FUZZ_CHECK(count_a >= 0 && count_a <= kLevels);
    m.count = count_a;
  }
  for (int i = 0; i < kLevels; ++i) {
    const bool written = same(a[i], b[i]);
    if (!written) VANTA_FUZZ_CHECK(same(a[i], start_a[i]));
    if (i >= m.count) {
      m.above_count_untouched = m.above_count_untouched && !written;
    } else if (!written || !in_range(a[i])) {
      m.all_below_written_in_range = false;
    }
    if (written && !in_range(a[i])) m.some_written_out_of_range = true;
  }
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string response(reinterpret_cast<const char*>(data), size);
  const Outputs start_a = Start(1);
  const Outputs start_b = Start(2);
  vanta::fuzz::CheckSameAsReference(
      start_a, [&](Outputs& out) { return Shipped(response, out); },
      [&](Outputs& out) { return Reference(response, out); });
  Outputs a = start_a;
  Outputs b = start_b;
  const ErrorCode code = Parse(response, a);
  VANTA_FUZZ_CHECK(Parse(response, b) == code);
  VANTA_FUZZ_CHECK(vanta::fuzz::IsAnswerCode(code));

  const bool connection_written = SameConnection(a, b);
  const bool untouched_a = SameConnection(a, start_a) && SameQuality(a.quality, start_a.quality);
  const bool untouched_b = SameConnection(b, start_b) && SameQuality(b.quality, start_b.quality);
  if (code != vanta::WS_SUCCESS && untouched_a && untouched_b) return 0;

  // Everything else writes the connection outputs. A quality left alone as
  // a whole is only right for a success (no "config").
  VANTA_FUZZ_CHECK(connection_written);
  const Quality& qa = a.quality;
  const Quality& qb = b.quality;
  if (SameQuality(qa, start_a.quality) && SameQuality(qb, start_b.quality)) {
    VANTA_FUZZ_CHECK(code == vanta::WS_SUCCESS);
    return 0;
  }
  VANTA_FUZZ_CHECK(qa.version == qb.version);
  VANTA_FUZZ_CHECK(qa.version == 0 || qa.version == 1);
  const Quality& sa = start_a.quality;
  if (qa.version == 0) {
    Quality only_version = sa;
    only_version.version = 0;
    VANTA_FUZZ_CHECK(code == vanta::WS_SUCCESS && SameQuality(qa, only_version));
    return 0;
  }

  const Medium audio = Inspect(
      qa.audio_level_count, qb.audio_level_count, sa.audio_level_count, qa.audio_bitrate,
      qb.audio_bitrate, sa.audio_bitrate, [](int x, int y) { return x == y; }, AudioInRange);
  const Medium video = Inspect(qa.video_level_count, qb.video_level_count, sa.video_level_count,
                               qa.video, qb.video, sa.video, SameVideo, VideoInRange);
  // Audio is stored before video, so audio's count is always written.
  VANTA_FUZZ_CHECK(audio.count_written);
  VANTA_FUZZ_CHECK(audio.above_count_untouched && video.above_count_untouched);
  if (code == vanta::WS_SUCCESS) {
    VANTA_FUZZ_CHECK(video.count_written);
    VANTA_FUZZ_CHECK(audio.all_below_written_in_range && video.all_below_written_in_range);
    return 0;
  }
  // The partial write: storing stopped at the first value out of range.
  VANTA_FUZZ_CHECK(code == vanta::WS_ERROR_BAD_RESPONSE);
  if (audio.some_written_out_of_range) {
    VANTA_FUZZ_CHECK(!video.count_written);
  } else {
    VANTA_FUZZ_CHECK(audio.all_below_written_in_range && video.count_written &&
                     video.some_written_out_of_range);
  }
  return 0;
}
