#include "messages/Json.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <stdexcept>

#include "messages/Kept.h"

namespace vanta {
namespace json {

namespace {

// picojson's own parse context bounds arrays only (objects do not count
// toward its depth), so this one counts both. Otherwise it builds values
// exactly as picojson's does, a repeated key keeping its last value.
class BoundedContext {
 public:
  BoundedContext(picojson::value* out, size_t depth_left) : out_(out), depth_left_(depth_left) {}
  BoundedContext(const BoundedContext&) = delete;
  BoundedContext& operator=(const BoundedContext&) = delete;

  bool set_null() {
    *out_ = picojson::value();
    return true;
  }
  bool set_bool(bool b) {
    *out_ = picojson::value(b);
    return true;
  }
  // Throws std::overflow_error for a number that overflowed a double.
  bool set_number(double f) {
    *out_ = picojson::value(f);
    return true;
  }
  template <typename Iter>
  bool parse_string(picojson::input<Iter>& in) {
    *out_ = picojson::value(picojson::string_type, false);
    return picojson::_parse_string(out_->get<std::string>(), in);
  }
  bool parse_array_start() { return Enter(picojson::array_type); }
  template <typename Iter>
  bool parse_array_item(picojson::input<Iter>& in, size_t) {
    picojson::array& a = out_->get<picojson::array>();
    a.push_back(picojson::value());
    BoundedContext child(&a.back(), depth_left_);
    return picojson::_parse(child, in);
  }
  bool parse_array_stop(size_t) { return true; }
  bool parse_object_start() { return Enter(picojson::object_type); }
  template <typename Iter>
  bool parse_object_item(picojson::input<Iter>& in, const std::string& key) {
    picojson::object& o = out_->get<picojson::object>();
    BoundedContext child(&o[key], depth_left_);
    return picojson::_parse(child, in);
  }
  bool parse_object_stop() { return true; }

 private:
  // Each context holds one value, so the depth its children get is fixed
  // here once; nothing has to be given back on the way out.
  bool Enter(int type) {
    if (depth_left_ == 0) return false;
    --depth_left_;
    *out_ = picojson::value(type, false);
    return true;
  }

  picojson::value* out_;
  size_t depth_left_;
};

// The bytes that picojson's string escaper writes otherwise than as
// themselves: the quote, the backslash, the slash, control bytes and DEL.
bool Escaped(char c) {
  return c == '"' || c == '\\' || c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

}  // namespace

picojson::value Number(int value) { return picojson::value(static_cast<double>(value)); }

std::string Write(const picojson::value& value) { return value.serialize(false); }

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

bool Parse(const std::string& text, picojson::value& out) {
  BoundedContext context(&out, kMaxDepth);
  picojson::input<std::string::const_iterator> in(text.begin(), text.end());
  try {
    // No error text is asked for: a syntax error is reported by verdict only.
    return picojson::_parse(context, in);
  } catch (const std::overflow_error&) {
    return false;
  }
}

bool ParseObject(const std::string& text, picojson::value& out) {
  return Parse(text, out) && out.is<picojson::object>();
}

Verdict CheckEnvelope(const std::string& text, picojson::value& out) {
  Parse(text, out);
  Envelope answer;
  return CheckEnvelope(text, answer);
}

bool Has(const picojson::object& object, const std::string& key) {
  return object.find(key) != object.end();
}

int32_t ToInt32(double value) {
  // -2147483649 < value < 2147483648 is exactly the range whose truncation
  // fits; NaN fails both comparisons.
  if (value > -2147483649.0 && value < 2147483648.0) return static_cast<int32_t>(value);
  return INT32_MIN;
}

}  // namespace json
}  // namespace vanta
