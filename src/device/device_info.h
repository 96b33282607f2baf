#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// The device one driver object is opened for.
class DEVICE_INFO {
 public:
  virtual ~DEVICE_INFO() = default;

  // The credential part of the camera's CGI URLs, sent as given.
  std::string GetLoginQuery() const { return "USER=" + user + "&PWD=" + password; }

  uint32_t connectTimeoutMs = 5000;
  uint32_t signalTimeoutMs = 15000;
  std::string address;
  uint16_t port = 80;
  std::string user;
  std::string password;
  std::string model;
};

}  // namespace orbisan
