// Synchronous client of the dispatcher, the launcher monitor and the web API.
//
// Every request runs one HTTP exchange on the calling thread and returns an
// ErrorCode: exactly 0 on success, a code with bit 31 set on failure. One
// object serves one thread at a time; distinct objects may run on distinct
// threads at once. Nothing throws: running out of memory gives
// WS_ERROR_OUT_OF_MEMORY (copying an object may throw std::bad_alloc, as
// copying a std::string does). An answer larger than 1 MiB fails the
// exchange (WS_ERROR_FAILED); redirects lead only to http and https, never
// from https to http. GetLastExchange tells what the last request did.
#ifndef VANTA_WEB_SERVICE_H_
#define VANTA_WEB_SERVICE_H_

#include <memory>
#include <string>

#include "vanta/ErrorCode.h"
#include "vanta/Export.h"
#include "vanta/Report.h"
#include "vanta/ServiceTypes.h"
#include "vanta/Trace.h"

namespace vanta {

class Cancellation;
class WebServiceAccessor;
class WebServiceImpl;
class WebServiceHttp;

class VANTA_EXPORT WebService {
 public:
  // The environment entries and quality settings of the game service
  // request (vanta/ServiceTypes.h).
  using ClientEnvironmentInfo = vanta::ClientEnvironmentInfo;
  using QualityParams = vanta::QualityParams;

  // The most quality levels per medium.
  static const int MAX_QUALITY_SETTING_LEVEL;

  // Sets the default addresses; creates nothing.
  WebService();
  // Copies share the transport of their source (and release it once, when
  // the last copy lets go of it).
  // REQUIRES: copies that share a transport are not used on two threads at
  // once.
  WebService(const WebService& other);
  WebService& operator=(const WebService& other);
  virtual ~WebService();

  // Creates the transport after checking the run-time OpenSSL and libcurl
  // releases. 0, WS_ERROR_ALREADY_INITIALIZED, WS_ERROR_OUT_OF_MEMORY or
  // WS_ERROR_LIBRARY_VERSION.
  ErrorCode Initialize();
  // Releases the transport. Safe at any time, any number of times.
  void Terminate();

  // Sets the dispatcher base; the three dispatcher addresses become the base
  // followed directly by the request's name.
  void SetUrlArbiterBase(const std::string& base);
  // Points the device identifier registration at the web API.
  void SetUrlSendDeviceId();
  // Points it at origin ("https://host[:port]") followed by the
  // registration's fixed path.
  void SetUrlSendDeviceId(const std::string& origin);
  // Sets the launcher monitor address as given.
  void SetUriRequestLauncherMonitorPut(const std::string& uri);
  // Sets the launcher monitor address to scheme + host + ":" + port + "/" +
  // path. The scheme must be exactly "http://" or "https://"; otherwise
  // WS_ERROR_FAILED and the address stays as it was.
  ErrorCode SetUriRequestLauncherMonitorPut(const std::string& scheme, const std::string& host,
                                            int port, const std::string& path);

  // POSTs body (JSON) to url; response receives the answer body.
  ErrorCode RequestJsonRpc(const std::string& url, const std::string& body, std::string& response);
  // GETs url + "?" + query over the object's kept-alive connection.
  ErrorCode RequestRestRpc(const std::string& url, const std::string& query, std::string& response);

  // True when another attempt cannot change the outcome: success, a definite
  // server answer, or no transport.
  bool IsServerResponse(ErrorCode code);

  ErrorCode RequestZuToken(int client_version, const std::string& gameid, int try_count,
                           std::string& token, std::string& zuc_key_value);
  ErrorCode RequestZuAccesstoken(int client_version, const std::string& token,
                                 const std::string& zuc_key_value, int try_count,
                                 std::string& access_token);
  // Outputs are written only on success, except that an out-of-range quality
  // value leaves the connection outputs and the levels stored before it.
  ErrorCode RequestZuGameservice(int client_version, const std::string& access_token,
                                 int video_profile, int audio_profile, int io_mouse, int io_touch,
                                 int io_keyboard, int io_sensor, int io_gamepad, int yuv_itu_r_bt,
                                 int try_count, const ClientEnvironmentInfo& env, std::string& ipv4,
                                 std::string& ipv6, int& control_port, int& video_port,
                                 int& audio_port, int& input_port, std::string& key1,
                                 std::string& key2, QualityParams& quality);
  ErrorCode RequestLauncherMonitorPut(int slotid, int capture_down_time, int heartbeat_down_time,
                                      int handling_down_time, int client_delay,
                                      const std::string& remote_ip, int remote_port);
  // *response receives the answer text once the request was attempted;
  // *status receives a non-zero status of the answer. Neither may be null.
  ErrorCode RequestSendDeviceId(const std::string& zu_key_value, const std::string& device_id,
                                std::string* response, int* status, const std::string& request_type,
                                const std::string& client_version);

  // What the last request of this object did: its exchange (method,
  // address, HTTP status, libcurl's error text, bytes, time), its code and,
  // for an answer, a refusal's result and message or the start of an
  // answer that could not be read. Empty before the first request.
  // REQUIRES: called on the thread that makes the requests.
  const ExchangeReport& GetLastExchange() const;

 private:
  friend class WebServiceAccessor;

  bool IsInitialized() const;
  // Lets an accessor's Cancel() end this object's exchanges in flight.
  void SetCancellation(Cancellation* cancel);
  // Ends a request: code becomes the last exchange's code.
  ErrorCode Finish(ErrorCode code);

  std::string url_arbiter_base;
  std::string url_request_token;
  std::string url_request_accesstoken;
  std::string url_request_gameservice;
  std::string uri_launcher_monitor_put;
  std::string url_send_device_id;
  std::shared_ptr<WebServiceImpl> impl;
  std::shared_ptr<WebServiceHttp> http;
  ExchangeReport last_exchange;
  Cancellation* cancel = nullptr;
};

}  // namespace vanta

#endif  // VANTA_WEB_SERVICE_H_
