#include "bench/Baseline.h"

#include <vector>

#include "bench/Allocations.h"

namespace vanta {
namespace bench {
namespace {

size_t Append(char* data, size_t size, size_t count, void* answer) {
  static_cast<std::string*>(answer)->append(data, size * count);
  return size * count;
}

CURL* NewHandle(curl_slist* headers, std::string* answer) {
  CURL* handle = curl_easy_init();
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, answer);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "zarerozevoz/0.0.1");
  for (CURLoption option :
       {CURLOPT_FOLLOWLOCATION, CURLOPT_NOSIGNAL, CURLOPT_FAILONERROR, CURLOPT_TCP_NODELAY}) {
    curl_easy_setopt(handle, option, 1L);
  }
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 10L);
  return handle;
}

curl_slist* Headers(bool keep_alive) {
  curl_slist* list = curl_slist_append(nullptr, "Accept: application/json");
  list = curl_slist_append(list, "Content-Type: application/json; charset: utf-8");
  return keep_alive ? curl_slist_append(list, "Connection: Keep-Alive") : list;
}

// The string member key of a compact answer, found by text search.
std::string Member(const std::string& answer, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const size_t at = answer.find(marker) + marker.size();
  return at < marker.size() ? "" : answer.substr(at, answer.find('"', at) - at);
}

}  // namespace

RawKeptAlive::RawKeptAlive() : headers_(Headers(true)), handle_(NewHandle(headers_, &answer_)) {}

RawKeptAlive::~RawKeptAlive() {
  curl_easy_cleanup(handle_);
  curl_slist_free_all(headers_);
}

bool RawKeptAlive::Get(const std::string& url) {
  answer_.clear();
  curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
  return curl_easy_perform(handle_) == CURLE_OK && answer_ == "{\"status\":\"ok\"}";
}

std::string RawNegotiation::Body(int step) const {
  Uncounted made_before;
  std::string body = templates[step];
  std::vector<std::string> tokens;
  if (step == 1) tokens = {Member(answers[0], "token"), Member(answers[0], "zuc_key_value")};
  if (step == 2) tokens = {Member(answers[1], "access_token")};
  for (const std::string& token : tokens) body.replace(body.find('~'), 1, token);
  return body;
}

bool RawNegotiation::Post(int step) {
  const std::string body = Body(step);
  answers[step].clear();
  curl_slist* headers = Headers(false);
  CURL* handle = NewHandle(headers, &answers[step]);
  curl_easy_setopt(handle, CURLOPT_URL, urls[step].c_str());
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  const bool ok = curl_easy_perform(handle) == CURLE_OK;
  curl_easy_cleanup(handle);
  curl_slist_free_all(headers);
  return ok;
}

}  // namespace bench
}  // namespace vanta
