// Trust of the JSON POST over HTTPS: the built-in roots and nothing else.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "service/BuiltinRoots.h"
#include "service/Codes.h"
#include "service/WebServiceHttp.h"
#include "tests/messages/AnswerOf.h"
#include "tests/support/LocalPeer.h"
#include "vanta/WebService.h"

namespace vanta {
namespace {

using testing::AnswerOf;
using testing::LocalPeer;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The certificates of a PEM text, in order.
std::vector<X509*> ReadCertificates(const std::string& pem) {
  std::vector<X509*> certs;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.push_back(cert);
  BIO_free(bio);
  ERR_clear_error();  // the end of the text is reported as an error
  return certs;
}

void FreeCertificates(std::vector<X509*>& certs) {
  for (X509* cert : certs) X509_free(cert);
  certs.clear();
}

TEST(BuiltinRootsTest, ConstantIsTheDataFileByteForByte) {
  const std::string file = ReadFile(VANTA_BUILTIN_ROOTS_FILE);
  ASSERT_EQ(file.size(), 5109u);
  ASSERT_EQ(kBuiltinRootsPemLength, file.size());
  EXPECT_EQ(std::string(kBuiltinRootsPem, kBuiltinRootsPemLength), file);
  EXPECT_EQ(kBuiltinRootsPem[kBuiltinRootsPemLength], '\0');
}

// The certificates that ctx's store holds.
std::vector<X509*> StoreCertificates(SSL_CTX* ctx) {
  std::vector<X509*> certs;
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(ctx));
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    X509* cert = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
    if (cert != nullptr) certs.push_back(cert);
  }
  return certs;
}

TEST(SslContextCallbackTest, LoadsExactlyTheFourRootsAndToleratesThemAlreadyPresent) {
  std::vector<X509*> roots = ReadCertificates(std::string(kBuiltinRootsPem));
  ASSERT_EQ(roots.size(), 4u);
  struct Row {
    const char* name;
    int roots_added_before;  // from the front of the list
    int callback_runs;
  };
  const Row rows[] = {
      {"fresh store", 0, 1},
      {"store holding one root", 1, 1},
      {"store holding all roots", 4, 1},
      {"callback run twice", 0, 2},
  };
  for (const Row& row : rows) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    ASSERT_NE(ctx, nullptr);
    for (int i = 0; i < row.roots_added_before; ++i) {
      ASSERT_EQ(X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), roots[i]), 1);
    }
    for (int run = 0; run < row.callback_runs; ++run) {
      ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);  // a stale error
      EXPECT_EQ(WebServiceHttp::SslContextCallback(nullptr, ctx, nullptr), CURLE_OK) << row.name;
      EXPECT_EQ(ERR_peek_error(), 0u) << row.name;
    }
    std::vector<X509*> held = StoreCertificates(ctx);
    ASSERT_EQ(held.size(), 4u) << row.name;
    for (X509* root : roots) {
      int matches = 0;
      for (X509* cert : held) matches += X509_cmp(root, cert) == 0 ? 1 : 0;
      EXPECT_EQ(matches, 1) << row.name;
    }
    SSL_CTX_free(ctx);
  }
  FreeCertificates(roots);
}

TEST(SslContextCallbackTest, ContextWithoutStoreAbortsTheExchange) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  ASSERT_NE(ctx, nullptr);
  SSL_CTX_set_cert_store(ctx, nullptr);
  EXPECT_EQ(WebServiceHttp::SslContextCallback(nullptr, ctx, nullptr), CURLE_ABORTED_BY_CALLBACK);
  EXPECT_EQ(ERR_peek_error(), 0u);
  SSL_CTX_free(ctx);
}

TEST(TlsTest, SelfSignedPeerIsRefusedOverHttps) {
  LocalPeer peer(LocalPeer::Scheme::kHttps);
  peer.SetAnswer("/j", AnswerOf("{}"));
  WebService ws;
  ASSERT_EQ(ws.Initialize(), WS_SUCCESS);
  std::string response = "stale";
  EXPECT_EQ(ws.RequestJsonRpc(peer.Url("/j"), "{}", response), WS_ERROR_TLS_FAILED);
  EXPECT_EQ(response, "");
  EXPECT_TRUE(peer.Requests().empty());
}

// A CA file set on the handle beforehand trusts the peer's own certificate.
// Only a lower-case "https://" replaces it with the built-in roots; any other
// spelling of the scheme leaves libcurl's certificate settings alone.
TEST(TlsTest, OnlyLowerCaseSchemeSwitchesToTheBuiltinRoots) {
  LocalPeer peer(LocalPeer::Scheme::kHttps);
  peer.SetAnswer("/j", AnswerOf("trusted"));
  char ca_path[] = "/tmp/vanta-peer-ca-XXXXXX";
  const int fd = mkstemp(ca_path);
  ASSERT_GE(fd, 0);
  FILE* ca_file = fdopen(fd, "w");
  fputs(peer.certificate_pem().c_str(), ca_file);
  fclose(ca_file);

  const std::string authority = "127.0.0.1:" + std::to_string(peer.port()) + "/j";
  struct Row {
    std::string url;
    uint32_t expected;
    std::string response;
  };
  const Row rows[] = {
      {"https://" + authority, WS_ERROR_TLS_FAILED, ""},
      {"HTTPS://" + authority, WS_SUCCESS, "trusted"},
      {"Https://" + authority, WS_SUCCESS, "trusted"},
  };
  for (const Row& row : rows) {
    CURL* handle = curl_easy_init();
    ASSERT_NE(handle, nullptr);
    curl_easy_setopt(handle, CURLOPT_CAINFO, ca_path);
    const std::string body = "{}";  // sent from its own bytes: must outlive the exchange
    std::string response;
    curl_slist* headers = nullptr;
    ASSERT_EQ(WebServiceHttp::PrepareJsonPost(handle, row.url, body, response, &headers),
              WS_SUCCESS);
    const CURLcode result = curl_easy_perform(handle);
    curl_easy_cleanup(handle);
    curl_slist_free_all(headers);
    EXPECT_EQ(MapTransportResult(result).GetValue(), row.expected)
        << row.url << ": " << curl_easy_strerror(result);
    EXPECT_EQ(response, row.response) << row.url;
  }
  EXPECT_EQ(peer.Requests().size(), 2u);
  remove(ca_path);
}

}  // namespace
}  // namespace vanta
