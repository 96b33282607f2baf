#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Web {

// One HTTP request as the camera code builds it.
struct CHttpRequest {
  CHttpRequest(std::string method_, std::string path_) : method(std::move(method_)), path(std::move(path_)) {}

  std::string method;     // the driver only sends "GET"
  std::string path;       // path and query, sent as given
  uint32_t scheme = 0;    // 0 HTTP, 1 HTTPS; replaced by the sender's remembered scheme
  uint32_t authMode = 0;  // 0 Basic, 1 NTLM, 2 Passport, 3 Digest, 4 Negotiate, 5 no credentials
  std::vector<char> body;
  uint32_t totalLength = 0;
  std::vector<std::string> headers;  // "Name: value"; a later line replaces one of the same name
  uint32_t flags = 7;                // bit 0 raw query, bit 1 ignore certificate errors, bit 2 no redirects
};

}  // namespace Web
