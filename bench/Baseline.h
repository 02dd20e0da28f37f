// The baselines the library is measured against: bare libcurl, set up as
// the library's transport sets up its own handles, with no JSON work.
#ifndef VANTA_BENCH_BASELINE_H_
#define VANTA_BENCH_BASELINE_H_

#include <curl/curl.h>

#include <string>

namespace vanta {
namespace bench {

// GETs over one handle kept for the object's life.
class RawKeptAlive {
 public:
  RawKeptAlive();
  ~RawKeptAlive();
  RawKeptAlive(const RawKeptAlive&) = delete;
  RawKeptAlive& operator=(const RawKeptAlive&) = delete;

  // True when libcurl succeeded and the answer is the monitor's "ok".
  bool Get(const std::string& url);

 private:
  curl_slist* headers_;
  std::string answer_;
  CURL* handle_;
};

// The three dispatcher POSTs of a negotiation, each on a fresh handle. The
// bodies are templates with "~" for the tokens, which are taken from the
// previous answers by text search.
struct RawNegotiation {
  std::string urls[3];
  std::string templates[3];
  std::string answers[3];

  // The body of step 0 (token), 1 (access token) or 2 (game service); not
  // counted as the POST's allocations.
  std::string Body(int step) const;
  // POSTs the body of step; true when libcurl succeeded.
  bool Post(int step);
};

}  // namespace bench
}  // namespace vanta

#endif  // VANTA_BENCH_BASELINE_H_
