// The HTTP transport over the libcurl easy interface.
//
// Two exchanges: the JSON POST, which uses a fresh handle per call and, for
// "https://" addresses, trusts only the built-in roots; and the REST
// exchange, a GET over a handle kept in the object so that its connection
// stays alive between calls. One object serves one thread at a time.
#ifndef VANTA_SERVICE_WEB_SERVICE_HTTP_H_
#define VANTA_SERVICE_WEB_SERVICE_HTTP_H_

#include <curl/curl.h>

#include <cstddef>
#include <string>

#include "vanta/ErrorCode.h"

namespace vanta {

class WebServiceHttp {
 public:
  WebServiceHttp();
  WebServiceHttp(const WebServiceHttp&) = delete;
  WebServiceHttp& operator=(const WebServiceHttp&) = delete;
  // Closes the REST handle and frees its header list.
  virtual ~WebServiceHttp();

  // POSTs body to url. response is emptied, then receives the answer body
  // (after a failure: whatever arrived before it). 0 or a failure code.
  static ErrorCode PostJson(const std::string& url, const std::string& body, std::string& response);

  // Sets every option of a JSON POST on post, in order. *post_headers
  // receives the header list, which the caller frees after cleaning up post.
  // 0, or WS_ERROR_OUT_OF_MEMORY when the header list cannot be built.
  static ErrorCode PrepareJsonPost(CURL* post, const std::string& url, const std::string& body,
                                   std::string& response, curl_slist** post_headers);

  // GETs url + "?" + query over the kept-alive handle. response receives the
  // body on success and is empty after a failure, which also closes the
  // handle so that the next exchange opens a new connection.
  ErrorCode RequestRest(const std::string& url, const std::string& query, std::string& response);

  // Creates and configures the REST handle. 0 or WS_ERROR_NO_TRANSPORT.
  ErrorCode OpenRestHandle();

  // True while the REST handle is open.
  bool HasRestHandle() const { return handle != nullptr; }

  // libcurl write callback: appends every chunk to the std::string at
  // userdata and accepts it whole.
  static size_t WriteCallback(char* data, size_t size, size_t count, void* userdata);

  // libcurl TLS context callback: loads the built-in roots into the
  // context's certificate store. CURLE_OK, or CURLE_ABORTED_BY_CALLBACK when
  // the store cannot be prepared.
  static CURLcode SslContextCallback(CURL* curl, void* ssl_ctx, void* user);

 private:
  void CloseRestHandle();

  CURL* handle;
  curl_slist* headers;
  std::string receive_buffer;
};

}  // namespace vanta

#endif  // VANTA_SERVICE_WEB_SERVICE_HTTP_H_
