#include "capi/Handles.h"

namespace vanta {
namespace capi {

void FillExchange(const ExchangeReport& from, vanta_exchange_report* out) {
  out->method = from.method.c_str();
  out->address = from.address.c_str();
  out->http_status = static_cast<int>(from.http_status);
  out->transport_error = from.transport_error.c_str();
  out->code = from.code.GetValue();
  out->server_result = from.server_result.c_str();
  out->server_message = from.server_message.c_str();
  out->answer_excerpt = from.answer_excerpt.c_str();
  out->bytes_sent = from.bytes_sent;
  out->bytes_received = from.bytes_received;
  out->elapsed_ms = from.elapsed_ms;
}

void FillService(const ServiceText& text, const int ports[4],
                 const WebService::QualityParams& quality, vanta_service* out) {
  out->ipv4 = text.ipv4.c_str();
  out->ipv6 = text.ipv6.c_str();
  out->control_port = ports[0];
  out->video_port = ports[1];
  out->audio_port = ports[2];
  out->input_port = ports[3];
  out->key1 = text.key1.c_str();
  out->key2 = text.key2.c_str();
  out->token = text.token.c_str();
  out->zuc_key_value = text.zuc_key_value.c_str();
  out->access_token = text.access_token.c_str();
  int32_t* q = out->quality;
  *q++ = quality.version;
  *q++ = quality.video_level_count;
  *q++ = quality.audio_level_count;
  for (const WebService::QualityParams::Video& level : quality.video) {
    *q++ = level.fps;
    *q++ = level.resolution_ratio;
    *q++ = level.bitrate_ratio;
  }
  for (int bitrate : quality.audio_bitrate) *q++ = bitrate;
}

}  // namespace capi
}  // namespace vanta
