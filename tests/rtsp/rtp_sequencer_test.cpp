#include "rtsp/rtp_sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <tuple>
#include <vector>

#include "rtp_test_util.h"
#include "rtsp/rtp_loss_counter.h"

namespace orbisan {
namespace {

constexpr uint32_t kA = 0xA;
constexpr uint32_t kB = 0xB;
constexpr uint32_t R = CRtpSequencer::kRestart;

struct Arrival {
  uint16_t sequence;
  uint64_t ms = 0;
  uint32_t ssrc = kA;
  uint8_t type = 96;  // with the marker bit: 200 is an RTCP sender report
};

struct Handed {
  uint16_t sequence;
  uint32_t lost;
  bool operator==(const Handed&) const = default;
};

class Recorder : public IRtpSequencedSink {
 public:
  void SequencedPacket(const CRTPPacket& packet, uint32_t lost) override {
    handed.push_back({packet.GetSequenceNumber(), lost});
  }
  std::vector<Handed> handed;
};

std::vector<Arrival> Arrive(uint16_t first, uint16_t last, uint64_t ms = 0, uint32_t ssrc = kA) {
  std::vector<Arrival> out;
  for (uint16_t s = first; s != static_cast<uint16_t>(last + 1); ++s) out.push_back({s, ms, ssrc});
  return out;
}

std::vector<Handed> Handing(uint16_t first, uint16_t last, uint32_t lostAtFirst = 0) {
  std::vector<Handed> out;
  for (uint16_t s = first; s != static_cast<uint16_t>(last + 1); ++s) out.push_back({s, s == first ? lostAtFirst : 0});
  return out;
}

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Arrival orders of the field and what reaches the depacketizer, with the
// counts of repeats and mended reorders. A flush at 1000 ms ends each case.
TEST(RtpSequencer, PutsTheStreamBackInOrderAndKeepsToItsSource) {
  struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<Handed> handed;
    uint64_t duplicates = 0;
    uint64_t reordered = 0;
  };
  const Case cases[] = {
      {"neighbours swapped", Arrive(1, 2) + Arrive(4, 4) + Arrive(3, 3) + Arrive(5, 6), Handing(1, 6), 0, 1},
      {"a few places late, across the wrap", Arrive(65533, 65535) + Arrive(2, 4) + Arrive(0, 1) + Arrive(5, 5),
       Handing(65533, 5), 0, 2},
      {"duplicates", Arrive(1, 2) + Arrive(2, 3) + Arrive(3, 3) + Arrive(1, 1) + Arrive(4, 4), Handing(1, 4), 3, 0},
      {"late beyond the wait is dropped as lost", Arrive(1, 1) + Arrive(3, 4) + Arrive(5, 5, 50) + Arrive(2, 2, 60),
       Handing(1, 1) + Handing(3, 5, 1)},
      {"a late packet lengthens the wait for the next gap",
       Arrive(1, 1) + Arrive(3, 4) + Arrive(5, 5, 50) + Arrive(2, 2, 60) + Arrive(7, 7, 100) + Arrive(8, 8, 150) +
           Arrive(6, 6, 170),
       Handing(1, 1) + Handing(3, 5, 1) + Handing(6, 8), 0, 1},
      {"a gap wider than the window", Arrive(1, 1) + Arrive(3, 66) + Arrive(67, 67), Handing(1, 1) + Handing(3, 67, 1)},
      {"numbering jumps far ahead", Arrive(1, 2) + Arrive(20000, 20002), Handing(1, 2) + Handing(20000, 20002, R)},
      {"numbering restarts behind", Arrive(5000, 5001) + Arrive(7, 9), Handing(5000, 5001) + Handing(7, 9, R)},
      {"a stray far packet is not followed", Arrive(1, 2) + Arrive(40000, 40000) + Arrive(3, 4), Handing(1, 4)},
      {"RTCP on the RTP port",
       Arrive(1, 1) + std::vector<Arrival>{{2, 0, kA, 200}, {3, 0, kA, 201}, {9, 0, kA, 204}} + Arrive(2, 2),
       Handing(1, 2)},
      {"another source mixed in",
       Arrive(1, 2) + Arrive(900, 920, 0, kB) + Arrive(3, 3, 300) + Arrive(921, 940, 310, kB) + Arrive(4, 4, 320),
       Handing(1, 4)},
      {"encoder restart with a new source", Arrive(1, 3) + Arrive(500, 510, 200, kB),
       Handing(1, 3) + Handing(500, 510, R)},
      {"new source straight after the old one", Arrive(1, 3) + Arrive(500, 510, 0, kB) + Arrive(511, 511, 150, kB),
       Handing(1, 3) + Handing(500, 511, R)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRtpLossCounter counter;
    CRtpSequencer sequencer(&counter);
    Recorder sink;
    for (const Arrival& a : c.arrivals) {
      const std::vector<uint8_t> wire = test::BuildRtp({.marker = a.type >= 128,
                                                        .payloadType = static_cast<uint8_t>(a.type & 0x7F),
                                                        .sequence = a.sequence,
                                                        .ssrc = a.ssrc,
                                                        .payload = {1, 2, 3}});
      CRTPPacket packet;
      ASSERT_TRUE(packet.Parse(wire.data(), wire.size()));
      sequencer.Push(packet, a.ms, sink);
    }
    sequencer.Flush(1000, sink);
    EXPECT_EQ(sink.handed, c.handed);
    EXPECT_EQ(counter.DuplicatePackets(), c.duplicates);
    EXPECT_EQ(counter.ReorderedPackets(), c.reordered);
  }
}

// Feeds frames of `packets` packets each, delivered to the host or not;
// packets listed in `missing` never arrive.
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
  EXPECT_EQ(std::make_tuple(s.counter.LostPackets(), s.counter.DroppedFrames()), std::make_tuple(0u, 0u));

  s.Frame(5, false, {1, 2});  // two packets lost across the wrap, frame not delivered
  s.Frame(3, false);          // waiting for the next key frame
  s.Frame(3, true);
  s.Frame(1, true);
  EXPECT_EQ(std::make_tuple(s.counter.LostPackets(), s.counter.DroppedFrames()), std::make_tuple(2u, 2u));

  // A late or repeated packet is no gap.
  s.counter.PacketHandled(static_cast<uint16_t>(s.sequence - 3), s.timestamp - 3000);
  s.counter.PacketHandled(static_cast<uint16_t>(s.sequence - 1), s.timestamp - 3000);
  s.Frame(2, true);
  // A new session numbers its packets anew and joins mid-way again.
  s.counter.Restart();
  s.sequence = 17;
  s.Frame(2, false);
  s.Frame(2, true);
  EXPECT_EQ(std::make_tuple(s.counter.LostPackets(), s.counter.DroppedFrames()), std::make_tuple(2u, 2u));
}

}  // namespace
}  // namespace orbisan
