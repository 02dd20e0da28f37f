#include "tools/commands.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#include <cstdio>
#include <memory>
#include <utility>

#include <vanta/WebService.h>

#if !defined(VANTA_VERSION) || !defined(VANTA_REQUIRED_RELEASES)
#error "VANTA_VERSION and VANTA_REQUIRED_RELEASES come from the build"
#endif

namespace vanta {
namespace tools {

const ExitStatus kStatusFailed = {
    kExitFailed, "another failure; the result code is printed in hex with its WS_ name"};
const ExitStatus kStatusUsage = {kExitUsage, "an option or argument cannot be used"};
const ExitStatus kStatusUnreachable = {
    kExitUnreachable,
    "the server could not be reached: no address for its name, no connection, no TLS "
    "handshake, or no answer in time"};
const ExitStatus kStatusRefused = {kExitRefused,
                                   "the server refused: an HTTP error status or a refusal result"};
const ExitStatus kStatusBadAnswer = {kExitBadAnswer, "the answer was not what the protocol allows"};

int ExitStatusFor(ErrorCode code) {
  switch (code.GetValue()) {
    case WS_SUCCESS:
      return kExitOk;
    case WS_ERROR_HOST_NOT_RESOLVED:
    case WS_ERROR_CONNECT_FAILED:
    case WS_ERROR_TIMED_OUT:
    case WS_ERROR_TLS_FAILED:
      return kExitUnreachable;
    case WS_ERROR_SERVER_ERROR:
    case WS_ERROR_SERVER_RESULT_8:
    case WS_ERROR_SERVER_RESULT_2_5_6_7:
    case WS_ERROR_SERVER_RESULT_10:
    case WS_ERROR_SERVER_RESULT_11:
      return kExitRefused;
    case WS_ERROR_BAD_RESPONSE:
      return kExitBadAnswer;
    default:
      return code.IsFailure() ? kExitFailed : kExitOk;
  }
}

std::string DescribeCode(ErrorCode code) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code.GetValue()));
  return std::string(hex) + " " + code.Name();
}

namespace {

Option ReadingOption(std::vector<std::string> names, std::string value_name, std::string help,
                     std::string default_text,
                     std::function<std::string(const std::string&)> take) {
  return Option{
      std::move(names), std::move(value_name), std::move(help), std::move(default_text), false,
      std::move(take)};
}

}  // namespace

Option TextOption(std::vector<std::string> names, std::string value_name, std::string help,
                  std::string* target) {
  return ReadingOption(std::move(names), std::move(value_name), std::move(help), *target,
                       [target](const std::string& value) {
                         *target = value;
                         return std::string();
                       });
}

Option IntOption(std::vector<std::string> names, std::string value_name, std::string help,
                 int* target) {
  return ReadingOption(std::move(names), std::move(value_name), std::move(help),
                       std::to_string(*target), [target](const std::string& value) {
                         return ParseInt(value, target) ? "" : "not a whole number";
                       });
}

Option PortOption(std::vector<std::string> names, std::string help, int* target) {
  return ReadingOption(std::move(names), "PORT", std::move(help), std::to_string(*target),
                       [target](const std::string& value) {
                         int port = -1;
                         if (!ParseInt(value, &port) || port < 0 || port > 65535) {
                           return "not a port number (0 to 65535)";
                         }
                         *target = port;
                         return "";
                       });
}

Option FlagOption(std::vector<std::string> names, std::string help, bool* target) {
  return ReadingOption(std::move(names), "", std::move(help), "", [target](const std::string&) {
    *target = true;
    return std::string();
  });
}

Option ListOption(std::vector<std::string> names, std::string value_name, std::string help,
                  std::vector<std::string>* target) {
  Option option = ReadingOption(std::move(names), std::move(value_name), std::move(help), "",
                                [target](const std::string& value) {
                                  target->push_back(value);
                                  return std::string();
                                });
  option.repeatable = true;
  return option;
}

Option UrlOption(std::vector<std::string> names, UrlKind kind, std::string help,
                 std::string* target) {
  return ReadingOption(std::move(names), "URL", std::move(help), *target,
                       [target, kind](const std::string& value) {
                         std::string corrected;
                         std::string problem = UrlProblem(value, kind, &corrected);
                         if (!corrected.empty()) problem += "; use '" + corrected + "'";
                         if (problem.empty()) *target = value;
                         return problem;
                       });
}

namespace {

void PrintTraceLine(const char* line, void*) { std::fprintf(stderr, "* %s\n", line); }

// The reason phrase of the statuses a server commonly answers with.
const char* ReasonPhrase(long status) {
  static const std::pair<long, const char*> kPhrases[] = {
      {400, "Bad Request"},       {401, "Unauthorized"},        {403, "Forbidden"},
      {404, "Not Found"},         {405, "Method Not Allowed"},  {408, "Request Timeout"},
      {413, "Content Too Large"}, {429, "Too Many Requests"},   {500, "Internal Server Error"},
      {502, "Bad Gateway"},       {503, "Service Unavailable"}, {504, "Gateway Timeout"},
  };
  for (const auto& [number, phrase] : kPhrases) {
    if (number == status) return phrase;
  }
  return nullptr;
}

std::string HttpStatusHint(long status, const std::string& address) {
  if (status == 404) {
    return "nothing is published at " + address + " on that server; check the address's path";
  }
  if (status >= 500) {
    return "HTTP " + std::to_string(status) +
           " is the server's own failure; its log says why, and trying later may help";
  }
  if (status >= 400) {
    return "HTTP " + std::to_string(status) +
           " means the server would not take the request as sent; check the address and the "
           "options";
  }
  if (status >= 300) return "the server sent a redirect that could not be followed";
  return "";
}

}  // namespace

TracePrinter::TracePrinter(bool verbose) : verbose_(verbose) {
  if (verbose_) SetTraceHandler(&PrintTraceLine, nullptr);
}

TracePrinter::~TracePrinter() {
  if (verbose_) SetTraceHandler(nullptr, nullptr);
}

std::string HttpStatusText(long status) {
  const char* phrase = ReasonPhrase(status);
  return "HTTP " + std::to_string(status) + (phrase != nullptr ? std::string(" ") + phrase : "");
}

std::string DescribeExchange(const ExchangeReport& exchange) {
  std::string text = exchange.method + " " + exchange.address + ": ";
  if (exchange.http_status != 0) text += HttpStatusText(exchange.http_status);
  // For an error status libcurl's text only repeats the status.
  if (!exchange.transport_error.empty() && exchange.http_status < 400) {
    if (exchange.http_status != 0) text += ", ";
    text += exchange.transport_error;
  }
  return text + "; " + std::to_string(exchange.bytes_sent) + " bytes sent, " +
         std::to_string(exchange.bytes_received) + " received, " +
         std::to_string(exchange.elapsed_ms) + " ms";
}

std::string FailureHint(ErrorCode code, const ExchangeReport* exchange,
                        const std::string& address) {
  const bool sent = exchange != nullptr && !exchange->method.empty();
  if (sent && exchange->http_status >= 300) {
    return HttpStatusHint(exchange->http_status, exchange->address);
  }
  switch (code.GetValue()) {
    case WS_ERROR_CONNECT_FAILED:
      return "nothing accepts connections at " + address +
             "; is the server running? (vanta dispatcher runs the reference one)";
    case WS_ERROR_HOST_NOT_RESOLVED:
      return "the host of " + address + " has no address; check the name and the network";
    case WS_ERROR_TIMED_OUT:
      return "no answer in time from " + address + " (5 s to connect, 10 s in all)";
    case WS_ERROR_TLS_FAILED:
      return "the TLS handshake with " + address +
             " failed; HTTPS requests trust only the built-in root certificates";
    default:
      return "";
  }
}

int ReportFailure(const char* command, const std::string& what, ErrorCode code,
                  const ExchangeReport* exchange, const std::string& hint) {
  std::fprintf(stderr, "vanta %s: %s: %s\n", command, what.c_str(), DescribeCode(code).c_str());
  if (exchange != nullptr && !exchange->method.empty()) {
    std::fprintf(stderr, "  last exchange: %s\n", DescribeExchange(*exchange).c_str());
    if (!exchange->server_result.empty()) {
      std::fprintf(stderr, "  refused: result %s, message \"%s\"\n",
                   exchange->server_result.c_str(), exchange->server_message.c_str());
    }
    if (!exchange->answer_excerpt.empty()) {
      std::fprintf(stderr, "  the answer began: \"%s\"\n", exchange->answer_excerpt.c_str());
    }
  }
  if (!hint.empty()) std::fprintf(stderr, "  hint: %s\n", hint.c_str());
  if (code == ErrorCode(WS_ERROR_LIBRARY_VERSION)) {
    std::fputs(ReleasesText("  ").c_str(), stderr);
  }
  return ExitStatusFor(code);
}

std::string ReleasesText(const std::string& prefix) {
  const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
  return prefix + "libcurl " + curl->version + " (compiled against " LIBCURL_VERSION ")\n" +
         prefix + OpenSSL_version(OPENSSL_VERSION) +
         " (compiled against " OPENSSL_VERSION_TEXT ")\n" + prefix +
         "release check: " VANTA_REQUIRED_RELEASES "\n";
}

std::string VersionText() {
  return "vanta " VANTA_VERSION "\nVantaWebService " VANTA_VERSION "\n" + ReleasesText("");
}

}  // namespace tools
}  // namespace vanta
