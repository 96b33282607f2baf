// A throw-away TLS identity for the camera's HTTPS mode.
#pragma once

#include <string>

namespace strandline::sim {

struct SelfSignedCertificate {
  std::string certificate_pem;
  std::string key_pem;

  // An EC P-256 key and a certificate for "127.0.0.1" (also as IP address and
  // "localhost" subject alternative names), valid from now for a year.
  // False with a reason when OpenSSL fails.
  static bool Generate(SelfSignedCertificate* out, std::string* error);
};

}  // namespace strandline::sim
