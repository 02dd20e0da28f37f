// The HTTP transport over the libcurl easy interface.
//
// Two exchanges: the JSON POST, which uses a fresh handle per call and, for
// "https://" addresses, trusts only the built-in roots; and the REST
// exchange, a GET over a handle kept in the object so that its connection
// stays alive between calls. Both refuse answers larger than
// kMaxAnswerBytes, follow redirects only to http and https and never from
// https to http, and trace every exchange.
// One object serves one thread at a time.
#ifndef VANTA_SERVICE_WEB_SERVICE_HTTP_H_
#define VANTA_SERVICE_WEB_SERVICE_HTTP_H_

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>

#include "vanta/ErrorCode.h"

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

  // POSTs body to url. response is emptied, then receives the answer body
  // (after a failure: whatever arrived before it). 0 or a failure code.
  ErrorCode PostJson(const std::string& url, const std::string& body, std::string& response);

  // GETs url + "?" + query over the kept-alive handle. response receives the
  // body on success and is empty after a failure, which also closes the
  // handle so that the next exchange opens a new connection.
  ErrorCode RequestRest(const std::string& url, const std::string& query, std::string& response);

  struct HandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };
  struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };
  using Handle = std::unique_ptr<CURL, HandleDeleter>;
  using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

  // Where a handle's write callback puts the answer body.
  struct Sink {
    std::string* body;
    bool too_large = false;  // the answer passed kMaxAnswerBytes
  };

 private:
  // Creates and configures the REST handle. 0 or WS_ERROR_NO_TRANSPORT.
  ErrorCode OpenRestHandle();
  void CloseRestHandle();

  // The declaration order makes the handle go before its header list.
  HeaderList headers_;
  Handle handle_;
  std::string receive_buffer_;
  Sink rest_sink_{&receive_buffer_};
  char rest_error_[CURL_ERROR_SIZE] = {};
};

}  // namespace vanta

#endif  // VANTA_SERVICE_WEB_SERVICE_HTTP_H_
