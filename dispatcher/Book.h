// The reference dispatcher and launcher monitor, apart from any network:
// what they issue, what they accept and every answer they give.
//
// Every answer is one JSON object, either {"status":"ok", members...} or
// {"status":"ng","result":<number>,"message":<string>}. Refusals use these
// result numbers:
//   1  the request is malformed (not JSON, wrong action, a member missing
//      or of the wrong kind);
//   2  the token and key value (or the access token) were not issued here.
#ifndef VANTA_DISPATCHER_BOOK_H_
#define VANTA_DISPATCHER_BOOK_H_

#include <picojson.h>

#include <deque>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>
#include "platform/Mutex.h"

namespace vanta {
namespace dispatcher {

constexpr int kResultMalformed = 1;
constexpr int kResultNotIssued = 2;

// The three dispatcher requests, each the last segment of its path.
const std::vector<std::string>& DispatcherActions();

// What request_gameservice answers with.
struct GameService {
  std::string ipv4 = "127.0.0.1";
  std::string ipv6 = "::1";
  int control_port = 10001;
  int video_port = 10002;
  int audio_port = 10003;
  int input_port = 10004;
  std::string key1;        // empty: a fresh random key in every answer
  std::string key2;        // likewise
  picojson::value config;  // the "config" member; null: none is sent
};

// A quality configuration of version 1 with three audio and three video
// levels, all within the bounds the library accepts.
picojson::value DefaultQualityConfig();

// Overwrites the members of *service that json_text (one JSON object) holds:
// "ipv4", "ipv6", "key1", "key2" (strings), the four "*_port" members
// (numbers) and "config" (any value; null removes it). False, with one line
// in *error, when the text is not such an object.
bool ReadGameService(const std::string& json_text, GameService* service, std::string* error);

// The JSON text of the ng answer with the given result and message.
std::string Refusal(int result, const std::string& message);

// A request or answer body as the log shows it: in a JSON object, the
// values of the keys and tokens it carries ("token", "zuc_key_value",
// "access_token", "key1", "key2") shortened as the library's trace
// shortens them; any other body as it is.
std::string BodyWithSecretsShortened(const std::string& body);

// A map that keeps only its newest capacity entries: storing a key makes
// it the newest, and the oldest goes when there are too many. Not
// thread-safe.
template <typename Value>
class NewestEntries {
 public:
  explicit NewestEntries(size_t capacity) : capacity_(capacity) {}

  void Put(const std::string& key, Value value) {
    auto it = entries_.find(key);
    if (it != entries_.end()) {
      order_.erase(it->second.position);
      entries_.erase(it);
    }
    order_.push_back(key);
    entries_.emplace(key, Entry{std::move(value), std::prev(order_.end())});
    while (entries_.size() > capacity_) {
      entries_.erase(order_.front());
      order_.pop_front();
    }
  }
  // The value stored under key, or nullptr.
  const Value* Find(const std::string& key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second.value;
  }

 private:
  struct Entry {
    Value value;
    std::list<std::string>::iterator position;
  };
  const size_t capacity_;
  std::list<std::string> order_;  // oldest first
  std::map<std::string, Entry> entries_;
};

// Thread-safe.
class DispatcherBook {
 public:
  // Tokens and access tokens accepted: the newest this many of each. An
  // older one is refused as not issued here.
  static constexpr size_t kKeptIssued = 1024;

  explicit DispatcherBook(GameService service);

  // Makes token with key_value acceptable to request_accesstoken, as if it
  // had been issued here.
  void Issue(const std::string& token, const std::string& key_value);

  // The JSON text that answers the dispatcher request action (one of
  // DispatcherActions()) carrying body.
  std::string Answer(const std::string& action, const std::string& body);

 private:
  std::string AnswerToken(const picojson::object& request);
  std::string AnswerAccesstoken(const picojson::object& request);
  std::string AnswerGameservice(const picojson::object& request);
  std::string RandomHex(size_t digits) VANTA_REQUIRES(mu_);

  // A game identifier, shared by its token and the access tokens from it.
  using GameId = std::shared_ptr<const std::string>;
  struct Issued {
    std::string key_value;
    GameId gameid;
  };

  const GameService service_;
  Mutex mu_;
  std::mt19937_64 random_ VANTA_GUARDED_BY(mu_);
  NewestEntries<Issued> tokens_ VANTA_GUARDED_BY(mu_){kKeptIssued};
  // access token -> gameid
  NewestEntries<GameId> access_tokens_ VANTA_GUARDED_BY(mu_){kKeptIssued};
};

// Thread-safe.
class MonitorBook {
 public:
  static constexpr size_t kKeptReports = 16;

  // The JSON text that answers a report given its query parameters: all
  // seven figures must be present, the six numbers decimal ints. Keeps the
  // last kKeptReports accepted.
  std::string Put(const std::multimap<std::string, std::string>& params);

  // {"status":"ok","reports":[...]} with the kept reports, oldest first.
  std::string ReportsJson() const;

 private:
  mutable Mutex mu_;
  std::deque<picojson::value> reports_ VANTA_GUARDED_BY(mu_);
};

}  // namespace dispatcher
}  // namespace vanta

#endif  // VANTA_DISPATCHER_BOOK_H_
