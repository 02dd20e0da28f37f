#include "messages/Json.h"

#include <picojson.h>

#include <algorithm>
#include <charconv>
#include <iterator>

namespace vanta {
namespace json {

namespace {

// The bytes that picojson's string escaper writes otherwise than as
// themselves: the quote, the backslash, the slash, control bytes and DEL.
bool Escaped(char c) {
  return c == '"' || c == '\\' || c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

}  // namespace

ObjectWriter::ObjectWriter(size_t expected_size) {
  text_.reserve(expected_size);
  text_.push_back('{');
}

void ObjectWriter::String(std::string_view key, std::string_view value) {
  Key(key);
  Quoted(value);
}

void ObjectWriter::Number(std::string_view key, int value) {
  Key(key);
  // An int as a double is integral and below 2^53 in magnitude, which
  // picojson writes with "%.f": the plain decimal digits of the int, with
  // no decimal separator whatever the locale. Written straight from the int,
  // they cost no printf.
  char digits[16];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), value);
  text_.append(digits, end.ptr);
}

void ObjectWriter::OpenObject(std::string_view key) {
  Key(key);
  text_.push_back('{');
  first_member_ = true;
}

void ObjectWriter::CloseObject() {
  text_.push_back('}');
  // The object just closed is a member of the one around it.
  first_member_ = false;
}

std::string ObjectWriter::Finish() {
  text_.push_back('}');
  return std::move(text_);
}

void ObjectWriter::Key(std::string_view key) {
  if (!first_member_) text_.push_back(',');
  first_member_ = false;
  Quoted(key);
  text_.push_back(':');
}

void ObjectWriter::Quoted(std::string_view text) {
  // picojson's serialize_str, for text that need not be a std::string. Text
  // without a byte that its escaper changes goes out in one piece.
  using Out = std::back_insert_iterator<std::string>;
  text_.push_back('"');
  if (std::any_of(text.begin(), text.end(), Escaped)) {
    std::for_each(text.begin(), text.end(), picojson::serialize_str_char<Out>{Out(text_)});
  } else {
    text_.append(text);
  }
  text_.push_back('"');
}

int32_t ToInt32(double value) {
  // -2147483649 < value < 2147483648 is exactly the range whose truncation
  // fits; NaN fails both comparisons.
  if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
  return INT32_MIN;
}

}  // namespace json
}  // namespace vanta
