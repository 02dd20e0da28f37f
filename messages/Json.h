// The JSON pieces that every message shares: the request writer, the parser
// with its nesting bound, the response envelope check, member lookups by
// kind and the conversion of answer numbers to int32.
//
// Values are picojson values (numbers are doubles). The only exception that
// these functions catch is picojson's std::overflow_error, raised for a
// number that is not finite; it becomes WS_ERROR_BAD_RESPONSE.
#ifndef VANTA_MESSAGES_JSON_H_
#define VANTA_MESSAGES_JSON_H_

#include <picojson.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "vanta/ErrorCode.h"

namespace vanta {

class WebServiceHttp;

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

// Parses text as one JSON value: leading white space is skipped and what
// follows the value is ignored. 0, or WS_ERROR_BAD_RESPONSE for a syntax
// error (an empty text included), nesting deeper than kMaxDepth, or a
// number that overflows a double. On failure out holds nothing usable.
ErrorCode Parse(const std::string& text, picojson::value& out);

// Parse, then the value must be an object: 0 or WS_ERROR_BAD_RESPONSE.
ErrorCode ParseObject(const std::string& text, picojson::value& out);

// The dispatcher answer check. ParseObject, then a string "status" is
// required (else WS_ERROR_BAD_RESPONSE). Exactly "ok" gives 0: the caller
// then reads its success members from out. Any other status requires a
// number "result" and a string "message" (else WS_ERROR_BAD_RESPONSE) and
// gives the server status mapping of "result" (never 0).
ErrorCode CheckEnvelope(const std::string& text, picojson::value& out);

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

// The request stage of every JSON message: body builds and writes the
// request; without a transport the result is WS_ERROR_NO_TRANSPORT and
// nothing is sent; otherwise the body is POSTed to url, and the transport's
// failure code, or 0, is returned. response receives the answer body as the
// transport leaves it.
ErrorCode PostRequest(const WebServiceHttp* http, const std::string& url,
                      const std::function<std::string()>& body, std::string& response);

}  // namespace json
}  // namespace vanta

#endif  // VANTA_MESSAGES_JSON_H_
