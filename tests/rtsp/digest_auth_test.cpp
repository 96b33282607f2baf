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
  // RFC 2069 form: MD5(HA1 ":" nonce ":" HA2).
  const std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
  const std::string ha2 = Md5Hex("DESCRIBE:rtsp://cam/live");
  EXPECT_EQ(DigestResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "DESCRIBE", "rtsp://cam/live", "n0nce"),
            Md5Hex(ha1 + ":n0nce:" + ha2));
  EXPECT_EQ(ha1, "939e7578ed9e3c518a452acee763bce9") << "HA1 of the RFC 2617 example";
}

}  // namespace
}  // namespace orbisan
