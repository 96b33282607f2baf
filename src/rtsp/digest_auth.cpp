#include "rtsp/digest_auth.h"

#include <openssl/evp.h>

#include <cctype>
#include <cstdio>

namespace orbisan {
namespace {

std::string HexDigest(const std::string& text, const EVP_MD* type, unsigned int expectedLength) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, type, nullptr) != 1 || length != expectedLength) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0f];
  }
  return hex;
}

std::string Hash(DigestAlgorithm algorithm, const std::string& text) {
  switch (algorithm) {
    case DigestAlgorithm::kMd5:
    case DigestAlgorithm::kMd5Sess:
      return Md5Hex(text);
    case DigestAlgorithm::kSha256:
    case DigestAlgorithm::kSha256Sess:
      return Sha256Hex(text);
    case DigestAlgorithm::kUnsupported:
      break;
  }
  return {};
}

}  // namespace

std::string Md5Hex(const std::string& text) { return HexDigest(text, EVP_md5(), 16); }

std::string Sha256Hex(const std::string& text) { return HexDigest(text, EVP_sha256(), 32); }

DigestAlgorithm DigestAlgorithmFromName(const std::string& name) {
  std::string lower;
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.empty() || lower == "md5") return DigestAlgorithm::kMd5;
  if (lower == "md5-sess") return DigestAlgorithm::kMd5Sess;
  if (lower == "sha-256") return DigestAlgorithm::kSha256;
  if (lower == "sha-256-sess") return DigestAlgorithm::kSha256Sess;
  return DigestAlgorithm::kUnsupported;
}

const char* DigestAlgorithmName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kMd5:
      return "MD5";
    case DigestAlgorithm::kMd5Sess:
      return "MD5-sess";
    case DigestAlgorithm::kSha256:
      return "SHA-256";
    case DigestAlgorithm::kSha256Sess:
      return "SHA-256-sess";
    case DigestAlgorithm::kUnsupported:
      break;
  }
  return "";
}

std::string NonceCountText(uint32_t count) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", count);
  return text;
}

std::string DigestResponse(const std::string& user, const std::string& password, const DigestRequest& request) {
  const DigestAlgorithm algorithm = request.algorithm;
  if (algorithm == DigestAlgorithm::kUnsupported) return {};
  std::string ha1 = Hash(algorithm, user + ":" + request.realm + ":" + password);
  if (algorithm == DigestAlgorithm::kMd5Sess || algorithm == DigestAlgorithm::kSha256Sess) {
    ha1 = Hash(algorithm, ha1 + ":" + request.nonce + ":" + request.cnonce);
  }
  const std::string ha2 = Hash(algorithm, request.method + ":" + request.uri);
  if (!request.qopAuth) return Hash(algorithm, ha1 + ":" + request.nonce + ":" + ha2);
  return Hash(algorithm, ha1 + ":" + request.nonce + ":" + NonceCountText(request.nonceCount) + ":" + request.cnonce +
                             ":auth:" + ha2);
}

}  // namespace orbisan
