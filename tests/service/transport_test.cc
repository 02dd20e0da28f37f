// The two exchanges as the peer sees them on the wire, and the trust of the
// JSON POST over HTTPS: the built-in roots and nothing else.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "service/BuiltinRoots.h"
#include "service/Codes.h"
#include "service/WebServiceHttp.h"
#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::LocalPeer;
using testing::Reply;

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ws_.Initialize(), WS_SUCCESS); }

  // A JSON POST of text, or a REST exchange with text as its query.
  ErrorCode Send(bool post, const std::string& url, const std::string& text,
                 std::string& response) {
    return post ? ws_.RequestJsonRpc(url, text, response) : ws_.RequestRestRpc(url, text, response);
  }

  // Declared first so that the client's kept-alive connection closes
  // before the peer stops.
  LocalPeer peer_;
  WebService ws_;
};

TEST_F(TransportTest, RequestsAsTheyArriveAndAnswersAsTheyLeave) {
  // Larger than one write chunk, so the answer arrives in pieces.
  std::string big_answer;
  for (int i = 0; big_answer.size() < 300000; ++i) big_answer += std::to_string(i) + ",";
  peer_.SetAnswer("/p", Reply(big_answer));
  // Headers that libcurl adds by itself or that the peer's server records
  // about the connection are left out.
  const std::set<std::string> not_ours = {"Host",        "Content-Length", "REMOTE_ADDR",
                                          "REMOTE_PORT", "LOCAL_ADDR",     "LOCAL_PORT"};
  // POST sends the text as its body; GET puts "?" and the text after the path.
  const std::pair<bool, std::string> rows[] = {
      {true, ""}, {true, std::string("a\0b", 3)}, {false, ""}, {false, "a=1&b=x"}};
  for (const auto& [post, text] : rows) {
    std::string response = "stale";
    ASSERT_EQ(Send(post, peer_.Url("/p"), text, response), WS_SUCCESS);
    EXPECT_EQ(response, big_answer);
    const testing::RecordedRequest request = peer_.Requests().back();
    EXPECT_EQ(request.method + " " + request.target + " " + request.body,
              post ? "POST /p " + text : "GET /p?" + text + " ");
    std::string ours;
    for (const auto& [name, value] : request.headers) {
      if (not_ours.count(name) == 0) ours += name + ": " + value + "|";
    }
    EXPECT_EQ(ours,
              "Accept: application/json|" + std::string(post ? "" : "Connection: Keep-Alive|") +
                  "Content-Type: application/json; charset: utf-8|User-Agent: zarerozevoz/0.0.1|")
        << text;
  }
}

// A successful REST exchange keeps its connection; a failed one, and
// Terminate, close it. A refused second Initialize leaves it open.
TEST_F(TransportTest, RestConnectionLivesUntilAnExchangeFailsOrTerminate) {
  peer_.SetAnswer("/ok", Reply("fine"));
  const std::string ok = peer_.Url("/ok");
  const std::string refused = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  enum Before { kNothing, kInitializeAgain, kTerminateAndInitialize };
  struct Step {
    Before before;
    std::string url;
    uint32_t expected;
    bool same_connection_as_before;
  } steps[] = {
      {kNothing, ok, WS_SUCCESS, false},  // opens the connection
      {kInitializeAgain, ok, WS_SUCCESS, true},
      {kNothing, peer_.Url("/missing"), WS_ERROR_SERVER_ERROR, true},  // fails and closes it
      {kNothing, ok, WS_SUCCESS, false},
      {kNothing, refused, WS_ERROR_CONNECT_FAILED, false},  // reaches no peer
      {kNothing, ok, WS_SUCCESS, false},
      {kTerminateAndInitialize, ok, WS_SUCCESS, false},
      {kNothing, ok, WS_SUCCESS, true},
  };
  int last_port = -1;
  for (const Step& step : steps) {
    if (step.before == kInitializeAgain) {
      EXPECT_EQ(ws_.Initialize(), WS_ERROR_ALREADY_INITIALIZED);
    } else if (step.before == kTerminateAndInitialize) {
      ws_.Terminate();
      ASSERT_EQ(ws_.Initialize(), WS_SUCCESS);
    }
    const size_t before = peer_.Requests().size();
    std::string response = "stale";
    EXPECT_EQ(ws_.RequestRestRpc(step.url, "", response).GetValue(), step.expected) << step.url;
    EXPECT_EQ(response, step.expected == WS_SUCCESS ? "fine" : "") << step.url;
    const bool reached = step.expected != WS_ERROR_CONNECT_FAILED;
    ASSERT_EQ(peer_.Requests().size(), before + (reached ? 1 : 0)) << step.url;
    if (!reached) continue;
    const int port = peer_.Requests().back().client_port;
    EXPECT_EQ(port == last_port, step.same_connection_as_before) << step.url;
    last_port = port;
  }
}

TEST_F(TransportTest, FailuresOfBothExchanges) {
  LocalPeer https_peer(LocalPeer::Scheme::kHttps);  // its certificate is self-signed
  https_peer.SetAnswer("/j", Reply("{}"));
  peer_.SetAnswer("/missing", Reply("not here", 404));
  testing::Answer moved = Reply("", 302);
  moved.location = "/final";
  peer_.SetAnswer("/moved", moved);
  peer_.SetAnswer("/final", Reply("arrived"));
  const std::pair<std::string, uint32_t> rows[] = {
      {peer_.Url("/missing"), WS_ERROR_SERVER_ERROR},
      {peer_.Url("/moved"), WS_SUCCESS},
      {"http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()),
       WS_ERROR_CONNECT_FAILED},
      {https_peer.Url("/j"), WS_ERROR_TLS_FAILED},
      {"", WS_ERROR_URL_MALFORMED},
  };
  for (bool post : {true, false}) {
    for (const auto& [url, code] : rows) {
      std::string response = "stale";
      EXPECT_EQ(Send(post, url, "{}", response).GetValue(), code) << url;
      EXPECT_EQ(response, code == WS_SUCCESS ? "arrived" : "") << url;
    }
  }
  EXPECT_EQ(peer_.RequestsTo("/final").size(), 2u);
  EXPECT_TRUE(https_peer.Requests().empty());
}

TEST(BuiltinRootsTest, ConstantIsTheDataFileByteForByte) {
  std::ifstream in(VANTA_BUILTIN_ROOTS_FILE, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_EQ(file.size(), 5109u);
  EXPECT_EQ(std::string(kBuiltinRootsPem, kBuiltinRootsPemLength), file);
  EXPECT_EQ(kBuiltinRootsPem[kBuiltinRootsPemLength], '\0');
}

TEST(SslContextCallbackTest, LoadsExactlyTheFourRootsAndToleratesThemAlreadyPresent) {
  std::vector<X509*> roots;
  BIO* bio = BIO_new_mem_buf(kBuiltinRootsPem, -1);
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) roots.push_back(cert);
  BIO_free(bio);
  ASSERT_EQ(roots.size(), 4u);
  // Roots in the store before (from the front of the list), runs of the callback.
  for (const auto& [before, runs] : {std::pair{0, 1}, {1, 1}, {4, 1}, {0, 2}}) {
    SCOPED_TRACE(std::to_string(before) + " before, " + std::to_string(runs) + " runs");
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    for (int i = 0; i < before; ++i) X509_STORE_add_cert(store, roots[i]);
    for (int run = 0; run < runs; ++run) {
      ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);  // a stale error
      EXPECT_EQ(WebServiceHttp::SslContextCallback(nullptr, ctx, nullptr), CURLE_OK);
      EXPECT_EQ(ERR_peek_error(), 0u);
    }
    // Four certificates, one with the subject of each root.
    STACK_OF(X509_OBJECT)* held = X509_STORE_get0_objects(store);
    EXPECT_EQ(sk_X509_OBJECT_num(held), 4);
    for (X509* root : roots) {
      EXPECT_GE(X509_OBJECT_idx_by_subject(held, X509_LU_X509, X509_get_subject_name(root)), 0);
    }
    SSL_CTX_free(ctx);
  }
  for (X509* root : roots) X509_free(root);
}

// A CA file set on the handle beforehand trusts the peer's own certificate.
// Only a lower-case "https://" replaces it with the built-in roots.
TEST(TlsTest, OnlyLowerCaseSchemeSwitchesToTheBuiltinRoots) {
  testing::LocalPeer peer(testing::LocalPeer::Scheme::kHttps);
  peer.SetAnswer("/j", testing::Reply("trusted"));
  const std::string ca_path = ::testing::TempDir() + "vanta-ca-" + std::to_string(getpid());
  std::ofstream(ca_path) << peer.certificate_pem();
  const std::string authority = "127.0.0.1:" + std::to_string(peer.port()) + "/j";
  for (const std::string scheme : {"https://", "HTTPS://"}) {
    CURL* handle = curl_easy_init();
    curl_easy_setopt(handle, CURLOPT_CAINFO, ca_path.c_str());
    const std::string body = "{}";  // sent from its own bytes: must outlive the exchange
    std::string response;
    curl_slist* headers = nullptr;
    ASSERT_EQ(WebServiceHttp::PrepareJsonPost(handle, scheme + authority, body, response, &headers),
              WS_SUCCESS);
    const ErrorCode result = MapTransportResult(curl_easy_perform(handle));
    curl_easy_cleanup(handle);
    curl_slist_free_all(headers);
    const bool builtin = scheme == "https://";
    EXPECT_EQ(result, builtin ? WS_ERROR_TLS_FAILED : WS_SUCCESS) << scheme;
    EXPECT_EQ(response, builtin ? "" : "trusted") << scheme;
  }
  std::remove(ca_path.c_str());
}

}  // namespace
}  // namespace vanta
