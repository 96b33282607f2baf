#include "rtsp/digest_auth.h"

#include <openssl/evp.h>

#include <cstdio>

namespace orbisan {

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16) return {};
  std::string hex;
  hex.reserve(32);
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string DigestResponse(const std::string& user, const std::string& realm, const std::string& password,
                           const std::string& method, const std::string& uri, const std::string& nonce) {
  const std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
  const std::string ha2 = Md5Hex(method + ":" + uri);
  return Md5Hex(ha1 + ":" + nonce + ":" + ha2);
}

}  // namespace orbisan
