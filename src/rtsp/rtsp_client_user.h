#pragma once

#include <cstdint>
#include <string>

#include "rtsp/rtp_packet.h"
#include "rtsp/sdp_session_info.h"

namespace orbisan {

// The owner of an RTSP session. Callbacks run on the session thread.
class IRTSPClientUser {
 public:
  virtual ~IRTSPClientUser() = default;
  // True to go on with SETUP.
  virtual bool SdpInfoReceived(const SDP_SESSION_INFO& info) = 0;
  // Interleaved mode: one packet of the RTP channel.
  virtual void RtpPacketReceived(const CRTPPacket& packet) = 0;
  // Interleaved mode, after each read or quiet spell of the connection:
  // finishes what waited for the stream to pause; returns the milliseconds
  // until the next such wait ends (0: none).
  virtual uint32_t StreamIdle() { return 0; }
  // The session thread ends (always called once per session).
  virtual void SessionClosed() = 0;
  // DESCRIBE got no usable answer.
  virtual void DescribeFailed() = 0;
  // Why a session does not come up: the request kind that failed
  // (kRtspConnect for the connection, with its errno in error), the status
  // of its answer (0 when no answer came) and, when neither tells it, what
  // was wrong in words (an unusable answer, a redirect not followed).
  // Called before DescribeFailed.
  virtual void SessionFailed(uint32_t kind, uint32_t status, int error, const std::string& problem) {
    (void)kind;
    (void)status;
    (void)error;
    (void)problem;
  }
};

}  // namespace orbisan
