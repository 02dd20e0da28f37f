// The JSON pieces that every message shares: the verdict of an answer
// check, the request writer, the nesting bound, the conversion of answer
// numbers to int32, and a parser into a whole picojson tree with member
// lookups by kind for code that needs the tree (the tools read requests
// that way). The answer checks themselves build no tree (messages/Kept.h).
//
// Values are picojson values (numbers are doubles). Nothing here throws:
// picojson's std::overflow_error (a number that is not finite) makes the
// text a malformed answer.
#ifndef VANTA_MESSAGES_JSON_H_
#define VANTA_MESSAGES_JSON_H_

#include <picojson.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace vanta {

// What an answer check concluded; service/ turns it into a result code.
struct Verdict {
  enum class Kind { kAccepted, kRefused, kMalformed };
  Kind kind = Kind::kMalformed;
  int32_t status = 0;   // kRefused: the server's status number
  std::string message;  // kRefused by the dispatcher: its "message"

  static Verdict Accepted() { return Verdict{Kind::kAccepted, 0, {}}; }
  static Verdict Malformed() { return Verdict{Kind::kMalformed, 0, {}}; }
  static Verdict Refused(int32_t status, std::string message = {}) {
    return Verdict{Kind::kRefused, status, std::move(message)};
  }
  bool accepted() const { return kind == Kind::kAccepted; }
};

namespace json {

// Deepest nesting of arrays and objects that an answer may have. Real
// answers nest at most 4 deep; 256 levels keep the parser's recursion far
// below any thread's stack while refusing hostile texts such as a million
// "[".
constexpr size_t kMaxDepth = 256;

// A number member holding value, converted exactly to a double.
picojson::value Number(int value);

// The compact text of value: no white space, object members in ascending
// byte order of their keys, strings escaped byte by byte ("/" as "\/",
// control bytes and 0x7F as \u00XX, bytes from 0x80 unchanged), integers
// below 2^53 as "%.f", other numbers as "%.17g", always with "." as decimal
// separator whatever the C locale.
std::string Write(const picojson::value& value);

// Writes the compact text of one object straight into a string, byte for
// byte as Write writes the same object (picojson's own string escaping and
// number text), without building the object first. The caller adds the
// members of each object in ascending byte order of their keys, each key
// once.
class ObjectWriter {
 public:
  // expected_size: about how long the text will be, so that its string is
  // allocated once.
  explicit ObjectWriter(size_t expected_size);

  void String(std::string_view key, std::string_view value);
  // value converted exactly to a double.
  void Number(std::string_view key, int value);
  // A member whose value is an object: its members follow, up to
  // CloseObject.
  void OpenObject(std::string_view key);
  void CloseObject();

  // The text, once every object opened is closed.
  std::string Finish();

 private:
  void Key(std::string_view key);
  void Quoted(std::string_view text);

  std::string text_;
  bool first_member_ = true;  // of the object written now
};

// Parses text as one JSON value: leading white space is skipped and what
// follows the value is ignored. False for a syntax error (an empty text
// included), nesting deeper than kMaxDepth, or a number that overflows a
// double; out then holds nothing usable.
bool Parse(const std::string& text, picojson::value& out);

// Parse, and the value is an object.
bool ParseObject(const std::string& text, picojson::value& out);

// The dispatcher answer check of messages/Kept.h, for a caller that reads
// the answer's members from its tree: out holds what Parse gives for text.
Verdict CheckEnvelope(const std::string& text, picojson::value& out);

// The member key of object when it is present and of kind T (double,
// std::string, picojson::array or picojson::object); nullptr otherwise.
template <typename T>
const T* Find(const picojson::object& object, const std::string& key) {
  auto it = object.find(key);
  if (it == object.end() || !it->second.is<T>()) return nullptr;
  return &it->second.get<T>();
}

// True when object has key, whatever its kind.
bool Has(const picojson::object& object, const std::string& key);

// value truncated toward zero; values outside int32 (and NaN) give
// INT32_MIN.
int32_t ToInt32(double value);

}  // namespace json
}  // namespace vanta

#endif  // VANTA_MESSAGES_JSON_H_
