#include "platform/Uuid.h"

#include <cctype>
#include <cstddef>
#include <cstdint>

namespace vanta {

namespace {

// The header before the table: calling method, major and minor version,
// revision, then the table's length.
constexpr size_t kBlobHeaderSize = 8;
// A structure starts with its type, the length of its formatted part, and
// a handle; strings follow the formatted part up to a double NUL.
constexpr size_t kStructureHeaderSize = 4;
constexpr unsigned char kSystemInformation = 1;
constexpr unsigned char kEndOfTable = 127;
constexpr size_t kUuidOffset = 8;
constexpr size_t kUuidSize = 16;

// The 16 bytes of an SMBIOS UUID in canonical text: the first three fields
// are stored little endian, the rest in order.
std::string FormatSmbiosUuid(const unsigned char* bytes) {
  static const int kOrder[kUuidSize] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static const char kHex[] = "0123456789ABCDEF";
  bool all_zero = true, all_one = true;
  std::string text;
  for (size_t i = 0; i < kUuidSize; ++i) {
    const unsigned char byte = bytes[kOrder[i]];
    all_zero = all_zero && byte == 0x00;
    all_one = all_one && byte == 0xFF;
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return all_zero || all_one ? "" : text;
}

}  // namespace

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
  if (digits.size() != 32) return "";
  std::string uuid;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(digits[i]))) return "";
    if (i == 8 || i == 12 || i == 16 || i == 20) uuid.push_back('-');
    uuid.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i]))));
  }
  return uuid;
}

std::string SmbiosSystemUuid(const std::string& blob) {
  if (blob.size() < kBlobHeaderSize) return "";
  const unsigned char* data = reinterpret_cast<const unsigned char*>(blob.data());
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | data[4 + i];
  const unsigned char* table = data + kBlobHeaderSize;
  const size_t size = blob.size() - kBlobHeaderSize < length ? blob.size() - kBlobHeaderSize
                                                             : static_cast<size_t>(length);
  size_t at = 0;
  while (at + kStructureHeaderSize <= size) {
    const unsigned char type = table[at];
    const size_t formatted = table[at + 1];
    if (formatted < kStructureHeaderSize || at + formatted > size || type == kEndOfTable) break;
    if (type == kSystemInformation && formatted >= kUuidOffset + kUuidSize) {
      return FormatSmbiosUuid(table + at + kUuidOffset);
    }
    // Past the strings: the first double NUL at or after the formatted part.
    size_t end = at + formatted;
    while (end + 1 < size && (table[end] != 0 || table[end + 1] != 0)) ++end;
    at = end + 2;
  }
  return "";
}

}  // namespace vanta
