#include "rtsp/digest_auth.h"

#include <gtest/gtest.h>

namespace orbisan {
namespace {

TEST(DigestAuthTest, Rfc7616Example) {
  // The example of RFC 7616 section 3.9.1 (GET /dir/index.html, qop=auth).
  // Expected values computed independently with Python's hashlib:
  //   H = hashlib.md5 / hashlib.sha256 over the UTF-8 text,
  //   H(H(user:realm:pw) ":" nonce ":00000001:" cnonce ":auth:" H("GET:/dir/index.html"))
  // and equal to the ones printed in the RFC; for -sess the first hash is
  // H(H(user:realm:pw):nonce:cnonce).
  DigestRequest request;
  request.realm = "http-auth@example.org";
  request.nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
  request.method = "GET";
  request.uri = "/dir/index.html";
  request.qopAuth = true;
  request.nonceCount = 1;
  request.cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
  const std::pair<const char*, const char*> cases[] = {
      {"MD5", "8ca523f5e9506fed4657c9700eebdbec"},
      {"sha-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
      {"SHA-256-sess", "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"},
      {"SHA-512-256", ""},  // not supported: no answer
  };
  for (const auto& [algorithm, expected] : cases) {
    request.algorithm = DigestAlgorithmFromName(algorithm);
    EXPECT_EQ(DigestResponse("Mufasa", "Circle of Life", request), expected) << algorithm;
  }
  EXPECT_EQ(NonceCountText(0x1a), "0000001a");
  // The RFC 2617 example without qop.
  request = DigestRequest{};
  request.realm = "testrealm@host.com";
  request.nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
  request.method = "GET";
  request.uri = "/dir/index.html";
  EXPECT_EQ(DigestResponse("Mufasa", "Circle Of Life", request), "670fd8c2df070c60b045671b8b24ff02");
}

}  // namespace
}  // namespace orbisan
