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
  // Optional: a user that keeps datagrams lends the client buffers of at
  // least `bytes` each, so that datagrams are received straight into them
  // (no copy). Returns how many it lent, at most `count`; 0 means the client
  // reads into its own buffer and calls DataReceived.
  virtual size_t LendBuffers(IRTPClient* client, size_t bytes, uint8_t** buffers, size_t count) {
    (void)client, (void)bytes, (void)buffers, (void)count;
    return 0;
  }
  // Gives back every lent buffer, in the order lent: lengths[i] bytes from
  // sources[i] are in buffers[i], or nothing when lengths[i] is 0. A datagram
  // larger than `bytes` is not in the lent buffer: buffers[i] then points to
  // the client's copy of all of it, valid only during the call.
  virtual void BuffersFilled(IRTPClient* client, uint8_t* const* buffers, const size_t* lengths,
                             const sockaddr_in* sources, size_t count) {
    (void)client, (void)buffers, (void)lengths, (void)sources, (void)count;
  }
  // After BuffersFilled, on the client's thread and outside its read (another
  // thread may read meanwhile): what the user kept may be handed on here.
  // `drained`: the socket held no more for now.
  virtual void ReadDone(IRTPClient* client, bool drained) { (void)client, (void)drained; }
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
