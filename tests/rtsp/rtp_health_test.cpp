// What the driver tells the host about an RTP stream's health: the RFC 3550
// interarrival jitter of packets with chosen arrival times, and the camera's
// clock as its sender reports give it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "rtsp/rtcp_report_state.h"
#include "rtsp/rtp_jitter.h"

namespace orbisan {
namespace {

TEST(RtpJitter, MatchesTheArrivalJitterOfTheStream) {
  struct Case {
    const char* name;
    uint32_t firstTimestamp;
    uint64_t wobbleUs;  // every other packet arrives this much late
    double jitterMs;
  };
  // 0xFFEB0000 wraps some twenty packets before the end.
  const Case cases[] = {
      {"constant delay", 1000, 0, 0.0},
      {"constant delay across the timestamp wrap", 0xFFEB0000u, 0, 0.0},
      {"every other packet 10 ms late", 1000, 10000, 10.0},
      {"every other packet 2 ms late across the wrap", 0xFFEB0000u, 2000, 2.0},
  };
  for (const Case& c : cases) {
    CRtpJitter jitter;
    EXPECT_LT(jitter.JitterMs(), 0) << c.name;
    // 25 frames a second on the 90 kHz clock, sent on time, 7 ms in transit.
    const uint64_t startUs = 123456789;
    for (uint32_t i = 0; i < 400; ++i) {
      const uint64_t arrivalUs = startUs + i * 40000ull + 7000 + (i % 2 ? c.wobbleUs : 0);
      jitter.PacketArrived(c.firstTimestamp + i * 3600, arrivalUs);
    }
    EXPECT_NEAR(jitter.JitterMs(), c.jitterMs, 0.02) << c.name;
  }
}

TEST(RtcpReportState, CameraClockOffsetComesFromTheSenderReport) {
  CRTCPReportState state;
  int64_t offset = 0;
  EXPECT_FALSE(state.CameraClockOffsetMs(offset));
  // A sender report stamped 5 s ahead of this host's clock.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const int64_t cameraMs = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() + 5000;
  const uint64_t ntpSeconds = static_cast<uint64_t>(cameraMs / 1000) + 2208988800ull;
  const uint64_t fraction = (static_cast<uint64_t>(cameraMs % 1000) << 32) / 1000;
  uint8_t report[28] = {0x80, 200, 0, 6, 1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) {
    report[8 + i] = static_cast<uint8_t>(ntpSeconds >> (24 - 8 * i));
    report[12 + i] = static_cast<uint8_t>(fraction >> (24 - 8 * i));
  }
  ASSERT_EQ(state.ReadCompound(report, sizeof report, 0), CRTCPReportState::kSawSenderReport);
  ASSERT_TRUE(state.CameraClockOffsetMs(offset));
  EXPECT_NEAR(static_cast<double>(offset), 5000, 250);
  state.Clear();  // a new session of the same camera
  EXPECT_TRUE(state.CameraClockOffsetMs(offset));
}

}  // namespace
}  // namespace orbisan
