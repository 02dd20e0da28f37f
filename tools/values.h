// The values that the command's options take, read and checked before any
// request is made.
#ifndef VANTA_TOOLS_VALUES_H_
#define VANTA_TOOLS_VALUES_H_

#include <string>

namespace vanta {
namespace tools {

// Splits text at its first "=". False (and the outputs untouched) when there
// is no "=" or the key before it is empty. The value may be empty and may
// hold further "=".
bool SplitKeyValue(const std::string& text, std::string* key, std::string* value);

// Reads a decimal int that fills the whole text. False for anything else,
// values outside int included.
bool ParseInt(const std::string& text, int* value);

// Reads a decimal number of seconds greater than 0 and at most a day that
// fills the whole text ("2", "0.5"); false for anything else.
bool ParseSeconds(const std::string& text, double* seconds);

// True for an IPv4 address in dotted decimal form (four numbers from 0 to
// 255) or an IPv6 address in its text forms (with "::" and a final dotted
// IPv4 part), without brackets, zone or port.
bool IsIpv4Address(const std::string& text);
bool IsIpv6Address(const std::string& text);

// What a base address of requests must be: the names of the requests are
// appended to it directly.
enum class UrlKind {
  kBase,    // http or https, a host, and a final "/"
  kOrigin,  // http or https and a host, without a path: "https://host[:port]"
  kWhole,   // http or https and a host
};

// Why url cannot be used as kind, or "" when it can. When only the final
// "/" of a base is missing, *corrected (may be null) receives the address
// with it.
std::string UrlProblem(const std::string& url, UrlKind kind, std::string* corrected);

// host as the host part of an address: an IPv6 address gets its brackets.
std::string UrlHost(const std::string& host);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_VALUES_H_
