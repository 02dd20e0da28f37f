#include "bench/CApi.h"

#include "vanta/WebServiceAccessor.h"
#include "vanta/vanta.h"

namespace vanta {
namespace bench {

bool NegotiateThroughCxx(const char* base) {
  WebServiceAccessor accessor;
  accessor.SetRegisterDeviceId(false);
  if (accessor.Initialize(1, "", base, 0, 2, "bench-game", true, "", 1, 1, 1, 0, 1, 709)
          .IsFailure() ||
      accessor.Start().IsFailure()) {
    return false;
  }
  ErrorCode result(WS_ERROR_FAILED);
  accessor.WaitFor(-1, &result);
  return result == ErrorCode(WS_SUCCESS);
}

bool NegotiateThroughC(const char* base) {
  vanta_accessor* accessor = vanta_accessor_new();
  if (accessor == nullptr) return false;
  vanta_config config = {};
  config.size = sizeof(config);
  config.client_version = 1;
  config.token = "";
  config.arbiter_base_url = base;
  config.audio_profile = 2;
  config.gameid = "bench-game";
  config.request_token_first = 1;
  config.zuc_key_value = "";
  config.io_mouse = config.io_touch = config.io_keyboard = config.io_gamepad = 1;
  config.yuv_itu_r_bt = 709;
  uint32_t result = VANTA_WS_ERROR_FAILED;
  if (vanta_accessor_set_register_device_id(accessor, 0) == VANTA_WS_SUCCESS &&
      vanta_accessor_initialize(accessor, &config) == VANTA_WS_SUCCESS &&
      vanta_accessor_start(accessor) == VANTA_WS_SUCCESS) {
    vanta_accessor_wait(accessor, -1, &result);
  }
  vanta_accessor_free(accessor);
  return result == VANTA_WS_SUCCESS;
}

}  // namespace bench
}  // namespace vanta
