#include "accessor/KeyFile.h"

#include <cstdio>

#include "platform/Platform.h"

namespace vanta {

namespace {

const char kKeyFileName[] = "key.tmp";

}  // namespace

void WriteKeyFile(const std::string& value) {
  std::FILE* file = std::fopen(platform::TempFilePath(kKeyFileName).c_str(), "w");
  if (file == nullptr) return;
  std::fwrite(value.data(), 1, value.size(), file);
  std::fclose(file);
}

bool ReadKeyFile(std::string* text) {
  std::FILE* file = std::fopen(platform::TempFilePath(kKeyFileName).c_str(), "r");
  if (file == nullptr) return false;
  char line[128] = {};
  if (std::fgets(line, sizeof(line), file) == nullptr) line[0] = '\0';
  std::fclose(file);
  *text = line;
  return true;
}

}  // namespace vanta
