#include "dispatcher/HttpAdapter.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace vanta {
namespace dispatcher {

namespace {

// One whole request in memory for httplib to read, and the answer it writes.
class RequestStream : public httplib::Stream {
 public:
  RequestStream(const std::string& request, std::string* answer, const Endpoints& endpoints)
      : request_(request), answer_(answer), endpoints_(endpoints) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t count = std::min(size, request_.size() - read_);
    std::memcpy(ptr, request_.data() + read_, count);
    read_ += count;
    return static_cast<ssize_t>(count);
  }
  ssize_t write(const char* ptr, size_t size) override {
    answer_->append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = endpoints_.remote_ip;
    port = endpoints_.remote_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = endpoints_.local_ip;
    port = endpoints_.local_port;
  }
  // No socket: everything goes through read and write.
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  const std::string& request_;
  std::string* answer_;
  const Endpoints& endpoints_;
  size_t read_ = 0;
};

}  // namespace

RequestServer::Answer RequestServer::ServeWhole(const std::string& request,
                                                const Endpoints& endpoints, bool last) {
  Answer answer;
  bool client_closes = false;
  bool written = false;
  try {
    RequestStream stream(request, &answer.bytes, endpoints);
    written = process_request(stream, last, client_closes, [](httplib::Request& req) {
      // httplib has read the Range header by now: forget it, so that every
      // answer is whole (a POST must never get a multipart 206).
      req.ranges.clear();
      req.headers.erase("Range");
      req.headers.erase("Expect");
    });
  } catch (const std::exception&) {
    answer.bytes.clear();
  }
  answer.close = last || client_closes || !written;
  return answer;
}

}  // namespace dispatcher
}  // namespace vanta
