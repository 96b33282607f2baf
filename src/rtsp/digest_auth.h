#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// 32 lowercase hexadecimal digits of the MD5 digest of text (RFC 1321).
std::string Md5Hex(const std::string& text);
// 64 lowercase hexadecimal digits of the SHA-256 digest of text.
std::string Sha256Hex(const std::string& text);

// Hash functions a Digest challenge may name; the "-sess" forms hash the
// nonce and client nonce into HA1 as well. Higher values are stronger.
enum class DigestAlgorithm : uint8_t { kUnsupported = 0, kMd5, kMd5Sess, kSha256, kSha256Sess };

// The algorithm parameter's value (any case; empty means MD5).
DigestAlgorithm DigestAlgorithmFromName(const std::string& name);
// The name an Authorization header carries for it.
const char* DigestAlgorithmName(DigestAlgorithm algorithm);

// One request's digest inputs beyond the credentials. With qopAuth the
// response covers nonce count and client nonce (RFC 7616 qop=auth).
struct DigestRequest {
  DigestAlgorithm algorithm = DigestAlgorithm::kMd5;
  std::string realm;
  std::string nonce;
  std::string method;
  std::string uri;
  bool qopAuth = false;
  uint32_t nonceCount = 1;
  std::string cnonce;
};

// The response value for the request; empty for an unsupported algorithm.
std::string DigestResponse(const std::string& user, const std::string& password, const DigestRequest& request);
// Eight hexadecimal digits, as the nc parameter is written.
std::string NonceCountText(uint32_t count);

}  // namespace orbisan
