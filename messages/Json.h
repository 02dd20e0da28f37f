// The JSON pieces that every message shares: the verdict of an answer
// check, the request writer, the nesting bound and the conversion of answer
// numbers to int32. The answer checks themselves read answers without
// building a tree (messages/SelectiveParse.h). Nothing here throws.
#ifndef VANTA_MESSAGES_JSON_H_
#define VANTA_MESSAGES_JSON_H_

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

// Writes the compact text of one object straight into a string, byte for
// byte as picojson's serialize writes the same object (no white space,
// picojson's own string escaping, ints as their plain decimal digits
// whatever the C locale), without building the object first. The caller
// adds the members of each object in ascending byte order of their keys,
// each key once.
class ObjectWriter {
 public:
  // expected_size: about how long the text will be, so that its string is
  // allocated once.
  explicit ObjectWriter(size_t expected_size);

  void String(std::string_view key, std::string_view value);
  // value as picojson writes an int converted to a double.
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

// value truncated toward zero; values outside int32 (and NaN) give
// INT32_MIN.
int32_t ToInt32(double value);

}  // namespace json
}  // namespace vanta

#endif  // VANTA_MESSAGES_JSON_H_
