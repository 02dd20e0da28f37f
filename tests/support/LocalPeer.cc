#include "tests/support/LocalPeer.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

// On Windows httplib.h has brought in Winsock (and started it).
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <stdexcept>

namespace vanta {
namespace testing {

namespace {

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(len));
}

// A self-signed certificate and key in PEM, made afresh (EC P-256).
struct SelfSignedPem {
  std::string certificate;
  std::string private_key;
};

SelfSignedPem MakeSelfSignedPem(const std::string& common_name) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  if (key == nullptr || cert == nullptr) throw std::runtime_error("cannot make a key");
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());

  SelfSignedPem pem;
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  pem.certificate = BioText(bio);
  BIO_free(bio);
  bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  pem.private_key = BioText(bio);
  BIO_free(bio);
  X509_free(cert);
  EVP_PKEY_free(key);
  return pem;
}

}  // namespace

int ClosedLoopbackPort() {
  socket_t fd = socket(AF_INET, SOCK_STREAM, 0);  // socket_t, INVALID_SOCKET: httplib.h
  if (fd == INVALID_SOCKET) throw std::runtime_error("cannot make a socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  // Never listened: connecting now is refused.
#if defined(_WIN32)
  closesocket(fd);
#else
  close(fd);
#endif
  if (port <= 0) throw std::runtime_error("cannot find a free port");
  return port;
}

LocalPeer::LocalPeer(Scheme scheme) : scheme_(scheme == Scheme::kHttps ? "https" : "http") {
  if (scheme == Scheme::kHttps) {
    SelfSignedPem pem = MakeSelfSignedPem("127.0.0.1");
    BIO* cert_bio = BIO_new_mem_buf(pem.certificate.data(), -1);
    BIO* key_bio = BIO_new_mem_buf(pem.private_key.data(), -1);
    X509* cert = PEM_read_bio_X509(cert_bio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(key_bio, nullptr, nullptr, nullptr);
    server_ = std::make_unique<httplib::SSLServer>(cert, key);
    certificate_pem_ = pem.certificate;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(cert_bio);
    BIO_free(key_bio);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  auto serve = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); };
  server_->Get(".*", serve);
  server_->Post(".*", serve);
  server_->Put(".*", serve);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("local peer cannot bind");
  // Connections queue in the backlog from here on, so the peer is usable
  // before the listening thread gets going.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() has no effect until the listening loop runs, so a peer destroyed
  // at once would never stop; wait (boundedly) for the loop to start.
  for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

LocalPeer::~LocalPeer() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string LocalPeer::Url(const std::string& path) const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
}

void LocalPeer::SetAnswer(const std::string& path, const Answer& answer) {
  SetAnswers(path, {answer});
}

void LocalPeer::SetAnswers(const std::string& path, const std::vector<Answer>& answers) {
  std::lock_guard<std::mutex> lock(mu_);
  Route& route = routes_[path];
  route.answers = answers;
  route.next = 0;
  route.handler = nullptr;
}

void LocalPeer::SetHandler(const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mu_);
  Route& route = routes_[path];
  route.answers.clear();
  route.handler = std::move(handler);
}

std::vector<RecordedRequest> LocalPeer::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::vector<RecordedRequest> LocalPeer::RequestsTo(const std::string& path) const {
  std::vector<RecordedRequest> out;
  for (const RecordedRequest& r : Requests()) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

void LocalPeer::SleepUnlessStopping(int delay_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::milliseconds(delay_ms), [this] { return stopping_; });
}

void LocalPeer::Serve(const httplib::Request& req, httplib::Response& res) {
  RecordedRequest record;
  record.method = req.method;
  record.path = req.path;
  record.target = req.target;
  record.headers = req.headers;
  record.body = req.body;
  record.client_port = req.remote_port;

  Handler handler;
  Answer answer;
  answer.status = 404;
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(record);
    auto it = routes_.find(req.path);
    if (it != routes_.end()) {
      Route& route = it->second;
      if (route.handler) {
        handler = route.handler;
      } else if (!route.answers.empty()) {
        answer = route.answers[route.next];
        if (route.next + 1 < route.answers.size()) ++route.next;
      }
    }
  }
  cv_.notify_all();

  if (handler) {
    handler(req, res);
    return;
  }
  if (answer.delay_ms > 0) SleepUnlessStopping(answer.delay_ms);
  res.status = answer.status;
  if (!answer.location.empty()) res.set_header("Location", answer.location);
  res.set_content(answer.body, "application/json");
}

}  // namespace testing
}  // namespace vanta
