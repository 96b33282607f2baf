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

}  // namespace
}  // namespace orbisan
