#include "rtsp/rtp_loss_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

namespace orbisan {
namespace {

// Feeds frames of `packets` packets each; frames listed in `undelivered`
// never reach the host, packets listed in `missing` never arrive.
struct Stream {
  CRtpLossCounter counter;
  uint16_t sequence = 65522;  // the first gap spans the wrap to 0
  uint32_t timestamp = 1000;

  void Frame(int packets, bool delivered, std::initializer_list<int> missing = {}) {
    for (int i = 0; i < packets; ++i) {
      const bool lost = std::find(missing.begin(), missing.end(), i) != missing.end();
      if (!lost) counter.PacketHandled(sequence, timestamp);
      ++sequence;
    }
    if (delivered) counter.FrameDelivered();
    timestamp += 3000;
  }
};

TEST(RtpLossCounter, CountsGapsAndUndeliveredFramesAfterTheFirstDelivery) {
  Stream s;
  s.Frame(3, false);  // joined mid-way: waiting for a key frame is no loss
  s.Frame(3, false);
  s.Frame(4, true);
  s.Frame(2, true);
  EXPECT_EQ(s.counter.LostPackets(), 0u);
  EXPECT_EQ(s.counter.DroppedFrames(), 0u);

  s.Frame(5, false, {1, 2});  // two packets lost across the wrap, frame not delivered
  s.Frame(3, false);          // waiting for the next key frame
  s.Frame(3, true);
  s.Frame(1, true);
  EXPECT_EQ(s.counter.LostPackets(), 2u);
  EXPECT_EQ(s.counter.DroppedFrames(), 2u);

  // A late or repeated packet is no gap.
  s.counter.PacketHandled(static_cast<uint16_t>(s.sequence - 3), s.timestamp - 3000);
  s.counter.PacketHandled(static_cast<uint16_t>(s.sequence - 1), s.timestamp - 3000);
  s.Frame(2, true);
  // A new session numbers its packets anew and joins mid-way again.
  s.counter.Restart();
  s.sequence = 17;
  s.Frame(2, false);
  s.Frame(2, true);
  EXPECT_EQ(s.counter.LostPackets(), 2u);
  EXPECT_EQ(s.counter.DroppedFrames(), 2u);
}

}  // namespace
}  // namespace orbisan
