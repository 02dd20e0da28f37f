// Embedding the library in a program with a user interface: a second thread
// (here a timer standing in for the player's Cancel button) cancels a
// negotiation in flight, and the owner learns at once that it ended.
//
//   cancel_example <dispatcher base address> <milliseconds before Cancel>
//
// Exit status 0 when the run ended as cancelled, 1 otherwise.
#include <vanta/WebServiceAccessor.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// On the worker thread: a UI would post this to its own thread.
void ShowState(vanta::WebServiceAccessor::State::type state, void*) {
  std::printf("state %d\n", static_cast<int>(state));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <dispatcher base address> <milliseconds>\n", argv[0]);
    return 2;
  }
  vanta::WebServiceAccessor accessor;
  accessor.SetStateHandler(&ShowState, nullptr);
  accessor.SetRegisterDeviceId(false);
  vanta::ErrorCode code =
      accessor.Initialize(1, "", argv[1], 0, 2, "example-game", true, "", 1, 1, 1, 0, 1, 709);
  if (code.IsFailure()) return std::fprintf(stderr, "Initialize: %s\n", code.Name()), 1;
  code = accessor.Start();
  if (code.IsFailure()) return std::fprintf(stderr, "Start: %s\n", code.Name()), 1;

  // Cancel never blocks and may come from any thread.
  std::thread button([&accessor, delay = std::atoi(argv[2])] {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    accessor.Cancel();
  });
  const auto started = std::chrono::steady_clock::now();
  vanta::ErrorCode result;
  accessor.WaitFor(-1, &result);
  button.join();
  std::printf("ended with %s, %lld ms after start\n", result.Name(),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count()));
  return result == vanta::ErrorCode(vanta::WS_ERROR_ABORTED) ? 0 : 1;
}
