// The reference host's gap list from frame times and the driver's events
// alone: each cause, and how much of a hole played-back frames filled.
#include "host/gap_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace strandline::host {
namespace {

TEST(GapLog, TellsEachHoleItsCauseAndWhatTheCardFilled) {
  struct Case {
    const char* name;
    int64_t firstFrameMs;  // requested at 0; live frames every 100 ms up to lastFrameMs
    int64_t lastFrameMs;
    bool hole;  // no live frame from 2000 to 5000
    int64_t signalLostMs;
    int64_t reconnectMs;
    int64_t edgeFromMs;  // played-back frames every 100 ms from here into the hole
    std::vector<std::string> causes;
    int64_t lastStartMs = 0;  // of the last row
    int64_t lastEndMs = 0;
    double lastEdgeSeconds = 0;
  };
  const Case cases[] = {
      {"quick start, no hole", 800, 8000, false, -1, -1, -1, {}},
      {"late first frame", 1500, 8000, false, -1, -1, -1, {"start"}, 0, 1500},
      {"rebuilt before the signal time-out", 0, 8000, true, -1, 5200, -1, {"reconnect"}, 2000, 5000},
      {"signal lost, then rebuilt", 0, 8000, true, 4000, 5200, -1, {"signal_lost"}, 2000, 5000},
      {"frames stop without a reconnect", 0, 8000, true, -1, -1, -1, {"signal_lost"}, 2000, 5000},
      {"filled from the card", 0, 8000, true, 4000, 5200, 2100, {"signal_lost"}, 2000, 5000, 3.0},
      {"filled after a second and a half", 0, 8000, true, 4000, 5200, 3500, {"signal_lost"}, 2000, 5000, 1.5},
      {"video gone at the end", 0, 6000, false, -1, -1, -1, {"camera_ended"}, 6000, 8000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GapLog log;
    log.Requested(0);
    for (int64_t t = c.firstFrameMs; t <= c.lastFrameMs; t += 100) {
      if (!c.hole || t <= 2000 || t >= 5000) log.LiveFrame(t);
    }
    if (c.signalLostMs >= 0) log.SignalLost(c.signalLostMs);
    if (c.reconnectMs >= 0) log.Reconnected(c.reconnectMs);
    for (int64_t t = c.edgeFromMs; c.edgeFromMs >= 0 && t < 5000; t += 100) log.EdgeFrame(t);
    const std::vector<GapLog::Gap> gaps = log.Gaps(8000);
    std::vector<std::string> causes;
    for (const GapLog::Gap& gap : gaps) causes.push_back(gap.cause);
    EXPECT_EQ(causes, c.causes);
    if (gaps.empty()) continue;
    EXPECT_EQ(gaps.back().startMs, c.lastStartMs);
    EXPECT_EQ(gaps.back().endMs, c.lastEndMs);
    EXPECT_DOUBLE_EQ(gaps.back().edgeSeconds, c.lastEdgeSeconds);
  }
}

}  // namespace
}  // namespace strandline::host
