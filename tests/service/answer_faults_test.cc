// Answers that are hostile in size.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "service/WebServiceHttp.h"
#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::LocalPeer;

class AnswerFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ws_.Initialize(), WS_SUCCESS);
    ws_.SetUrlArbiterBase(peer_.Url("/d/"));
  }

  LocalPeer peer_;
  WebService ws_;
};

// Answers past the size cap end the exchange before more than the cap is
// kept, whether their length is announced, endless or chunked forever.
TEST_F(AnswerFaultsTest, AnswersLargerThanTheCapAreRefused) {
  const size_t cap = WebServiceHttp::kMaxAnswerBytes;
  // Endless answers: an announced length far past the cap, and chunks.
  auto endless = [](httplib::DataSink& sink) {
    const std::string chunk(65536, 'x');
    return sink.write(chunk.data(), chunk.size());
  };
  peer_.SetHandler("/endless", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(
        size_t{1} << 40, "application/json",
        [&](size_t, size_t, httplib::DataSink& sink) { return endless(sink); });
  });
  peer_.SetHandler("/chunked", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider(
        "application/json", [&](size_t, httplib::DataSink& sink) { return endless(sink); });
  });
  peer_.SetAnswer("/over", testing::Reply(std::string(cap + 1, 'x')));
  peer_.SetAnswer("/at", testing::Reply(std::string(cap, 'x')));
  const std::pair<std::string, uint32_t> rows[] = {
      {"/endless", WS_ERROR_FAILED},
      {"/chunked", WS_ERROR_FAILED},
      {"/over", WS_ERROR_FAILED},
      {"/at", WS_SUCCESS},
  };
  for (bool post : {true, false}) {
    for (const auto& [path, code] : rows) {
      std::string response;
      const ErrorCode result = post ? ws_.RequestJsonRpc(peer_.Url(path), "{}", response)
                                    : ws_.RequestRestRpc(peer_.Url(path), "", response);
      EXPECT_EQ(result.GetValue(), code) << path;
      EXPECT_LE(response.size(), cap) << path;
      if (code == WS_SUCCESS) {
        EXPECT_EQ(response.size(), cap) << path;
      }
    }
  }
}

}  // namespace
}  // namespace vanta
