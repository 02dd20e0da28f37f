// vanta check: a connectivity self-test of the dispatcher, the launcher
// monitor and the web API, one verdict line each.
#include <curl/curl.h>
#include <picojson.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <vanta/WebService.h>

#include "dispatcher/Addresses.h"
#include "tools/commands.h"

#if !defined(VANTA_WEB_API_HOST)
#error "VANTA_WEB_API_HOST comes from the build setting of the same name"
#endif

namespace vanta {
namespace tools {
namespace {

struct CheckOptions {
  std::string arbiter_base = std::string("http://") + kLoopbackHost + ":" +
                             std::to_string(kDispatcherPort) + kDispatcherPath;
  std::string monitor =
      std::string("http://") + kLoopbackHost + ":" + std::to_string(kMonitorPort) + kMonitorPath;
  std::string web_api_host = VANTA_WEB_API_HOST;
  bool json = false;
  Verbosity verbosity;
};

// What was found out about one service, step by step; a step that fails
// ends the checks of that service.
struct Verdict {
  std::string service;
  std::string address;
  std::string name;  // the address the host name resolved to
  bool connected = false;
  std::string tls;  // web API only: the handshake's outcome
  long http = 0;    // the HTTP status of the answer (0: none)
  std::string problem;
  bool Reachable() const { return http != 0; }
};

// Resolves the host of url and opens a TCP connection to its port, without
// TLS: libcurl's connect-only mode on the same host and port.
void ResolveAndConnect(const std::string& url, Verdict* verdict) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parts(curl_url(), &curl_url_cleanup);
  char* host = nullptr;
  char* port = nullptr;
  if (curl_url_set(parts.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parts.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK ||
      curl_url_get(parts.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) != CURLUE_OK) {
    curl_free(host);
    verdict->problem = "the address cannot be parsed";
    return;
  }
  const std::string tcp = std::string("http://") + host + ":" + port + "/";
  curl_free(host);
  curl_free(port);
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle.get(), CURLOPT_URL, tcp.c_str());
  curl_easy_setopt(handle.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(handle.get(), CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(handle.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle.get(), CURLOPT_ERRORBUFFER, error);
  const CURLcode result = curl_easy_perform(handle.get());
  char* ip = nullptr;
  curl_easy_getinfo(handle.get(), CURLINFO_PRIMARY_IP, &ip);
  if (ip != nullptr) verdict->name = ip;
  if (result == CURLE_COULDNT_RESOLVE_HOST) {
    verdict->problem = std::string("name resolution: ") + error;
  } else if (result != CURLE_OK) {
    verdict->problem = std::string("connection: ") + error;
  } else {
    verdict->connected = true;
  }
}

// The HTTP status and transport error of the exchange.
void ReadExchange(const ExchangeReport& exchange, Verdict* verdict) {
  verdict->http = exchange.http_status;
  if (verdict->http == 0) {
    verdict->problem = exchange.transport_error;
    if (exchange.code == ErrorCode(WS_ERROR_TLS_FAILED))
      verdict->problem = "TLS: " + verdict->problem;
  }
}

// Checks the service at address with one exchange with url (on the same
// host and port).
Verdict CheckService(const std::string& service, const std::string& address, const std::string& url,
                     bool post, bool tls, WebService& ws) {
  Verdict verdict;
  verdict.service = service;
  verdict.address = address;
  ResolveAndConnect(url, &verdict);
  if (!verdict.connected) return verdict;
  // One exchange through the library: a POST of an empty object (which a
  // dispatcher refuses as malformed), or a report without figures.
  std::string response;
  if (post) {
    ws.RequestJsonRpc(url, "{}", response);
  } else {
    ws.RequestRestRpc(url, "", response);
  }
  ReadExchange(ws.GetLastExchange(), &verdict);
  if (tls && verdict.http != 0) verdict.tls = "the chain verifies against the built-in roots";
  return verdict;
}

std::string Line(const Verdict& v) {
  std::string text = v.service + std::string(12 - v.service.size(), ' ') + v.address + "  ";
  if (!v.Reachable()) return text + "UNREACHABLE: " + v.problem;
  text += "ok: resolved to " + v.name + ", connected";
  if (!v.tls.empty()) text += ", TLS: " + v.tls;
  return text + ", HTTP " + std::to_string(v.http) + " answer";
}

picojson::value Json(const Verdict& v) {
  picojson::object members;
  members["address"] = picojson::value(v.address);
  members["reachable"] = picojson::value(v.Reachable());
  members["resolved_to"] = picojson::value(v.name);
  members["connected"] = picojson::value(v.connected);
  if (!v.tls.empty()) members["tls"] = picojson::value(v.tls);
  members["http_status"] = picojson::value(static_cast<double>(v.http));
  members["problem"] = picojson::value(v.problem);
  return picojson::value(members);
}

int RunCheck(const CheckOptions& options) {
  TracePrinter trace(options.verbosity.verbose);
  WebService ws;
  const ErrorCode code = ws.Initialize();
  if (code.IsFailure()) return ReportFailure("check", "Initialize failed", code, nullptr);
  const std::vector<Verdict> verdicts = {
      CheckService("dispatcher", options.arbiter_base, options.arbiter_base + "request_token", true,
                   false, ws),
      CheckService("monitor", options.monitor, options.monitor, false, false, ws),
      CheckService("web API", "https://" + options.web_api_host,
                   "https://" + options.web_api_host + "/", true, true, ws),
  };
  bool all = true;
  picojson::object json;
  for (const Verdict& v : verdicts) {
    all = all && v.Reachable();
    if (options.json) {
      json[v.service] = Json(v);
    } else if (!options.verbosity.quiet || !v.Reachable()) {
      std::printf("%s\n", Line(v).c_str());
    }
  }
  if (options.json) std::printf("%s\n", picojson::value(json).serialize(true).c_str());
  return all ? kExitOk : kExitUnreachable;
}

}  // namespace

void AddCheckCommand(CLI::App& app, CommandRun* run) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* sub = app.add_subcommand(
      "check",
      "Check that the dispatcher, the launcher monitor and the web API can be reached: name "
      "resolution, TCP connection, TLS handshake with the built-in roots (web API), and an "
      "HTTP answer. One verdict line each; exit status 3 when any cannot be reached.");
  sub->add_option("--arbiter-base", options->arbiter_base, "Dispatcher base address")
      ->capture_default_str();
  sub->add_option("--monitor-uri", options->monitor, "Launcher monitor address")
      ->capture_default_str();
  sub->add_option("--web-api-host", options->web_api_host, "Host (and :port) of the web API")
      ->capture_default_str();
  sub->add_flag("--json", options->json, "Print the verdicts as one JSON object");
  AddVerbosityFlags(sub, &options->verbosity);
  sub->footer(kExitStatusHelp);
  sub->callback([options, run] { *run = [options] { return RunCheck(*options); }; });
}

}  // namespace tools
}  // namespace vanta
