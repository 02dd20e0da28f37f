#include "accessor/KeyFile.h"

#include "platform/Env.h"

namespace vanta {

namespace {

const char kKeyFileName[] = "key.tmp";
// A 128-byte line read keeps at most 127 bytes.
constexpr size_t kLineLimit = 127;

}  // namespace

bool WriteKeyFile(const std::string& value) {
  return Env::Get()->ReplaceFile(TempFilePath(kKeyFileName), value);
}

bool ReadKeyFile(std::string* text) {
  std::string data;
  if (!Env::Get()->ReadFile(TempFilePath(kKeyFileName), kLineLimit, &data)) return false;
  size_t end = data.find('\n');
  if (end != std::string::npos) data.resize(end + 1);
  *text = data.substr(0, data.find('\0'));
  return true;
}

}  // namespace vanta
