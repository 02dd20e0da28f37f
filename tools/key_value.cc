#include "tools/key_value.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vanta {
namespace tools {

bool SplitKeyValue(const std::string& text, std::string* key, std::string* value) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *key = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

bool ParseInt(const std::string& text, int* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

}  // namespace tools
}  // namespace vanta
