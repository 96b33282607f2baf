// Recording through a network outage with edge storage on: the camera keeps
// recording on its card, and once it is reachable again the driver plays the
// missing interval back into the same recording. Over UDP and interleaved
// RTP, and against a camera without a card, all three at once; the gap list
// tells the outage and how much of it the card filled.
// STRANDLINE_EDGE_LONG=1 runs the one-minute recording with a 20 s outage.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/gap_log.h"
#include "sim/simulated_camera.h"
#include "support/host_process.h"
#include "support/index_csv.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

using namespace std::chrono_literals;
using orbisan::test::ScratchDir;
using strandline::sim::SimulatedCamera;

namespace {

// One camera recorded by `strandline record --edge` on its own thread.
struct EdgeRecording {
  EdgeRecording(const ScratchDir& dir, const std::string& tag, bool interleaved, bool card, int seconds)
      : dir_(dir), tag_(tag) {
    camera = std::make_unique<SimulatedCamera>();
    started = camera->Start();
    camera->SetStorageMounted(card);
    dir.Write(tag + ".xml", orbisan::test::TransportConfig(interleaved));
    args = orbisan::test::HostArgs(
        "record --edge --codec h264 --width 320 --height 240 --fps 10 --param 7=" + std::to_string(camera->RtspPort()) +
            " --duration " + std::to_string(seconds) + " --config " + dir.File(tag + ".xml") + " --out " +
            dir.File(tag + ".h264") + " --index " + dir.File(tag + ".csv") + " --gaps " + dir.File(tag + ".gaps"),
        camera->HttpPort());
    args.insert(args.begin(), STRANDLINE_HOST_PATH);
    thread =
        std::thread([this, seconds] { result = orbisan::test::RunCommand(args, std::chrono::seconds(seconds) + 60s); });
  }
  ~EdgeRecording() {
    if (thread.joinable()) thread.join();
  }
  void Finish() { thread.join(); }

  const ScratchDir& dir_;
  std::string tag_;
  std::unique_ptr<SimulatedCamera> camera;
  bool started = false;
  std::vector<std::string> args;
  std::thread thread;
  orbisan::test::CommandResult result;
};

long long LongestHole(const std::vector<long long>& times) {
  long long longest = 0;
  for (size_t i = 1; i < times.size(); ++i) longest = std::max(longest, times[i] - times[i - 1]);
  return longest;
}

struct GapRow {
  double seconds = 0;
  double edgeSeconds = 0;
};

// The outage's row of a gap list (start_utc,end_utc,seconds,cause,edge_seconds):
// the one hole told as a lost signal; the summary counts the rows too.
GapRow OutageRow(const std::string& csv, const std::string& summary) {
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "start_utc,end_utc,seconds,cause,edge_seconds");
  GapRow outage;
  size_t rows = 0, lost = 0;
  for (; std::getline(lines, line); ++rows) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    EXPECT_EQ(cells.size(), 5u) << line;
    if (cells.size() != 5) continue;
    EXPECT_TRUE(cells[3] == "signal_lost" || cells[3] == "start") << csv;
    if (cells[3] == "signal_lost") outage = {std::stod(cells[2]), std::stod(cells[4])}, ++lost;
  }
  EXPECT_NE(summary.find(" gaps=" + std::to_string(rows) + " "), std::string::npos) << summary << csv;
  EXPECT_EQ(lost, 1u) << csv;
  return outage;
}

TEST(EdgeStorage, OutageIsFilledFromTheCardOverUdpAndInterleavedAndLeftWithoutOne) {
  const bool longRun = std::getenv("STRANDLINE_EDGE_LONG") != nullptr;
  // The outage must outlast the driver's 15 s signal time-out to count as a gap.
  const auto outage = longRun ? 20s : 18s;
  const int seconds = longRun ? 60 : 50;
  ScratchDir dir("strandline_edge");
  EdgeRecording udp(dir, "udp", false, true, seconds);
  EdgeRecording tcp(dir, "tcp", true, true, seconds);
  EdgeRecording none(dir, "none", false, false, seconds);
  ASSERT_TRUE(udp.started && tcp.started && none.started);
  EdgeRecording* all[] = {&udp, &tcp, &none};
  // Video flows into every recording before the network goes.
  for (EdgeRecording* r : {&udp, &tcp})
    ASSERT_TRUE(orbisan::test::WaitUntil([&] { return r->camera->Storage().FrameCount() > 20; }, 30s));
  std::this_thread::sleep_for(longRun ? 6s : 2s);
  for (EdgeRecording* r : all) r->camera->SetNetworkOutage(true);
  std::this_thread::sleep_for(outage);
  for (EdgeRecording* r : all) r->camera->SetNetworkOutage(false);
  for (EdgeRecording* r : all) r->Finish();

  for (EdgeRecording* r : {&udp, &tcp}) {
    const std::string context = r->tag_ + ": " + r->result.out + r->result.err.substr(0, 4000);
    ASSERT_EQ(r->result.exit_code, 0) << context;
    const std::string csv = dir.Read(r->tag_ + ".csv");
    const std::vector<long long> times = orbisan::test::IndexTimes(csv);
    // The index covers the whole recording, outage included, without a hole
    // longer than the second between key frames and one frame interval:
    // played-back video starts at the first key frame after the last live frame.
    ASSERT_GT(times.size(), 100u) << context;
    EXPECT_GT(times.back(), seconds * 1000 - 5000) << context;
    EXPECT_LE(LongestHole(times), 1100) << context;
    for (size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i], times[i - 1]) << "row " << i << " " << context;
    const size_t edgeFrames = orbisan::test::Occurrences(csv, ",edge\n");
    EXPECT_GT(edgeFrames, static_cast<size_t>(outage / 1s - 2) * 10) << context;
    EXPECT_NE(r->result.out.find(" edge_frames=" + std::to_string(edgeFrames) + " "), std::string::npos) << context;
    // The live hole spans the outage; the card filled all of it but the wait
    // for its first key frame.
    const GapRow outageRow = OutageRow(dir.Read(r->tag_ + ".gaps"), r->result.out);
    EXPECT_GE(outageRow.seconds, static_cast<double>(outage / 1s) - 0.5) << context;
    EXPECT_GE(outageRow.edgeSeconds, outageRow.seconds - 2.5) << context;
    const orbisan::test::DecodeResult decoded = orbisan::test::DecodeWithFfmpeg("h264", dir.File(r->tag_ + ".h264"));
    EXPECT_EQ(decoded.errors, "") << context;
    EXPECT_EQ(decoded.frames, static_cast<int>(times.size())) << context;
  }

  // Without a card the gap stays; the failure is told once, and the camera
  // is asked again only after growing pauses.
  const std::string context = none.result.out + none.result.err.substr(0, 4000);
  EXPECT_NE(none.result.out.find(" edge_frames=0 "), std::string::npos) << context;
  EXPECT_GT(LongestHole(orbisan::test::IndexTimes(dir.Read("none.csv"))), 15000) << context;
  const GapRow unfilled = OutageRow(dir.Read("none.gaps"), none.result.out);
  EXPECT_GE(unfilled.seconds, static_cast<double>(outage / 1s) - 0.5) << context;
  EXPECT_EQ(unfilled.edgeSeconds, 0) << context;
  EXPECT_EQ(orbisan::test::Occurrences(none.result.err, "no storage on device"), 1u) << context;
  size_t asked = 0;
  for (const auto& request : none.camera->CgiRequests()) asked += request.query.find("DISK_STATE") != std::string::npos;
  EXPECT_LE(asked, 4u) << context;
}

// The reference host's gap list from frame times and the driver's events
// alone: each cause, and how much of a hole played-back frames filled.
TEST(GapLog, TellsEachHoleItsCauseAndWhatTheCardFilled) {
  using strandline::host::GapLog;
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
