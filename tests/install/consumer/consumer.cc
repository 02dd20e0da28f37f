// A program that knows the library only through its installed package.
#include <vanta/WebService.h>

#include <cstdio>

int main() {
  vanta::WebService service;
  const vanta::ErrorCode result = service.Initialize();
  std::printf("%08X %d\n", static_cast<unsigned>(result.GetValue()),
              vanta::WebService::MAX_QUALITY_SETTING_LEVEL);
  return 0;
}
