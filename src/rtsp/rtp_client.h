#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orbisan {

class IRTPClient;

// What a UDP transport reports to its user. Called on the transport's thread
// (ClientClosed also from Close on the closing thread).
class IRTPClientUser {
 public:
  virtual ~IRTPClientUser() = default;
  virtual void DataReceived(IRTPClient* client, const sockaddr_in& source, const uint8_t* data, size_t length) = 0;
  virtual void ReceiveTimeout(IRTPClient* client) = 0;
  virtual void ClientClosed(IRTPClient* client) = 0;
};

// A UDP transport for RTP or RTCP as its users see it.
class IRTPClient {
 public:
  virtual ~IRTPClient() = default;
  virtual bool OpenMulticast(IRTPClientUser* user, const std::string& group, uint16_t port) = 0;
  virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
  virtual bool Close() = 0;
  virtual void SetBufferSize(uint32_t bytes) = 0;
  // Wait time of each readiness poll.
  virtual void SetTimeout(uint32_t milliseconds) = 0;
  virtual uint16_t GetPort() = 0;
};

}  // namespace orbisan
