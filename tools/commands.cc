#include "tools/commands.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/opensslv.h>

#include <cstdio>
#include <sstream>

#include <vanta/WebService.h>

#if !defined(VANTA_VERSION) || !defined(VANTA_REQUIRED_RELEASES)
#error "VANTA_VERSION and VANTA_REQUIRED_RELEASES come from the build"
#endif

namespace vanta {
namespace tools {

const char kExitStatusHelp[] =
    "Exit status: 0 success; 1 another failure (the result code is printed in hex with its "
    "WS_ name); 2 unusable options; 3 could not reach the server (name, connection, TLS or "
    "time limit); 4 the server refused (an HTTP error status or a refusal result); 5 the "
    "answer was not what the protocol allows.";

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

void AddVerbosityFlags(CLI::App* sub, Verbosity* verbosity) {
  CLI::Option* verbose =
      sub->add_flag("-v,--verbose", verbosity->verbose, "Print the library's trace on stderr");
  sub->add_flag("-q,--quiet", verbosity->quiet, "Print no progress, only failures")
      ->excludes(verbose);
}

namespace {

void PrintTraceLine(const char* line, void*) { std::fprintf(stderr, "* %s\n", line); }

}  // namespace

TracePrinter::TracePrinter(bool verbose) : verbose_(verbose) {
  if (verbose_) SetTraceHandler(&PrintTraceLine, nullptr);
}

TracePrinter::~TracePrinter() {
  if (verbose_) SetTraceHandler(nullptr, nullptr);
}

std::string DescribeExchange(const ExchangeReport& exchange) {
  std::string text = exchange.method + " " + exchange.address + ": ";
  if (exchange.http_status != 0) text += "HTTP " + std::to_string(exchange.http_status);
  if (!exchange.transport_error.empty()) {
    if (exchange.http_status != 0) text += ", ";
    text += exchange.transport_error;
  }
  return text + "; " + std::to_string(exchange.bytes_sent) + " bytes sent, " +
         std::to_string(exchange.bytes_received) + " received, " +
         std::to_string(exchange.elapsed_ms) + " ms";
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
    if (code == ErrorCode(WS_ERROR_BAD_RESPONSE)) {
      std::fprintf(stderr, "  the answer began: \"%s\"\n", exchange->answer_excerpt.c_str());
    }
  }
  if (!hint.empty()) std::fprintf(stderr, "  hint: %s\n", hint.c_str());
  if (code == ErrorCode(WS_ERROR_LIBRARY_VERSION)) {
    std::fputs(ReleasesText("  ").c_str(), stderr);
  }
  return ExitStatusFor(code);
}

std::string ConnectionHint(ErrorCode code, const std::string& address) {
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
             " failed; an HTTPS dispatcher request trusts only the built-in root certificates";
    default:
      return "";
  }
}

std::string ReleasesText(const std::string& prefix) {
  const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
  return prefix + "libcurl " + curl->version + " (compiled against " LIBCURL_VERSION ")\n" +
         prefix + OpenSSL_version(OPENSSL_VERSION) +
         " (compiled against " OPENSSL_VERSION_TEXT ")\n" + prefix +
         "release check: " VANTA_REQUIRED_RELEASES "\n";
}

std::string VersionText() {
  const std::string text =
      "vanta " VANTA_VERSION "\nVantaWebService " VANTA_VERSION "\n" + ReleasesText("");
  return text.substr(0, text.size() - 1);  // CLI11 adds the line end
}

std::string WrappingFormatter::make_help(const CLI::App* app, std::string name,
                                         CLI::AppFormatMode mode) const {
  constexpr size_t kWidth = 80;
  std::istringstream in(CLI::Formatter::make_help(app, name, mode));
  std::string wrapped;
  for (std::string line; std::getline(in, line);) {
    // An option's explanation starts after its names and a gap of blanks;
    // any other text continues under its own indentation.
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) indent = 0;
    const size_t gap = line.rfind("-", 0) == std::string::npos ? line.find("  ", indent) : 0;
    if (indent > 0 && gap != std::string::npos && gap > 0) {
      indent = line.find_first_not_of(' ', gap);
      if (indent == std::string::npos || indent >= kWidth / 2) indent = 4;
    }
    while (line.size() > kWidth) {
      size_t cut = line.rfind(' ', kWidth);
      if (cut == std::string::npos || cut <= indent) break;
      wrapped += line.substr(0, cut) + "\n";
      line = std::string(indent, ' ') + line.substr(line.find_first_not_of(' ', cut));
    }
    wrapped += line + "\n";
  }
  return wrapped;
}

}  // namespace tools
}  // namespace vanta
