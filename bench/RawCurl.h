// The bare-libcurl baseline: the same exchanges as the library's transport,
// with the same options, and nothing else (no JSON, no checks).
#ifndef VANTA_BENCH_RAW_CURL_H_
#define VANTA_BENCH_RAW_CURL_H_

#include <curl/curl.h>

#include <string>

namespace vanta {
namespace bench {

// POSTs body to url on a handle made for this one call. response receives
// the answer body. True on CURLE_OK.
bool RawPost(const std::string& url, const std::string& body, std::string& response);

// GETs url + "?" + query. Fresh: a handle made and closed for the call.
bool RawGetFresh(const std::string& url, const std::string& query, std::string& response);

// GETs over one handle kept for the object's lifetime, so that libcurl keeps
// its connection alive between calls.
class RawKeepAlive {
 public:
  RawKeepAlive();
  ~RawKeepAlive();
  RawKeepAlive(const RawKeepAlive&) = delete;
  RawKeepAlive& operator=(const RawKeepAlive&) = delete;

  bool Get(const std::string& url, const std::string& query, std::string& response);

 private:
  CURL* handle_;
  curl_slist* headers_;
  std::string buffer_;
};

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_RAW_CURL_H_
