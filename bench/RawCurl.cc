#include "bench/RawCurl.h"

namespace vanta {
namespace bench {

namespace {

size_t Append(char* data, size_t size, size_t count, void* userdata) {
  static_cast<std::string*>(userdata)->append(data, size * count);
  return size * count;
}

// The options that the library's transport sets on both of its exchanges.
void SetCommonOptions(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "zarerozevoz/0.0.1");
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle, CURLOPT_TCP_NODELAY, 1L);
}

curl_slist* RestHeaders() {
  curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  headers = curl_slist_append(headers, "Content-Type: application/json; charset: utf-8");
  return curl_slist_append(headers, "Connection: Keep-Alive");
}

}  // namespace

bool RawPost(const std::string& url, const std::string& body, std::string& response) {
  CURL* handle = curl_easy_init();
  if (handle == nullptr) return false;
  response.clear();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  headers = curl_slist_append(headers, "Content-Type: application/json; charset: utf-8");
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  SetCommonOptions(handle);
  CURLcode result = curl_easy_perform(handle);
  curl_easy_cleanup(handle);
  curl_slist_free_all(headers);
  return result == CURLE_OK;
}

bool RawGetFresh(const std::string& url, const std::string& query, std::string& response) {
  RawKeepAlive once;
  return once.Get(url, query, response);
}

RawKeepAlive::RawKeepAlive() : handle_(curl_easy_init()), headers_(RestHeaders()) {
  if (handle_ == nullptr) return;
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &buffer_);
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
  SetCommonOptions(handle_);
}

RawKeepAlive::~RawKeepAlive() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
  curl_slist_free_all(headers_);
}

bool RawKeepAlive::Get(const std::string& url, const std::string& query, std::string& response) {
  if (handle_ == nullptr) return false;
  const std::string full = url + "?" + query;
  buffer_.clear();
  curl_easy_setopt(handle_, CURLOPT_URL, full.c_str());
  curl_easy_setopt(handle_, CURLOPT_PROXY, "");
  bool ok = curl_easy_perform(handle_) == CURLE_OK;
  response = ok ? buffer_ : std::string();
  return ok;
}

}  // namespace bench
}  // namespace vanta
