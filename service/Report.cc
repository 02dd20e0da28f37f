#include "vanta/Report.h"

namespace vanta {

const char* StepName(StepReport::Step::type step) {
  switch (step) {
    case StepReport::Step::INITIALIZE:
      return "initialize";
    case StepReport::Step::TOKEN:
      return "token";
    case StepReport::Step::ACCESS_TOKEN:
      return "access token";
    case StepReport::Step::GAME_SERVICE:
      return "game service";
    case StepReport::Step::DEVICE_ID:
      return "device identifier";
    case StepReport::Step::REGISTRATION:
      return "registration";
    case StepReport::Step::KEY_FILE:
      return "key file";
  }
  return "unknown";
}

}  // namespace vanta
