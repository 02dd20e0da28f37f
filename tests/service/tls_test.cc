// Trust of the JSON POST over HTTPS: the built-in roots and nothing else.
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
#include <string>
#include <vector>

#include "service/BuiltinRoots.h"
#include "service/Codes.h"
#include "service/WebServiceHttp.h"
#include "tests/support/LocalPeer.h"

namespace vanta {
namespace {

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
  struct Row {
    int roots_added_before;  // from the front of the list
    int callback_runs;
  };
  for (const Row& row : {Row{0, 1}, Row{1, 1}, Row{4, 1}, Row{0, 2}}) {
    const std::string name = std::to_string(row.roots_added_before) + " roots before, " +
                             std::to_string(row.callback_runs) + " runs";
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    for (int i = 0; i < row.roots_added_before; ++i) X509_STORE_add_cert(store, roots[i]);
    for (int run = 0; run < row.callback_runs; ++run) {
      ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);  // a stale error
      EXPECT_EQ(WebServiceHttp::SslContextCallback(nullptr, ctx, nullptr), CURLE_OK) << name;
      EXPECT_EQ(ERR_peek_error(), 0u) << name;
    }
    // Four certificates, one with the subject of each root.
    STACK_OF(X509_OBJECT)* held = X509_STORE_get0_objects(store);
    EXPECT_EQ(sk_X509_OBJECT_num(held), 4) << name;
    for (X509* root : roots) {
      EXPECT_GE(X509_OBJECT_idx_by_subject(held, X509_LU_X509, X509_get_subject_name(root)), 0)
          << name;
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
