#include "tools/values.h"

#include <curl/curl.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace vanta {
namespace tools {

namespace {

bool AllOf(const std::string& text, int (*test)(int)) {
  for (char c : text) {
    if (test(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// Counts the groups of an IPv6 part ("" or "1:ab:0"); the last may be a
// dotted IPv4 address (two groups) when ipv4_last.
bool CountGroups(const std::string& part, bool ipv4_last, int* count) {
  *count = 0;
  if (part.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t colon = part.find(':', start);
    const std::string group = part.substr(start, colon - start);
    if (colon == std::string::npos && ipv4_last && group.find('.') != std::string::npos) {
      *count += 2;
      return IsIpv4Address(group);
    }
    if (group.empty() || group.size() > 4 || !AllOf(group, &isxdigit)) return false;
    ++*count;
    if (colon == std::string::npos) return true;
    start = colon + 1;
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What curl makes of url, or "" when it takes it as an address.
std::string CurlUrlProblem(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parts(curl_url(), &curl_url_cleanup);
  if (parts == nullptr) return "out of memory";
  const CURLUcode code = curl_url_set(parts.get(), CURLUPART_URL, url.c_str(), 0);
  return code == CURLUE_OK ? ""
                           : std::string("not a valid address (") + curl_url_strerror(code) + ")";
}

}  // namespace

bool SplitKeyValue(const std::string& text, std::string* key, std::string* value) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *key = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

bool ParseInt(const std::string& text, int* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

bool ParseSeconds(const std::string& text, double* seconds) {
  const size_t dot = text.find('.');
  const std::string digits =
      dot == std::string::npos ? text : text.substr(0, dot) + text.substr(dot + 1);
  if (digits.empty() || !AllOf(digits, &isdigit) || text.size() > 12) return false;
  const double parsed = std::strtod(text.c_str(), nullptr);
  if (!(parsed > 0) || parsed > 86400) return false;
  *seconds = parsed;
  return true;
}

bool IsIpv4Address(const std::string& text) {
  size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = text.find('.', start);
    if ((part < 3) != (dot != std::string::npos)) return false;
    const std::string number = text.substr(start, dot - start);
    if (number.empty() || number.size() > 3 || !AllOf(number, &isdigit) ||
        (number.size() > 1 && number[0] == '0') || std::atoi(number.c_str()) > 255) {
      return false;
    }
    start = dot + 1;
  }
  return true;
}

bool IsIpv6Address(const std::string& text) {
  const size_t gap = text.find("::");
  int left = 0;
  int right = 0;
  if (gap == std::string::npos) return CountGroups(text, true, &left) && left == 8;
  // A second "::" leaves an empty group on the right.
  return CountGroups(text.substr(0, gap), false, &left) &&
         CountGroups(text.substr(gap + 2), true, &right) && left + right <= 7;
}

std::string UrlProblem(const std::string& url, UrlKind kind, std::string* corrected) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return "it has no scheme (http:// or https://)";
  const std::string scheme = Lower(url.substr(0, scheme_end));
  if (scheme != "http" && scheme != "https") return "the scheme must be http or https";
  const size_t host_start = scheme_end + 3;
  const size_t path_start = std::min(url.find_first_of("/?#", host_start), url.size());
  const std::string authority = url.substr(host_start, path_start - host_start);
  if (!authority.empty() && authority[0] != '[' && authority.find(':') != authority.rfind(':')) {
    return "an IPv6 address needs brackets in an address, as in http://[::1]:8081/";
  }
  if (authority.empty() || authority[0] == ':') return "it has no host";
  if (url.find_first_of("?#") != std::string::npos) {
    return "it holds a query or a fragment ('?' or '#')";
  }
  std::string problem = CurlUrlProblem(url);
  if (!problem.empty()) return problem;
  const std::string path = url.substr(path_start);
  std::string fixed;
  if (kind == UrlKind::kBase && (path.empty() || path.back() != '/')) {
    fixed = url + "/";
    problem = "it does not end with '/' (each request's name is appended to it directly)";
  } else if (kind == UrlKind::kOrigin && !path.empty()) {
    fixed = url.substr(0, path_start);
    problem = "an origin has no path";
  }
  if (corrected != nullptr) *corrected = fixed;
  return problem;
}

std::string UrlHost(const std::string& host) {
  return IsIpv6Address(host) ? "[" + host + "]" : host;
}

}  // namespace tools
}  // namespace vanta
