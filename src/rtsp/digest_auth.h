#pragma once

#include <string>

namespace orbisan {

// 32 lowercase hexadecimal digits of the MD5 digest of text (RFC 1321).
std::string Md5Hex(const std::string& text);

// RFC 2617 digest response without qop: MD5(HA1:nonce:HA2) with
// HA1 = MD5(user:realm:password) and HA2 = MD5(method:uri).
std::string DigestResponse(const std::string& user, const std::string& realm, const std::string& password,
                           const std::string& method, const std::string& uri, const std::string& nonce);

}  // namespace orbisan
