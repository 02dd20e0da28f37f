// vanta check: a connectivity self-test of the dispatcher, the launcher
// monitor and the web API, one verdict line each.
#include <curl/curl.h>
#include <picojson.h>

#include <cstdio>
#include <functional>
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
  std::string dispatcher = std::string("http://") + kLoopbackHost + ":" +
                           std::to_string(kDispatcherPort) + kDispatcherPath;
  std::string monitor =
      std::string("http://") + kLoopbackHost + ":" + std::to_string(kMonitorPort) + kMonitorPath;
  std::string web_api_origin = "https://" VANTA_WEB_API_HOST;
  bool json = false;
};

// What was found out about one service, step by step; a step that fails
// ends the checks of that service.
struct Verdict {
  std::string service;  // as the line shows it
  std::string key;      // its key in the JSON object
  std::string address;
  std::string name;  // the address the host name resolved to
  bool connected = false;
  std::string tls;  // HTTPS only: the handshake's outcome
  long http = 0;    // the HTTP status of the answer (0: none)
  std::string problem;
  std::string hint;
  bool Reachable() const { return http != 0; }
  bool Ok() const { return Reachable() && http < 400; }
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

// Checks one service: its host and port, then one exchange through the
// library (exchange makes it on ws).
Verdict CheckService(const char* service, const char* key, const std::string& address,
                     WebService& ws, const std::function<void()>& exchange) {
  Verdict verdict;
  verdict.service = service;
  verdict.key = key;
  verdict.address = address;
  ResolveAndConnect(address, &verdict);
  if (!verdict.connected) return verdict;
  exchange();
  const ExchangeReport& last = ws.GetLastExchange();
  verdict.http = last.http_status;
  if (verdict.http == 0) {
    verdict.problem = last.transport_error;
    if (last.code == ErrorCode(WS_ERROR_TLS_FAILED)) verdict.problem = "TLS: " + verdict.problem;
  } else if (address.rfind("https:", 0) == 0) {
    verdict.tls = "the chain verifies against the built-in roots";
  }
  if (verdict.Reachable() && !verdict.Ok()) {
    verdict.problem = HttpStatusText(verdict.http) + " answer";
    verdict.hint = FailureHint(last.code, &last, address);
  }
  return verdict;
}

std::vector<Verdict> CheckAll(const CheckOptions& options, WebService& ws) {
  std::string response;
  // The dispatcher refuses an empty object as malformed; the monitor takes
  // a report without figures; the web API refuses an empty registration.
  Verdict dispatcher = CheckService("dispatcher", "dispatcher", options.dispatcher, ws, [&] {
    ws.RequestJsonRpc(options.dispatcher + "request_token", "{}", response);
  });
  Verdict monitor = CheckService("monitor", "monitor", options.monitor, ws,
                                 [&] { ws.RequestRestRpc(options.monitor, "", response); });
  Verdict web_api = CheckService("web API", "web_api", options.web_api_origin, ws, [&] {
    int status = 0;
    ws.SetUrlSendDeviceId(options.web_api_origin);
    ws.RequestSendDeviceId("", "", &response, &status, "1", "0");
  });
  return {dispatcher, monitor, web_api};
}

std::string Line(const Verdict& v) {
  std::string text = v.service + std::string(12 - v.service.size(), ' ') + v.address + "  ";
  if (!v.Reachable()) return text + "UNREACHABLE: " + v.problem;
  std::string steps = "resolved to " + v.name + ", connected";
  if (!v.tls.empty()) steps += ", TLS: " + v.tls;
  if (!v.Ok()) return text + "REFUSED: " + v.problem + " (" + steps + ")\n  hint: " + v.hint;
  return text + "ok: " + steps + ", " + HttpStatusText(v.http) + " answer";
}

picojson::value Json(const Verdict& v) {
  picojson::object members;
  members["address"] = picojson::value(v.address);
  members["ok"] = picojson::value(v.Ok());
  members["reachable"] = picojson::value(v.Reachable());
  members["resolved_to"] = picojson::value(v.name);
  members["connected"] = picojson::value(v.connected);
  if (!v.tls.empty()) members["tls"] = picojson::value(v.tls);
  members["http_status"] = picojson::value(static_cast<double>(v.http));
  members["problem"] = picojson::value(v.problem);
  return picojson::value(members);
}

int RunCheck(const CheckOptions& options, const Globals& globals) {
  TracePrinter trace(globals.verbose);
  WebService ws;
  const ErrorCode code = ws.Initialize();
  if (code.IsFailure()) return ReportFailure("check", "Initialize failed", code, nullptr, "");
  int status = kExitOk;
  picojson::object json;
  for (const Verdict& v : CheckAll(options, ws)) {
    if (!v.Reachable()) {
      status = kExitUnreachable;
    } else if (!v.Ok() && status == kExitOk) {
      status = kExitRefused;
    }
    if (options.json) {
      json[v.key] = Json(v);
    } else if (!globals.quiet || !v.Ok()) {
      std::printf("%s\n", Line(v).c_str());
    }
  }
  if (options.json) std::fputs(picojson::value(json).serialize(true).c_str(), stdout);
  return status;
}

}  // namespace

Command CheckCommand() {
  auto options = std::make_shared<CheckOptions>();
  Command command;
  command.name = "check";
  command.summary = "Check that the dispatcher, the monitor and the web API answer";
  command.description =
      "Check that the dispatcher, the launcher monitor and the web API can be reached and "
      "answer: name resolution, TCP connection, TLS handshake with the built-in roots "
      "(https), and an HTTP answer below 400. One verdict line each on stdout.";
  command.options = {
      UrlOption({"--dispatcher", "--arbiter-base"}, UrlKind::kBase,
                "Dispatcher base address, ending with '/'", &options->dispatcher),
      UrlOption({"--monitor-uri"}, UrlKind::kWhole, "Launcher monitor address", &options->monitor),
      UrlOption({"--web-api-origin"}, UrlKind::kOrigin, "Web API: https://host[:port]",
                &options->web_api_origin),
      FlagOption({"--json"}, "Print the verdicts as one JSON object (see the manual)",
                 &options->json),
  };
  command.exit_statuses = {
      {kExitOk, "all three answered"},
      kStatusFailed,
      kStatusUsage,
      {kExitUnreachable, "one of them could not be reached"},
      {kExitRefused, "one of them answered with an HTTP status of 400 or more"}};
  command.run = [options](const Globals& globals) { return RunCheck(*options, globals); };
  return command;
}

}  // namespace tools
}  // namespace vanta
