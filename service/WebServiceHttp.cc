#include "service/WebServiceHttp.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "core/Result.h"
#include "service/BuiltinRoots.h"
#include "service/Codes.h"

namespace vanta {

namespace {

const char kUserAgent[] = "zarerozevoz/0.0.1";
const char kAcceptHeader[] = "Accept: application/json";
// "charset:" with a colon is what the servers have always been sent.
const char kContentTypeHeader[] = "Content-Type: application/json; charset: utf-8";
const char kKeepAliveHeader[] = "Connection: Keep-Alive";

// Appends text to *list. On failure the whole list is freed and *list is
// null, so that no partial list is ever left behind.
bool AppendHeader(curl_slist** list, const char* text) {
  curl_slist* longer = curl_slist_append(*list, text);
  if (longer == nullptr) {
    curl_slist_free_all(*list);
    *list = nullptr;
    return false;
  }
  *list = longer;
  return true;
}

// The request headers of both exchanges; the REST exchange adds the third.
// Null when memory runs out.
curl_slist* BuildHeaders(bool keep_alive) {
  curl_slist* list = nullptr;
  if (!AppendHeader(&list, kAcceptHeader) || !AppendHeader(&list, kContentTypeHeader)) {
    return nullptr;
  }
  if (keep_alive && !AppendHeader(&list, kKeepAliveHeader)) return nullptr;
  return list;
}

// The options that end the set-up of both exchanges, in this order.
void SetLimitsAndBehaviour(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle, CURLOPT_TCP_NODELAY, 1L);
}

// Only a lower-case scheme selects the built-in roots.
bool UsesBuiltinRoots(const std::string& url) {
  return url.size() >= 8 && url.compare(0, 8, "https://") == 0;
}

bool IsCertAlreadyInStore(unsigned long error) {
  return ERR_GET_LIB(error) == ERR_LIB_X509 &&
         ERR_GET_REASON(error) == X509_R_CERT_ALREADY_IN_HASH_TABLE;
}

}  // namespace

WebServiceHttp::WebServiceHttp() : handle(nullptr), headers(nullptr) {}

WebServiceHttp::~WebServiceHttp() { CloseRestHandle(); }

void WebServiceHttp::CloseRestHandle() {
  if (handle != nullptr) {
    curl_easy_cleanup(handle);
    handle = nullptr;
    receive_buffer.clear();
  }
  if (headers != nullptr) {
    curl_slist_free_all(headers);
    headers = nullptr;
  }
}

ErrorCode WebServiceHttp::PostJson(const std::string& url, const std::string& body,
                                   std::string& response) {
  CURL* post = curl_easy_init();
  if (post == nullptr) return WS_ERROR_NO_TRANSPORT;
  response.clear();
  curl_slist* post_headers = nullptr;
  ErrorCode result = PrepareJsonPost(post, url, body, response, &post_headers);
  if (!IsFailure(result)) result = MapTransportResult(curl_easy_perform(post));
  curl_easy_cleanup(post);
  curl_slist_free_all(post_headers);
  return result;
}

ErrorCode WebServiceHttp::PrepareJsonPost(CURL* post, const std::string& url,
                                          const std::string& body, std::string& response,
                                          curl_slist** post_headers) {
  curl_easy_setopt(post, CURLOPT_URL, url.c_str());
  curl_easy_setopt(post, CURLOPT_PROXY, "");
  curl_easy_setopt(post, CURLOPT_WRITEFUNCTION, &WebServiceHttp::WriteCallback);
  curl_easy_setopt(post, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(post, CURLOPT_POST, 1L);
  *post_headers = BuildHeaders(false);
  if (*post_headers == nullptr) return WS_ERROR_OUT_OF_MEMORY;
  curl_easy_setopt(post, CURLOPT_HTTPHEADER, *post_headers);
  curl_easy_setopt(post, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(post, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  if (UsesBuiltinRoots(url)) {
    // No CA file or directory: the built-in roots, loaded by the TLS
    // context callback, are the only trusted certificates.
    curl_easy_setopt(post, CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(post, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(post, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(post, CURLOPT_SSL_CTX_FUNCTION, &WebServiceHttp::SslContextCallback);
  }
  SetLimitsAndBehaviour(post);
  return WS_SUCCESS;
}

ErrorCode WebServiceHttp::OpenRestHandle() {
  CloseRestHandle();
  handle = curl_easy_init();
  if (handle == nullptr) return WS_ERROR_NO_TRANSPORT;
  receive_buffer.clear();
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WebServiceHttp::WriteCallback);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receive_buffer);
  headers = BuildHeaders(true);
  if (headers == nullptr) {
    CloseRestHandle();
    return WS_ERROR_OUT_OF_MEMORY;
  }
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  SetLimitsAndBehaviour(handle);
  return WS_SUCCESS;
}

ErrorCode WebServiceHttp::RequestRest(const std::string& url, const std::string& query,
                                      std::string& response) {
  // The "?" is always inserted, also before an empty query.
  const std::string full_url = url + "?" + query;
  if (handle == nullptr) OpenRestHandle();
  if (handle == nullptr) return WS_ERROR_NO_TRANSPORT;
  response.clear();
  receive_buffer.clear();
  curl_easy_setopt(handle, CURLOPT_URL, full_url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    // A failed exchange closes the handle: the next one starts afresh on a
    // new connection.
    CloseRestHandle();
    return MapTransportResult(result);
  }
  response = receive_buffer;
  return WS_SUCCESS;
}

size_t WebServiceHttp::WriteCallback(char* data, size_t size, size_t count, void* userdata) {
  const size_t length = size * count;
  static_cast<std::string*>(userdata)->append(data, length);
  return length;
}

CURLcode WebServiceHttp::SslContextCallback(CURL* /*curl*/, void* ssl_ctx, void* /*user*/) {
  CURLcode result = CURLE_ABORTED_BY_CALLBACK;
  ERR_clear_error();
  BIO* bio = BIO_new_mem_buf(kBuiltinRootsPem, -1);
  STACK_OF(X509_INFO)* items = nullptr;
  if (bio != nullptr) items = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  X509_STORE* store = nullptr;
  if (items != nullptr) store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_ctx));
  if (store != nullptr) {
    bool refused = false;
    for (int i = 0; i < sk_X509_INFO_num(items) && !refused; ++i) {
      X509_INFO* item = sk_X509_INFO_value(items, i);
      if (item->x509 != nullptr && X509_STORE_add_cert(store, item->x509) != 1) {
        // A root that the store already holds is no failure.
        if (IsCertAlreadyInStore(ERR_peek_last_error())) {
          ERR_clear_error();
        } else {
          refused = true;
          continue;
        }
      }
      if (item->crl != nullptr) X509_STORE_add_crl(store, item->crl);
    }
    if (!refused) result = CURLE_OK;
  }
  sk_X509_INFO_pop_free(items, X509_INFO_free);
  BIO_free(bio);
  ERR_clear_error();
  return result;
}

}  // namespace vanta
