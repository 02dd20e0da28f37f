#include "vanta/ThreadWrapper.h"

namespace vanta {

Runnable::~Runnable() = default;

}  // namespace vanta
