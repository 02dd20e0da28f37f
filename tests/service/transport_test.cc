// The two exchanges as the peer sees them on the wire.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/messages/AnswerOf.h"
#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::Answer;
using testing::AnswerOf;
using testing::LocalPeer;
using testing::RecordedRequest;

enum class Exchange { kJsonPost, kRest };

// A JSON POST of text, or a REST exchange with text as its query.
ErrorCode Send(WebService& ws, Exchange exchange, const std::string& url, const std::string& text,
               std::string& response) {
  return exchange == Exchange::kJsonPost ? ws.RequestJsonRpc(url, text, response)
                                         : ws.RequestRestRpc(url, text, response);
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ws_.Initialize(), WS_SUCCESS); }

  // Declared first so that the client's kept-alive connection closes
  // before the peer stops.
  LocalPeer peer_;
  WebService ws_;
};

TEST_F(TransportTest, RequestsAsTheyArriveAndAnswersAsTheyLeave) {
  // Larger than one write chunk, so the answer arrives in pieces.
  std::string big_answer;
  for (int i = 0; big_answer.size() < 300000; ++i) big_answer += std::to_string(i) + ",";
  peer_.SetAnswer("/p", AnswerOf(big_answer));
  // Headers that libcurl adds by itself, or that the peer's server records
  // about the connection, are left out of the comparison.
  const std::set<std::string> not_ours = {"Host",        "Content-Length", "User-Agent",
                                          "REMOTE_ADDR", "REMOTE_PORT",    "LOCAL_ADDR",
                                          "LOCAL_PORT"};
  const std::multiset<std::string> post_headers = {
      "Accept: application/json", "Content-Type: application/json; charset: utf-8"};
  std::multiset<std::string> rest_headers = post_headers;
  rest_headers.insert("Connection: Keep-Alive");
  struct Row {
    Exchange exchange;
    std::string text;
    std::string method, target, body;
  };
  const std::string nul_body("a\0b", 3);
  const Row rows[] = {
      {Exchange::kJsonPost, "", "POST", "/p", ""},
      {Exchange::kJsonPost, nul_body, "POST", "/p", nul_body},
      {Exchange::kRest, "", "GET", "/p?", ""},
      {Exchange::kRest, "a=1&b=x", "GET", "/p?a=1&b=x", ""},
  };
  for (const Row& row : rows) {
    std::string response = "stale";
    ASSERT_EQ(Send(ws_, row.exchange, peer_.Url("/p"), row.text, response), WS_SUCCESS);
    EXPECT_EQ(response, big_answer);
    const RecordedRequest request = peer_.Requests().back();
    EXPECT_EQ(request.method, row.method);
    EXPECT_EQ(request.target, row.target);
    EXPECT_EQ(request.body, row.body);
    std::multiset<std::string> ours;
    for (const auto& [name, value] : request.headers) {
      if (not_ours.count(name) == 0) ours.insert(name + ": " + value);
    }
    EXPECT_EQ(ours, row.exchange == Exchange::kJsonPost ? post_headers : rest_headers);
    auto agent = request.headers.equal_range("User-Agent");
    ASSERT_EQ(std::distance(agent.first, agent.second), 1);
    EXPECT_EQ(agent.first->second, "zarerozevoz/0.0.1");
    if (row.method == "POST") {
      EXPECT_EQ(request.headers.find("Content-Length")->second, std::to_string(row.body.size()));
    }
  }
}

// A successful REST exchange keeps its connection; a failed one closes it.
TEST_F(TransportTest, RestConnectionIsKeptUntilAnExchangeFails) {
  peer_.SetAnswer("/ok", AnswerOf("fine"));
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  struct Step {
    std::string url;
    uint32_t expected;
    bool same_connection_as_before;
  };
  const Step steps[] = {
      {peer_.Url("/ok"), WS_SUCCESS, false},  // opens the connection
      {peer_.Url("/ok"), WS_SUCCESS, true},
      {peer_.Url("/missing"), WS_ERROR_SERVER_ERROR, true},  // fails and closes it
      {peer_.Url("/ok"), WS_SUCCESS, false},
      {refused + "/ok", WS_ERROR_CONNECT_FAILED, false},  // reaches no peer
      {peer_.Url("/ok"), WS_SUCCESS, false},
      {peer_.Url("/ok"), WS_SUCCESS, true},
  };
  int last_port = -1;
  for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); ++i) {
    const Step& step = steps[i];
    const size_t before = peer_.Requests().size();
    std::string response = "stale";
    EXPECT_EQ(ws_.RequestRestRpc(step.url, "", response).GetValue(), step.expected) << "step " << i;
    EXPECT_EQ(response, step.expected == WS_SUCCESS ? "fine" : "") << "step " << i;
    if (step.expected == WS_ERROR_CONNECT_FAILED) {
      EXPECT_EQ(peer_.Requests().size(), before) << "step " << i;
      continue;
    }
    ASSERT_EQ(peer_.Requests().size(), before + 1) << "step " << i;
    const int port = peer_.Requests().back().client_port;
    if (step.same_connection_as_before) {
      EXPECT_EQ(port, last_port) << "step " << i;
    } else {
      EXPECT_NE(port, last_port) << "step " << i;
    }
    last_port = port;
  }
}

TEST_F(TransportTest, FailuresOfBothExchanges) {
  peer_.SetAnswer("/missing", AnswerOf("not here", 404));
  peer_.SetAnswer("/broken", AnswerOf("{\"status\":\"ng\"}", 500));
  Answer moved = AnswerOf("", 302);
  moved.location = "/final";
  peer_.SetAnswer("/moved", moved);
  peer_.SetAnswer("/final", AnswerOf("arrived"));
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  struct Row {
    std::string url;
    uint32_t expected;
    std::string response;
  };
  const Row rows[] = {
      {peer_.Url("/missing"), WS_ERROR_SERVER_ERROR, ""},
      {peer_.Url("/broken"), WS_ERROR_SERVER_ERROR, ""},
      {peer_.Url("/moved"), WS_SUCCESS, "arrived"},
      {refused + "/x", WS_ERROR_CONNECT_FAILED, ""},
      {"", WS_ERROR_URL_MALFORMED, ""},
  };
  for (Exchange exchange : {Exchange::kJsonPost, Exchange::kRest}) {
    for (const Row& row : rows) {
      std::string response = "stale";
      EXPECT_EQ(Send(ws_, exchange, row.url, "{}", response).GetValue(), row.expected) << row.url;
      EXPECT_EQ(response, row.response) << row.url;
    }
  }
  EXPECT_EQ(peer_.RequestsTo("/final").size(), 2u);
}

TEST_F(TransportTest, SlowPeerThatNeverAnswersTimesOut) {
  Answer late = AnswerOf("{}");
  late.delay_ms = 15000;  // cut short when the peer stops
  peer_.SetAnswer("/late", late);
  std::string response;
  EXPECT_EQ(ws_.RequestJsonRpc(peer_.Url("/late"), "{}", response), WS_ERROR_TIMED_OUT);
  EXPECT_EQ(response, "");
}

}  // namespace
}  // namespace vanta
