// Embedding the library: run one negotiation in the background, read the
// negotiated game service, then send one launcher monitor report.
//
//   negotiate_example <dispatcher base address> <monitor port>
//
// Exit status 0 when both succeed.
#include <vanta/WebService.h>
#include <vanta/WebServiceAccessor.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool Failed(vanta::ErrorCode code) { return (code.GetValue() & 0x80000000u) != 0; }

int Report(const char* what, vanta::ErrorCode code) {
  std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(code.GetValue()));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <dispatcher base address> <monitor port>\n", argv[0]);
    return 2;
  }
  const char* arbiter_base = argv[1];
  int monitor_port = std::atoi(argv[2]);

  vanta::WebServiceAccessor accessor;
  accessor.MutableClientEnvironmentInfo().entries["example"] = "1";
  vanta::ErrorCode code =
      accessor.Initialize(/*client_version=*/1, /*token=*/"", arbiter_base, /*video_profile=*/0,
                          /*audio_profile=*/2, /*gameid=*/"example-game",
                          /*request_token_first=*/true, /*zuc_key_value=*/"", /*io_mouse=*/1,
                          /*io_touch=*/1, /*io_keyboard=*/1, /*io_sensor=*/0, /*io_gamepad=*/1,
                          /*yuv_itu_r_bt=*/709);
  if (Failed(code)) return Report("Initialize", code);
  code = accessor.Start();
  if (Failed(code)) return Report("Start", code);

  // The owner waits without spinning (a UI thread would rather install a
  // state handler, or call WaitFor with a short time-out between frames).
  // The negotiated values may be read once the run has ended.
  vanta::ErrorCode result;
  accessor.WaitFor(/*timeout_ms=*/-1, &result);
  if (accessor.GetState() != vanta::WebServiceAccessor::State::COMPLETE) {
    // The run report says which step failed and what its last exchange was.
    for (const vanta::StepReport& step : accessor.GetRunReport()) {
      if (!Failed(step.code)) continue;
      std::fprintf(stderr, "%s: %s after %d attempt(s), HTTP %ld %s %s\n",
                   vanta::StepName(step.step), step.code.Name(), step.attempts,
                   step.last.http_status, step.last.transport_error.c_str(),
                   step.last.server_message.c_str());
    }
    return Report("the negotiation", result);
  }
  std::printf("game service %s [%s] ports %d/%d/%d/%d, %d video and %d audio quality levels\n",
              accessor.GetIpv4().c_str(), accessor.GetIpv6().c_str(), accessor.GetControlPort(),
              accessor.GetVideoPort(), accessor.GetAudioPort(), accessor.GetInputPort(),
              accessor.GetQualityParams().video_level_count,
              accessor.GetQualityParams().audio_level_count);

  // Monitor reports go through a WebService of the program's own.
  vanta::WebService service;
  code = service.Initialize();
  if (Failed(code)) return Report("WebService::Initialize", code);
  code =
      service.SetUriRequestLauncherMonitorPut("http://", "127.0.0.1", monitor_port, "monitor/put");
  if (Failed(code)) return Report("SetUriRequestLauncherMonitorPut", code);
  code = service.RequestLauncherMonitorPut(/*slotid=*/1, /*capture_down_time=*/0,
                                           /*heartbeat_down_time=*/0, /*handling_down_time=*/0,
                                           /*client_delay=*/12, accessor.GetIpv4(),
                                           accessor.GetControlPort());
  if (Failed(code)) return Report("RequestLauncherMonitorPut", code);
  std::printf("monitor report accepted\n");
  return 0;
}
