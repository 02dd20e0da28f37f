// The UUID file for systems that have no hardware UUID query: the same
// bytes that the query's output carries, taken from the firmware's UUID or,
// where that is not readable (it usually needs root), the machine id.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/Platform.h"

namespace vanta {
namespace platform {

namespace {

std::string FirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  return line;
}

bool IsHexText(const std::string& text) {
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in upper case, or "" when text is
// neither that form nor 32 bare hexadecimal digits.
std::string CanonicalUuid(const std::string& text) {
  std::string digits;
  if (text.size() == 36) {
    for (size_t i = 0; i < text.size(); ++i) {
      bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash_place != (text[i] == '-')) return "";
      if (!dash_place) digits.push_back(text[i]);
    }
  } else if (text.size() == 32) {
    digits = text;
  }
  if (digits.size() != 32 || !IsHexText(digits)) return "";
  std::string uuid;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) uuid.push_back('-');
    uuid.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i]))));
  }
  return uuid;
}

void PutUtf16(const std::string& text, std::FILE* file) {
  for (char c : text) {
    std::fputc(static_cast<unsigned char>(c), file);
    std::fputc(0, file);
  }
}

}  // namespace

bool WriteUuidFile(const std::string& path) {
  std::string uuid = CanonicalUuid(FirstLine("/sys/class/dmi/id/product_uuid"));
  if (uuid.empty()) uuid = CanonicalUuid(FirstLine("/etc/machine-id"));
  if (uuid.empty()) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::fputc(0xFF, file);  // byte order mark
  std::fputc(0xFE, file);
  PutUtf16("UUID  \r\n", file);
  PutUtf16(uuid + "  \r\n", file);
  return std::fclose(file) == 0;
}

}  // namespace platform
}  // namespace vanta
