#pragma once

// An IRTSPClientUser that records what it is given (thread-safe).

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "rtp_test_util.h"
#include "rtsp/rtsp_client_user.h"

namespace orbisan::test {

struct SeenPacket {
  uint16_t sequence;
  uint32_t timestamp;
  std::vector<uint8_t> payload;
  bool operator==(const SeenPacket&) const = default;
};

class RecordingRtspUser : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SDP_SESSION_INFO& info) override {
    sdps_.Add(info);
    events_.Add("sdp");
    return acceptSdp;
  }
  void RtpPacketReceived(const CRTPPacket& packet) override {
    const uint8_t* p = packet.GetPayload();
    packets_.Add(
        {packet.GetSequenceNumber(), packet.GetTimestamp(), std::vector<uint8_t>(p, p + packet.GetPayloadLength())});
  }
  void SessionClosed() override { events_.Add("closed"); }
  void DescribeFailed() override { events_.Add("describe-failed"); }
  void SessionFailed(uint32_t kind, uint32_t status, int, const std::string& problem) override {
    failures_.Add(std::to_string(kind) + " " + std::to_string(status) + " " + problem);
  }

  std::vector<SeenPacket> Packets() { return packets_.Items(); }
  std::vector<std::string> Events() { return events_.Items(); }
  // "kind status problem" per SessionFailed call.
  std::vector<std::string> Failures() { return failures_.Items(); }
  // The last description given, empty before the first.
  SDP_SESSION_INFO Sdp() {
    const std::vector<SDP_SESSION_INFO> sdps = sdps_.Items();
    return sdps.empty() ? SDP_SESSION_INFO{} : sdps.back();
  }
  bool WaitForEvent(const std::string& name, int timeoutMs = 10000) {
    return events_.WaitFor(
        [&](const std::vector<std::string>& events) {
          return std::find(events.begin(), events.end(), name) != events.end();
        },
        std::chrono::milliseconds(timeoutMs));
  }
  bool WaitForPackets(size_t count, int timeoutMs = 10000) {
    return packets_.WaitForCount(count, std::chrono::milliseconds(timeoutMs));
  }

  bool acceptSdp = true;

 private:
  Recorded<SeenPacket> packets_;
  Recorded<std::string> events_;
  Recorded<std::string> failures_;
  Recorded<SDP_SESSION_INFO> sdps_;
};

}  // namespace orbisan::test
