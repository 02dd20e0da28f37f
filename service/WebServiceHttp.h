// The HTTP transport over the libcurl easy interface.
//
// Two exchanges: the JSON POST, which uses a fresh handle per call and, for
// "https://" addresses, trusts only the built-in roots; and the REST
// exchange, a GET over a handle kept in the object so that its connection
// stays alive between calls. Both refuse answers larger than
// kMaxAnswerBytes, follow redirects only to http and https and never from
// https to http, trace every exchange and describe it in an ExchangeReport.
// An exchange in flight ends within milliseconds once the Cancellation
// given to SetCancellation is raised (WS_ERROR_ABORTED).
// One object serves one thread at a time.
#ifndef VANTA_SERVICE_WEB_SERVICE_HTTP_H_
#define VANTA_SERVICE_WEB_SERVICE_HTTP_H_

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/Cancellation.h"
#include "vanta/ErrorCode.h"
#include "vanta/Report.h"

namespace vanta {

class WebServiceHttp {
 public:
  // An answer body larger than this ends the exchange with the code of
  // libcurl's write error (WS_ERROR_FAILED) before more is kept.
  static constexpr size_t kMaxAnswerBytes = 1 << 20;

  WebServiceHttp();
  WebServiceHttp(const WebServiceHttp&) = delete;
  WebServiceHttp& operator=(const WebServiceHttp&) = delete;
  // Closes the REST handle.
  virtual ~WebServiceHttp();

  // Exchanges from now on end early when cancel (may be null; it must
  // outlive its use here) is raised.
  void SetCancellation(Cancellation* cancel) { cancel_ = cancel; }

  // POSTs body to url. response is emptied, then receives the answer body
  // (after a failure: whatever arrived before it). 0 or a failure code.
  // *report (may be null) receives the exchange's transport facts and code.
  ErrorCode PostJson(const std::string& url, const std::string& body, std::string& response,
                     ExchangeReport* report = nullptr);

  // GETs url + "?" + query over the kept-alive handle. response receives the
  // body on success and is empty after a failure, which also closes the
  // handle so that the next exchange opens a new connection. *report as
  // for PostJson.
  ErrorCode RequestRest(const std::string& url, const std::string& query, std::string& response,
                        ExchangeReport* report = nullptr);

  struct HandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };
  struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };
  struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
  };
  using Handle = std::unique_ptr<CURL, HandleDeleter>;
  using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;
  using Multi = std::unique_ptr<CURLM, MultiDeleter>;

  // Where a handle's write callback puts the answer body.
  struct Sink {
    std::string* body;
    bool too_large = false;  // the answer passed kMaxAnswerBytes
  };

 private:
  // Creates and configures the REST handle. 0 or WS_ERROR_NO_TRANSPORT.
  ErrorCode OpenRestHandle();
  void CloseRestHandle();

  // The declaration order makes the handle go before its header list, and
  // before the multi handle that keeps its connection.
  Cancellation* cancel_ = nullptr;
  Multi post_multi_;
  HeaderList headers_;
  Multi rest_multi_;
  Handle handle_;
  std::string receive_buffer_;
  Sink rest_sink_{&receive_buffer_};
  char rest_error_[CURL_ERROR_SIZE] = {};
};

}  // namespace vanta

#endif  // VANTA_SERVICE_WEB_SERVICE_HTTP_H_
