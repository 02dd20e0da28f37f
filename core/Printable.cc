#include "core/Printable.h"

namespace vanta {

namespace {

// The length of the valid UTF-8 sequence at the start of text, or 0 when
// its first byte does not begin one.
size_t Utf8SequenceLength(std::string_view text) {
  const unsigned char first = static_cast<unsigned char>(text[0]);
  size_t length = 0;
  unsigned lowest = 0;  // the smallest code point of this length
  unsigned code = 0;
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2, lowest = 0x80, code = first & 0x1Fu;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3, lowest = 0x800, code = first & 0x0Fu;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4, lowest = 0x10000, code = first & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// True for U+0000 to U+001F and U+007F to U+009F in their UTF-8 form.
bool IsControl(std::string_view sequence) {
  const unsigned char first = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return first < 0x20 || first == 0x7F;
  return sequence.size() == 2 && first == 0xC2 && static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

void AppendEscaped(std::string* out, std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const char escape[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
    out->append(escape, sizeof(escape));
  }
}

}  // namespace

std::string Printable(std::string_view text, size_t max_bytes, bool* cut) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t length = Utf8SequenceLength(text.substr(at));
    const bool escaped = length == 0 || IsControl(text.substr(at, length));
    if (length == 0) length = 1;  // one stray byte
    const size_t shown = escaped ? 4 * length : length;
    if (shown > max_bytes - out.size()) break;
    if (escaped) {
      AppendEscaped(&out, text.substr(at, length));
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  if (cut != nullptr) *cut = at < text.size();
  return out;
}

}  // namespace vanta
