#include "rtsp/time_stamp_converter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "rtsp/statistics_helper.h"
#include "runtime/time_utils.h"

namespace orbisan {
namespace {

constexpr uint64_t kMs = 10000;
constexpr uint64_t kStart = 133000000000000000ull;  // some day in 2022

// A converter on a wall clock the test sets.
class TimeStampConverterTest : public ::testing::Test {
 protected:
  TimeStampConverterTest() {
    converter.SetClock([this] { return now; });
  }
  uint64_t now = kStart;
  CTimeStampConverter converter;
};

int64_t Diff(uint64_t a, uint64_t b) { return static_cast<int64_t>(a) - static_cast<int64_t>(b); }

// Live at 25 fps, on time or up to 3 ms late, and with a camera clock running
// 1 % fast, which once learnt is absorbed instead of drifting ahead; then
// playback of a recording.
TEST_F(TimeStampConverterTest, At25FpsOutputsStayMonotonicAndCloseAndPlaybackCountsFromStart) {
  struct Case {
    uint32_t firstTimestamp;
    int maxLateUnits;  // arrivals are up to this late
    uint64_t bound;    // the worst distance of an output from the frame's ideal time
    uint32_t step = 3600;
    uint64_t learning = 0;  // a looser bound for the first 3000 frames
  };
  for (const Case& c : {Case{123456, 0, 5 * kMs}, Case{5, 30000, 10 * kMs}, Case{1, 0, 5 * kMs, 3636, 40 * kMs}}) {
    SCOPED_TRACE(c.step + c.maxLateUnits);
    converter.Reset();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> late(0, c.maxLateUnits);
    uint32_t ts = c.firstTimestamp;
    uint64_t previous = 0;
    for (int frame = 0; frame < 10000; ++frame) {
      const uint64_t ideal = kStart + frame * 400000ull;
      now = ideal + static_cast<uint64_t>(late(random));
      const uint64_t out = converter.Convert(ts);
      ts += c.step;
      ASSERT_TRUE(frame == 0 || out > previous) << "output went back at frame " << frame;
      ASSERT_LE(std::abs(Diff(out, ideal)),
                static_cast<int64_t>(frame < 3000 ? std::max(c.bound, c.learning) : c.bound))
          << "frame " << frame;
      previous = out;
    }
    // Packets stall for a second while the RTP clock steps normally: the
    // output snaps to the current time instead of lagging behind.
    now = converter.GetOutput() + 1000 * kMs;
    EXPECT_EQ(converter.Convert(ts), now);
    EXPECT_EQ(converter.GetLead(), 0u);
  }
  // Playback counts from its start.
  converter.StartPlayback(kStart);
  EXPECT_FALSE(converter.IsLive());
  // GetTime shows the clock until a time stamp came, then the playback time.
  const auto shows = [&](uint64_t time) {
    SYSTEMTIME got, expected;
    converter.GetTime(got);
    return FileTimeToSystemTimeUtc(time, expected) && got.wMinute == expected.wMinute &&
           got.wSecond == expected.wSecond && got.wMilliseconds == expected.wMilliseconds;
  };
  now += 12345 * kMs;
  EXPECT_TRUE(shows(now));
  EXPECT_EQ(converter.Convert(1000), kStart);
  EXPECT_TRUE(shows(kStart));
  EXPECT_EQ(converter.Convert(1000), kStart + 10 * kMs);
  EXPECT_EQ(converter.Convert(10000), kStart + 10 * kMs + 9000 * 111);
  EXPECT_EQ(converter.Convert(0), kStart + 10 * kMs + 9000 * 111) << "0 is ignored";
  // The recording's RTP clock restarts lower, or wraps: the output moves on
  // one step and counts from the new value.
  const uint64_t atRestart = kStart + 20 * kMs + 9000 * 111;
  EXPECT_EQ(converter.Convert(5000), atRestart);
  EXPECT_EQ(converter.Convert(8000), atRestart + 3000 * 111);
  EXPECT_EQ(converter.Convert(0xFFFFF000u), atRestart + 3000 * 111 + 10 * kMs) << "a far jump is a restart";
  EXPECT_EQ(converter.Convert(0x800u), atRestart + 3000 * 111 + 10 * kMs + 0x1800 * 111) << "the wrap is a step";
  converter.StartPlayback(0);
  EXPECT_TRUE(converter.IsLive());
}

// After learning, neither a jump of the camera's RTP clock nor a step of the
// wall clock may put frames far from the clock or freeze them afterwards.
TEST_F(TimeStampConverterTest, JumpsAfterLearningStayWithinOneSecondOfTheClock) {
  struct Case {
    const char* name;
    uint32_t rtpJump;  // added once to the RTP clock
    int64_t wallStep;  // added once to the wall clock
    uint32_t firstTs = 77;
    int burst = 0;  // frames held up for as long as they last, that then arrive at once
    int burstAt = 300;
  };
  for (const Case& c :
       {Case{"RTP +30 s", 30u * 90000u, 0}, Case{"RTP +3 s", 3u * 90000u, 0}, Case{"RTP -30 s", 0u - 30u * 90000u, 0},
        Case{"RTP -40 ms", 0u - 3600u, 0}, Case{"RTP wraps", 0, 0, 0xFFFFFFFFu - 300u * 3000u},
        Case{"wall -1 h", 0, -36000000000ll}, Case{"wall +1 h", 0, 36000000000ll},
        Case{"a stall, then a burst", 0, 0, 77, 28}, Case{"a longer burst while learning", 0, 0, 77, 40, 50}}) {
    SCOPED_TRACE(c.name);
    now = kStart;
    uint64_t steady = 5000 * kMs;
    converter.SetStepClock([&steady] { return steady; });
    converter.Reset();  // nothing learned from the case before
    uint32_t ts = c.firstTs;
    uint64_t previous = 0;
    for (int frame = 0; frame < 600; ++frame) {
      if (frame == 300) {
        ts += c.rtpJump;
        now = static_cast<uint64_t>(static_cast<int64_t>(now) + c.wallStep);
      }
      if (frame == c.burstAt && c.burst > 0) {
        now += c.burst * 333333ull;
        steady += c.burst * 333333ull;
      }
      const uint64_t out = converter.Convert(ts);
      ASSERT_LE(std::abs(Diff(out, now)), static_cast<int64_t>(1000 * kMs)) << "frame " << frame;
      // Whatever the camera's clock does, capture times only move on, by
      // at least the millisecond a recorder keeps.
      if (c.wallStep >= 0 && frame > 0) {
        ASSERT_GE(out, previous + kMs) << "frame " << frame;
      }
      if (frame > 302 && c.burst == 0) {
        EXPECT_GE(out - previous, 30 * kMs) << "frozen at frame " << frame;
      }
      previous = out;
      ts += 3000;  // 30 fps
      if (frame < c.burstAt || frame >= c.burstAt + c.burst) {
        now += 333333;
        steady += 333333;
      }
    }
  }
}

TEST(StatisticsHelperTest, SlidingWindowMean) {
  TStatisticsHelper<uint32_t> window(3);
  EXPECT_EQ(window.Mean(), 0.0);
  for (const uint32_t sample : {1u, 2u, 3u, 10u}) window.Add(sample);  // the 1 drops out
  EXPECT_EQ(window.Count(), 3u);
  EXPECT_DOUBLE_EQ(window.Mean(), 5.0);
  window.Clear();
  EXPECT_EQ(window.Count(), 0u);
}

}  // namespace
}  // namespace orbisan
