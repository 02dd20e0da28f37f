#include "service/WebServiceHttp.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cctype>

#include "core/Printable.h"
#include "core/Trace.h"
#include "platform/Env.h"
#include "service/BuiltinRoots.h"
#include "service/Codes.h"

namespace vanta {

namespace {

const char kUserAgent[] = "zarerozevoz/0.0.1";
const char kAcceptHeader[] = "Accept: application/json";
// "charset:" with a colon is what the servers have always been sent.
const char kContentTypeHeader[] = "Content-Type: application/json; charset: utf-8";
const char kKeepAliveHeader[] = "Connection: Keep-Alive";

// The request headers of both exchanges; the REST exchange adds the third.
// Null when memory runs out.
WebServiceHttp::HeaderList BuildHeaders(bool keep_alive) {
  WebServiceHttp::HeaderList list;
  for (const char* text : {kAcceptHeader, kContentTypeHeader, kKeepAliveHeader}) {
    if (text == kKeepAliveHeader && !keep_alive) break;
    curl_slist* longer = curl_slist_append(list.get(), text);
    if (longer == nullptr) return nullptr;
    list.release();
    list.reset(longer);
  }
  return list;
}

// Keeps every chunk of the answer body, up to kMaxAnswerBytes in all; a
// chunk that would pass it, or memory running out, fails the exchange.
// Nothing may be thrown through libcurl.
size_t WriteCallback(char* data, size_t size, size_t count, void* userdata) {
  WebServiceHttp::Sink* sink = static_cast<WebServiceHttp::Sink*>(userdata);
  const size_t length = size * count;
  if (length > WebServiceHttp::kMaxAnswerBytes - sink->body->size()) {
    sink->too_large = true;
    return 0;
  }
  try {
    sink->body->append(data, length);
  } catch (...) {
    return 0;
  }
  return length;
}

bool IsCertAlreadyInStore(unsigned long error) {
  return ERR_GET_LIB(error) == ERR_LIB_X509 &&
         ERR_GET_REASON(error) == X509_R_CERT_ALREADY_IN_HASH_TABLE;
}

// Adds the roots in pem to store; false when the store refuses one.
bool AddRoots(X509_STORE* store, const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  STACK_OF(X509_INFO)* items = nullptr;
  if (bio != nullptr) items = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
  bool added = items != nullptr;
  for (int i = 0; added && i < sk_X509_INFO_num(items); ++i) {
    X509_INFO* item = sk_X509_INFO_value(items, i);
    if (item->x509 != nullptr && X509_STORE_add_cert(store, item->x509) != 1) {
      // A root that the store already holds is no failure.
      if (!IsCertAlreadyInStore(ERR_peek_last_error())) added = false;
      ERR_clear_error();
    }
    if (added && item->crl != nullptr) X509_STORE_add_crl(store, item->crl);
  }
  sk_X509_INFO_pop_free(items, X509_INFO_free);
  BIO_free(bio);
  return added;
}

// Loads the built-in roots (or those a test Env gives) into the context's
// certificate store; any failure aborts the handshake.
CURLcode SslContextCallback(CURL* /*curl*/, void* ssl_ctx, void* /*user*/) {
  CURLcode result = CURLE_ABORTED_BY_CALLBACK;
  ERR_clear_error();
  try {
    const std::string pem = Env::Get()->TrustedRootsPem().value_or(
        std::string(kBuiltinRootsPem, kBuiltinRootsPemLength));
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(ssl_ctx));
    if (store != nullptr && AddRoots(store, pem)) result = CURLE_OK;
  } catch (...) {
  }
  ERR_clear_error();
  return result;
}

// Only a lower-case scheme selects the built-in roots.
bool UsesBuiltinRoots(const std::string& url) {
  return url.size() >= 8 && url.compare(0, 8, "https://") == 0;
}

// Redirects lead only to http and https, and an https exchange (in any
// case of its scheme) never goes on in clear text.
void SetRedirectRule(CURL* handle, const std::string& url) {
  const char kHttps[] = "https://";
  bool https = url.size() >= 8;
  for (size_t i = 0; https && i < 8; ++i) {
    https = std::tolower(static_cast<unsigned char>(url[i])) == kHttps[i];
  }
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
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

// Ends a transfer once its cancellation is raised. libcurl calls this from
// every round of the transfer; the wake-up below makes a round start at
// once when the cancellation is raised, instead of after up to a second of
// waiting on a silent connection.
int ProgressCallback(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const Cancellation* cancel = static_cast<const Cancellation*>(userdata);
  return cancel != nullptr && cancel->IsCancelled() ? 1 : 0;
}

// Runs the transfer set up on handle through multi and returns its result.
// While it runs, raising cancel wakes the multi handle's wait.
CURLcode Transfer(CURLM* multi, CURL* handle, Cancellation* cancel) {
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &ProgressCallback);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, cancel);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  if (curl_multi_add_handle(multi, handle) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  CURLcode result = CURLE_OK;
  {
    Cancellation::Waker waker(cancel, [multi] { curl_multi_wakeup(multi); });
    for (bool done = false; !done;) {
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        result = CURLE_OUT_OF_MEMORY;
        break;
      }
      int left = 0;
      CURLMsg* message = curl_multi_info_read(multi, &left);
      while (message != nullptr) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle) {
          result = message->data.result;
          done = true;
        }
        message = curl_multi_info_read(multi, &left);
      }
      if (!done && curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
        result = CURLE_OUT_OF_MEMORY;
        break;
      }
    }
  }
  curl_multi_remove_handle(multi, handle);
  return result;
}

// What the exchange on handle told: method, address (without its query),
// HTTP status, libcurl's error text, bytes and time, and code.
void DescribeExchange(CURL* handle, const char* method, const std::string& url, CURLcode result,
                      const WebServiceHttp::Sink& sink, const char* error_text, ErrorCode code,
                      ExchangeReport* report) {
  curl_off_t sent = 0, received = 0, micros = 0;
  report->method = method;
  report->address = Printable(std::string_view(url).substr(0, url.find('?')));
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &report->http_status);
  curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent);
  curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received);
  curl_easy_getinfo(handle, CURLINFO_TOTAL_TIME_T, &micros);
  report->transport_error.clear();
  if (code == ErrorCode(WS_ERROR_ABORTED)) {
    report->transport_error = "cancelled";
  } else if (sink.too_large) {
    report->transport_error =
        "answer larger than " + std::to_string(WebServiceHttp::kMaxAnswerBytes) + " bytes";
  } else if (result != CURLE_OK) {
    report->transport_error =
        Printable(error_text[0] != '\0' ? error_text : curl_easy_strerror(result));
  }
  report->code = code;
  report->bytes_sent = sent;
  report->bytes_received = received;
  report->elapsed_ms = static_cast<long>(micros / 1000);
}

// One trace line for an exchange that has run.
std::string TraceLine(const std::string& url, const ExchangeReport& report) {
  std::string line = report.method + " " + trace::Printable(url, 300) + ": ";
  if (report.http_status != 0) line += "HTTP " + std::to_string(report.http_status);
  if (!report.transport_error.empty()) {
    if (report.http_status != 0) line += ", ";
    line += report.transport_error;
  }
  return line + "; " + std::to_string(report.bytes_sent) + " bytes sent, " +
         std::to_string(report.bytes_received) + " received, " + std::to_string(report.elapsed_ms) +
         " ms: " + trace::Code(report.code);
}

// Runs the exchange set up on handle through multi; its code, reported and
// traced. A transfer that the cancellation ended gives WS_ERROR_ABORTED.
ErrorCode Perform(CURLM* multi, CURL* handle, Cancellation* cancel, const char* method,
                  const std::string& url, const WebServiceHttp::Sink& sink, const char* error_text,
                  ExchangeReport* report) {
  const CURLcode result = Transfer(multi, handle, cancel);
  const bool cancelled =
      result == CURLE_ABORTED_BY_CALLBACK && cancel != nullptr && cancel->IsCancelled();
  const ErrorCode code = cancelled ? ErrorCode(WS_ERROR_ABORTED) : MapTransportResult(result);
  if (report == nullptr && !trace::Enabled()) return code;
  ExchangeReport local;
  if (report == nullptr) report = &local;
  DescribeExchange(handle, method, url, result, sink, error_text, code, report);
  if (trace::Enabled()) trace::Emit(TraceLine(url, *report));
  return code;
}

}  // namespace

WebServiceHttp::WebServiceHttp() = default;

WebServiceHttp::~WebServiceHttp() = default;

void WebServiceHttp::CloseRestHandle() {
  handle_.reset();
  rest_multi_.reset();  // and the connection it kept
  headers_.reset();
  receive_buffer_.clear();
}

ErrorCode WebServiceHttp::PostJson(const std::string& url, const std::string& body,
                                   std::string& response, ExchangeReport* report) {
  // One multi handle runs every POST of this object (making one per
  // exchange costs as much again as the handle); each POST still has a
  // handle and a connection of its own.
  if (post_multi_ == nullptr) post_multi_.reset(curl_multi_init());
  Handle post(curl_easy_init());
  if (post_multi_ == nullptr || post == nullptr) return WS_ERROR_NO_TRANSPORT;
  response.clear();
  Sink sink{&response};
  char error_text[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(post.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(post.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(post.get(), CURLOPT_WRITEFUNCTION, &WriteCallback);
  curl_easy_setopt(post.get(), CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(post.get(), CURLOPT_POST, 1L);
  // Declared after the handle, so freed after it.
  HeaderList post_headers = BuildHeaders(false);
  if (post_headers == nullptr) return WS_ERROR_OUT_OF_MEMORY;
  curl_easy_setopt(post.get(), CURLOPT_HTTPHEADER, post_headers.get());
  curl_easy_setopt(post.get(), CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(post.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  if (UsesBuiltinRoots(url)) {
    // No CA file or directory: the built-in roots, loaded by the TLS
    // context callback, are the only trusted certificates.
    curl_easy_setopt(post.get(), CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(post.get(), CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(post.get(), CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(post.get(), CURLOPT_SSL_CTX_FUNCTION, &SslContextCallback);
  }
  SetLimitsAndBehaviour(post.get());
  SetRedirectRule(post.get(), url);
  // As a handle run on its own: the connection closed after the exchange,
  // never found again by the next one, and no address remembered.
  curl_easy_setopt(post.get(), CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(post.get(), CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  // Nor a certificate store kept from an earlier exchange: each TLS
  // handshake trusts the roots its own context callback gives.
  curl_easy_setopt(post.get(), CURLOPT_CA_CACHE_TIMEOUT, 0L);
  curl_easy_setopt(post.get(), CURLOPT_ERRORBUFFER, error_text);
  const ErrorCode code =
      Perform(post_multi_.get(), post.get(), cancel_, "POST", url, sink, error_text, report);
  post.reset();  // before its header list
  return code;
}

ErrorCode WebServiceHttp::OpenRestHandle() {
  CloseRestHandle();
  rest_multi_.reset(curl_multi_init());
  handle_.reset(curl_easy_init());
  if (rest_multi_ == nullptr || handle_ == nullptr) {
    CloseRestHandle();
    return WS_ERROR_NO_TRANSPORT;
  }
  curl_easy_setopt(handle_.get(), CURLOPT_WRITEFUNCTION, &WriteCallback);
  curl_easy_setopt(handle_.get(), CURLOPT_WRITEDATA, &rest_sink_);
  headers_ = BuildHeaders(true);
  if (headers_ == nullptr) {
    CloseRestHandle();
    return WS_ERROR_OUT_OF_MEMORY;
  }
  curl_easy_setopt(handle_.get(), CURLOPT_HTTPHEADER, headers_.get());
  SetLimitsAndBehaviour(handle_.get());
  curl_easy_setopt(handle_.get(), CURLOPT_ERRORBUFFER, rest_error_);
  return WS_SUCCESS;
}

ErrorCode WebServiceHttp::RequestRest(const std::string& url, const std::string& query,
                                      std::string& response, ExchangeReport* report) {
  // The "?" is always inserted, also before an empty query.
  const std::string full_url = url + "?" + query;
  if (handle_ == nullptr) OpenRestHandle();
  if (handle_ == nullptr) return WS_ERROR_NO_TRANSPORT;
  response.clear();
  receive_buffer_.clear();
  rest_sink_.too_large = false;
  rest_error_[0] = '\0';
  curl_easy_setopt(handle_.get(), CURLOPT_URL, full_url.c_str());
  curl_easy_setopt(handle_.get(), CURLOPT_PROXY, "");
  SetRedirectRule(handle_.get(), full_url);
  const ErrorCode code = Perform(rest_multi_.get(), handle_.get(), cancel_, "GET", full_url,
                                 rest_sink_, rest_error_, report);
  if (code != ErrorCode(WS_SUCCESS)) {
    // A failed exchange closes the handle: the next one starts afresh on a
    // new connection.
    CloseRestHandle();
    return code;
  }
  response = receive_buffer_;
  return WS_SUCCESS;
}

}  // namespace vanta
