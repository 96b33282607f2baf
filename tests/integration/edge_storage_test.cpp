// Recording through a network outage with edge storage on: the camera keeps
// recording on its card, and once it is reachable again the driver plays the
// missing interval back into the same recording. Over UDP and interleaved
// RTP, and against a camera without a card, all three at once.
// STRANDLINE_EDGE_LONG=1 runs the one-minute recording with a 20 s outage;
// STRANDLINE_SOAK=1 runs 50 outage cycles instead of one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_camera.h"
#include "support/driver_rig.h"
#include "support/process_counts.h"
#include "support/process_stats.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/test_stream_request.h"
#include "support/wait_until.h"

using namespace std::chrono_literals;
using orbisan::test::ScratchDir;
using strandline::sim::SimulatedCamera;

namespace {

struct IndexRow {
  int64_t ms;
  bool edge;
};

// "n,utc,...,source" lines into capture times (ms since the epoch).
std::vector<IndexRow> ReadIndex(const std::string& csv) {
  std::vector<IndexRow> rows;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    const size_t utc = line.find(',') + 1;
    std::tm tm{};
    int ms = 0;
    if (sscanf(line.c_str() + utc, "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
               &tm.tm_min, &tm.tm_sec, &ms) != 7) {
      continue;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    rows.push_back({static_cast<int64_t>(timegm(&tm)) * 1000 + ms, line.ends_with(",edge")});
  }
  return rows;
}

// One camera recorded by `strandline record --edge` on its own thread.
struct EdgeRecording {
  EdgeRecording(const ScratchDir& dir, const std::string& tag, bool interleaved, bool card, int seconds)
      : dir_(dir), tag_(tag) {
    camera = std::make_unique<SimulatedCamera>();
    started = camera->Start();
    camera->SetStorageMounted(card);
    dir.Write(tag + ".xml", interleaved
                                ? "<Configuration><Default><RTPMode>RTPOVERRTSP</RTPMode></Default></Configuration>"
                                : "<Configuration/>");
    args = {STRANDLINE_HOST_PATH,
            "record",
            "--edge",
            "--address",
            "127.0.0.1",
            "--port",
            std::to_string(camera->HttpPort()),
            "--user",
            "admin",
            "--password",
            "admin",
            "--param",
            "7=" + std::to_string(camera->RtspPort()),
            "--codec",
            "h264",
            "--width",
            "320",
            "--height",
            "240",
            "--fps",
            "10",
            "--duration",
            std::to_string(seconds),
            "--config",
            dir.File(tag + ".xml"),
            "--out",
            dir.File(tag + ".h264"),
            "--index",
            dir.File(tag + ".csv")};
    thread =
        std::thread([this, seconds] { result = orbisan::test::RunCommand(args, std::chrono::seconds(seconds) + 60s); });
  }
  ~EdgeRecording() {
    if (thread.joinable()) thread.join();
  }
  void Finish() { thread.join(); }
  std::vector<IndexRow> Index() const { return ReadIndex(dir_.Read(tag_ + ".csv")); }
  std::string File() const { return dir_.File(tag_ + ".h264"); }

  const ScratchDir& dir_;
  std::string tag_;
  std::unique_ptr<SimulatedCamera> camera;
  bool started = false;
  std::vector<std::string> args;
  std::thread thread;
  orbisan::test::CommandResult result;
};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t LongestHole(const std::vector<IndexRow>& rows) {
  int64_t longest = 0;
  for (size_t i = 1; i < rows.size(); ++i) longest = std::max(longest, rows[i].ms - rows[i - 1].ms);
  return longest;
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
  ASSERT_TRUE(orbisan::test::WaitUntil([&] { return udp.camera->Storage().FrameCount() > 20; }, 30s));
  ASSERT_TRUE(orbisan::test::WaitUntil([&] { return tcp.camera->Storage().FrameCount() > 20; }, 30s));
  std::this_thread::sleep_for(longRun ? 6s : 2s);
  const int64_t cut = NowMs();
  for (EdgeRecording* r : all) r->camera->SetNetworkOutage(true);
  std::this_thread::sleep_for(outage);
  for (EdgeRecording* r : all) r->camera->SetNetworkOutage(false);
  const int64_t restored = NowMs();
  for (EdgeRecording* r : all) r->Finish();

  for (EdgeRecording* r : {&udp, &tcp}) {
    const std::string context = r->tag_ + ": " + r->result.out + r->result.err.substr(0, 4000);
    ASSERT_EQ(r->result.exit_code, 0) << context;
    const std::vector<IndexRow> rows = r->Index();
    ASSERT_GT(rows.size(), 100u) << context;
    EXPECT_LT(rows.front().ms, cut) << context;
    EXPECT_GT(rows.back().ms, restored) << context;
    // One frame interval (100 ms) on top of the second between key frames:
    // played-back video starts at the first key frame after the last live frame.
    EXPECT_LE(LongestHole(rows), 1100) << context;
    int64_t edgeFrames = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i > 0) {
        EXPECT_GT(rows[i].ms, rows[i - 1].ms) << "frame " << i << " " << context;
      }
      edgeFrames += rows[i].edge ? 1 : 0;
    }
    EXPECT_GT(edgeFrames, (outage / 1s - 2) * 10) << context;
    EXPECT_NE(r->result.out.find("edge_frames=" + std::to_string(edgeFrames) + "\n"), std::string::npos) << context;
    const orbisan::test::DecodeResult decoded = orbisan::test::DecodeWithFfmpeg("h264", r->File());
    EXPECT_EQ(decoded.errors, "") << context;
    EXPECT_EQ(decoded.frames, static_cast<int>(rows.size())) << context;
  }

  // Without a card the gap stays; the failure is told once, and the camera
  // is asked again only after growing pauses.
  const std::string context = none.result.out + none.result.err.substr(0, 4000);
  EXPECT_NE(none.result.out.find("edge_frames=0\n"), std::string::npos) << context;
  EXPECT_GT(LongestHole(none.Index()), 15000) << context;
  size_t lines = 0;
  for (size_t at = none.result.err.find("no storage on device"); at != std::string::npos;
       at = none.result.err.find("no storage on device", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 1u) << context;
  size_t asked = 0;
  for (const auto& request : none.camera->CgiRequests()) asked += request.query.find("DISK_STATE") != std::string::npos;
  EXPECT_GE(asked, 1u) << context;
  EXPECT_LE(asked, 4u) << context;
}

size_t Count(const std::vector<std::string>& lines, const std::string& text) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                           [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

TEST(EdgeStorageSoak, OutageCyclesLeaveThreadsDescriptorsAndMemoryFlat) {
  const int cycles = std::getenv("STRANDLINE_SOAK") ? 50 : 1;
  orbisan::test::Rig rig;
  ASSERT_TRUE(rig.started);
  ASSERT_TRUE(rig.Open(2000, 4000));  // a 4 s signal time-out keeps each outage short
  const uint16_t on = 1;
  ASSERT_TRUE(rig.capture->SetParameter("EdgeStorageState", &on, 2));
  orbisan::test::TestStreamRequest request(3, 320, 240, 10);
  ASSERT_TRUE(rig.capture->StartCapture(0, &rig.sink, &request));
  ASSERT_TRUE(rig.WaitFrames(10, 30s));
  auto edgeFrames = [&] {
    size_t n = 0;
    for (const auto& frame : rig.sink.Frames()) n += frame.streamName.ends_with("::EdgeChannel");
    return n;
  };
  // Every item taken up has ended, and another one has.
  auto settled = [&](size_t ended) {
    const auto lines = rig.log.Lines();
    const size_t finished = Count(lines, "- Processing finished.");
    return finished > ended && finished == Count(lines, "- Processing started.");
  };
  // One outage; most cycles wait for its gap to be filled, every fifth cuts
  // the playback short with the next outage (the item is taken up again).
  auto cycle = [&](int i) {
    const size_t ended = Count(rig.log.Lines(), "- Processing finished.");
    const size_t before = edgeFrames();
    rig.camera->SetNetworkOutage(true);
    std::this_thread::sleep_for(5500ms);
    rig.camera->SetNetworkOutage(false);
    if (i % 5 == 4) return orbisan::test::WaitUntil([&] { return edgeFrames() > before; }, 60s);
    return orbisan::test::WaitUntil([&] { return settled(ended); }, 90s);
  };
  ASSERT_TRUE(cycle(0)) << "no gap filled";
  const int threads = orbisan::test::SettledCount("/proc/self/task");
  const int fds = orbisan::test::SettledCount("/proc/self/fd");
  const long rss = orbisan::test::ResidentKiB();
  for (int i = 1; i <= cycles; ++i) ASSERT_TRUE(cycle(i)) << "cycle " << i;
  EXPECT_EQ(orbisan::test::CountSettlesAt("/proc/self/task", threads), threads);
  EXPECT_EQ(orbisan::test::CountSettlesAt("/proc/self/fd", fds), fds);
  EXPECT_LT(orbisan::test::ResidentKiB() - rss, 20 * 1024) << "KiB before " << rss;
  EXPECT_GT(edgeFrames(), static_cast<size_t>(cycles) * 20);
  RecordProperty("threads",
                 std::to_string(threads) + " -> " + std::to_string(orbisan::test::CountEntries("/proc/self/task")));
  RecordProperty("fds", std::to_string(fds) + " -> " + std::to_string(orbisan::test::CountEntries("/proc/self/fd")));
  RecordProperty("rss_kib", std::to_string(rss) + " -> " + std::to_string(orbisan::test::ResidentKiB()));
  RecordProperty("edge_frames", std::to_string(edgeFrames()));
  rig.capture->StopCapture(0);
  rig.Close();
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load());
}

}  // namespace
