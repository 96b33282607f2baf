#pragma once

// An IRTSPClientUser that records what it is given (thread-safe).

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

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
    std::lock_guard<std::mutex> lock(mutex_);
    sdp_ = info;
    events_.push_back("sdp");
    changed_.notify_all();
    return acceptSdp;
  }
  void RtpPacketReceived(const CRTPPacket& packet) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t* p = packet.GetPayload();
    packets_.push_back(
        {packet.GetSequenceNumber(), packet.GetTimestamp(), std::vector<uint8_t>(p, p + packet.GetPayloadLength())});
    changed_.notify_all();
  }
  void SessionClosed() override { Record("closed"); }
  void DescribeFailed() override { Record("describe-failed"); }

  std::vector<SeenPacket> Packets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_;
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  SDP_SESSION_INFO Sdp() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sdp_;
  }
  // Waits (bounded) until pred() holds; pred runs under the lock.
  template <typename Pred>
  bool WaitFor(Pred pred, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pred(*this); });
  }
  bool WaitForEvent(const std::string& name, int timeoutMs = 10000) {
    return WaitFor(
        [&](RecordingRtspUser& self) {
          return std::find(self.events_.begin(), self.events_.end(), name) != self.events_.end();
        },
        timeoutMs);
  }
  bool WaitForPackets(size_t count, int timeoutMs = 10000) {
    return WaitFor([&](RecordingRtspUser& self) { return self.packets_.size() >= count; }, timeoutMs);
  }

  bool acceptSdp = true;

 private:
  void Record(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SeenPacket> packets_;
  std::vector<std::string> events_;
  SDP_SESSION_INFO sdp_;
};

}  // namespace orbisan::test
