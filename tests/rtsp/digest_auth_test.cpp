#include "rtsp/digest_auth.h"

#include <gtest/gtest.h>

namespace orbisan {
namespace {

// The test suite of RFC 1321, appendix A.5.
TEST(DigestAuthTest, Md5KnownVectors) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(DigestAuthTest, ResponseWithoutQop) {
  // The RFC 2617 example's credentials, nonce and uri in the form without
  // qop; the expected value was computed with an independent MD5 tool.
  EXPECT_EQ(DigestResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                           "dcd98b7102dd2f0e8b11d0f600bfb0c093"),
            "670fd8c2df070c60b045671b8b24ff02");
}

TEST(DigestAuthTest, Rfc7616Example) {
  // The example of RFC 7616 section 3.9.1 (GET /dir/index.html, qop=auth).
  // Expected values computed independently with Python's hashlib:
  //   H = hashlib.md5 / hashlib.sha256 over the UTF-8 text,
  //   H(H(user:realm:pw) ":" nonce ":00000001:" cnonce ":auth:" H("GET:/dir/index.html"))
  // and equal to the ones printed in the RFC.
  DigestRequest request;
  request.realm = "http-auth@example.org";
  request.nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
  request.method = "GET";
  request.uri = "/dir/index.html";
  request.qopAuth = true;
  request.nonceCount = 1;
  request.cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
  request.algorithm = DigestAlgorithmFromName("MD5");
  EXPECT_EQ(DigestResponse("Mufasa", "Circle of Life", request), "8ca523f5e9506fed4657c9700eebdbec");
  request.algorithm = DigestAlgorithmFromName("sha-256");
  EXPECT_EQ(DigestResponse("Mufasa", "Circle of Life", request),
            "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
  // -sess: HA1 = H(H(user:realm:pw):nonce:cnonce), same hashlib recipe.
  request.algorithm = DigestAlgorithmFromName("SHA-256-sess");
  const std::string ha1 =
      Sha256Hex(Sha256Hex("Mufasa:http-auth@example.org:Circle of Life") + ":" + request.nonce + ":" + request.cnonce);
  EXPECT_EQ(DigestResponse("Mufasa", "Circle of Life", request),
            Sha256Hex(ha1 + ":" + request.nonce + ":00000001:" + request.cnonce +
                      ":auth:" + Sha256Hex("GET:/dir/index.html")));
  request.algorithm = DigestAlgorithmFromName("SHA-512-256");
  EXPECT_EQ(request.algorithm, DigestAlgorithm::kUnsupported);
  EXPECT_EQ(DigestResponse("Mufasa", "Circle of Life", request), "");
  EXPECT_EQ(NonceCountText(0x1a), "0000001a");
}

}  // namespace
}  // namespace orbisan
