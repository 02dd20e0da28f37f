#include "dispatcher/Framing.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <utility>

namespace vanta {
namespace dispatcher {

namespace {

// What the framing needs of the headers.
struct HeaderFacts {
  size_t end = 0;  // bytes of the request line and headers, the empty line included
  int length_count = 0;
  std::string length_text;
  bool transfer_encoding = false;
  bool content_encoding = false;
  bool expect_continue = false;
};

RequestFrame Refused(int status, std::string reason) {
  RequestFrame frame;
  frame.kind = RequestFrame::Kind::kRefused;
  frame.status = status;
  frame.reason = std::move(reason);
  return frame;
}

bool NameIs(std::string_view name, const char* expected) {
  if (name.size() != std::strlen(expected)) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) !=
        std::tolower(static_cast<unsigned char>(expected[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// The characters of a header name (a token).
bool IsTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
         std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Why a header line (without its CR LF) is refused, or nullptr.
const char* HeaderLineProblem(std::string_view line) {
  for (char c : line) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return "a header line holds a control byte";
  }
  if (line.front() == ' ' || line.front() == '\t') {
    return "a header line continues the one before it (obs-fold)";
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return "a header line has no colon";
  if (colon == 0) return "a header line has no name";
  for (char c : line.substr(0, colon)) {
    if (!IsTokenChar(c)) return "a header name holds a character other than a token's";
  }
  return nullptr;
}

void NoteHeader(std::string_view name, std::string_view value, HeaderFacts* facts) {
  if (NameIs(name, "Content-Length")) {
    ++facts->length_count;
    facts->length_text = std::string(value);
  } else if (NameIs(name, "Transfer-Encoding")) {
    facts->transfer_encoding = true;
  } else if (NameIs(name, "Content-Encoding")) {
    facts->content_encoding = true;
  } else if (NameIs(name, "Expect") && NameIs(value, "100-continue")) {
    facts->expect_continue = true;
  }
}

// Reads the request line and headers at the start of input into *facts.
// kWhole once they are whole and acceptable, kIncomplete before.
RequestFrame ReadHeaders(std::string_view input, const Limits& limits, HeaderFacts* facts) {
  const size_t max_header = limits.max_header_bytes;
  size_t line_start = 0;
  for (bool request_line = true;; request_line = false) {
    const size_t line_end = input.find('\n', line_start);
    if (line_end == std::string_view::npos ? input.size() >= max_header : line_end >= max_header) {
      return Refused(
          431, "the request line and headers are over " + std::to_string(max_header) + " bytes");
    }
    if (line_end == std::string_view::npos) return RequestFrame();
    if (line_end == line_start || input[line_end - 1] != '\r') {
      return Refused(400, "a line of the request ends without CR LF");
    }
    const std::string_view line = input.substr(line_start, line_end - 1 - line_start);
    line_start = line_end + 1;
    if (request_line) continue;  // httplib reads it
    if (line.empty()) break;     // the end of the headers
    if (const char* problem = HeaderLineProblem(line)) return Refused(400, problem);
    const size_t colon = line.find(':');
    NoteHeader(line.substr(0, colon), TrimBlanks(line.substr(colon + 1)), facts);
  }
  facts->end = line_start;
  RequestFrame frame;
  frame.kind = RequestFrame::Kind::kWhole;
  return frame;
}

// The frame of a request whose headers are whole.
RequestFrame FrameBody(const HeaderFacts& facts, size_t input_size, const Limits& limits) {
  if (facts.transfer_encoding) {
    return Refused(411, "a body must come with a Content-Length, not a Transfer-Encoding");
  }
  if (facts.content_encoding) return Refused(415, "a body must not be encoded (Content-Encoding)");
  if (facts.length_count > 1) return Refused(400, "more than one Content-Length");
  const std::string& text = facts.length_text;
  size_t body = 0;
  if (facts.length_count == 1) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
      return Refused(400, "Content-Length " + text + " is not a number of bytes");
    }
    const size_t digits = text.find_first_not_of('0');
    if (digits != std::string::npos &&
        (text.size() - digits > 12 ||
         (body = std::stoull(text.substr(digits))) > limits.max_body_bytes)) {
      return Refused(413, "a body of " + text.substr(digits) + " bytes is over the limit of " +
                              std::to_string(limits.max_body_bytes) + " bytes");
    }
  }
  RequestFrame frame;
  frame.size = facts.end + body;
  if (input_size >= frame.size) {
    frame.kind = RequestFrame::Kind::kWhole;
  } else {
    frame.wants_continue = facts.expect_continue;
  }
  return frame;
}

}  // namespace

RequestFrame FrameRequest(const std::string& input, const Limits& limits) {
  HeaderFacts facts;
  RequestFrame headers = ReadHeaders(input, limits, &facts);
  if (headers.kind != RequestFrame::Kind::kWhole) return headers;
  return FrameBody(facts, input.size(), limits);
}

const char* StatusText(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
  }
  return "Error";
}

}  // namespace dispatcher
}  // namespace vanta
