// The RTSP video channels end to end: the driver object opened for the
// simulated camera, streams started through the host-facing capture object,
// frames checked by an independent decoder (ffmpeg).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "rtsp/scripted_rtsp_server.h"
#include "runtime/time_utils.h"
#include "sim/simulated_camera.h"
#include "support/driver_rig.h"
#include "support/process_counts.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/test_samples.h"
#include "support/test_stream_request.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace orbisan::ipcapture;
using namespace std::chrono_literals;
using orbisan::test::WaitUntil;
using strandline::sim::SimulatedCamera;
using Request = orbisan::test::TestStreamRequest;
using orbisan::test::Rig;

namespace {

const std::string kInterleaved = test::TransportConfig(true);

struct CodecCase {
  uint16_t codec;
  const char* model;
  const char* ffmpegFormat;
  uint32_t keyFourCC;
};

void CheckRecording(const std::vector<test::DeliveredFrame>& frames, const CodecCase& c, const std::string& tag) {
  ASSERT_GE(frames.size(), 5u) << tag;
  test::ScratchDir dir;
  const std::string path = dir.File(tag + ".bin");
  {
    // H.264 frames close with an access unit delimiter announcing the next
    // picture; the last one of a file has no picture after it, which ffmpeg
    // reports, so it is left out.
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < frames.size(); ++i) {
      const std::string& b = frames[i].bytes;
      const bool trim = c.codec == 3 && i + 1 == frames.size() && b.size() > 5 &&
                        b.compare(b.size() - 5, 5, std::string("\0\0\1\x09\x30", 5)) == 0;
      out << (trim ? b.substr(0, b.size() - 5) : b);
    }
  }
  const test::DecodeResult decoded = test::DecodeWithFfmpeg(c.ffmpegFormat, path);
  EXPECT_EQ(decoded.errors, "") << tag;
  EXPECT_GE(decoded.frames, 4) << tag;

  // Frame times increase and follow the wall clock.
  const uint64_t now = NowFileTime();
  uint64_t previous = 0;
  bool sawKey = false;
  for (const auto& f : frames) {
    const uint64_t t = SystemTimeToFileTime64(f.time);
    ASSERT_NE(t, 0u) << tag;
    EXPECT_GT(t, previous) << tag << ": time stamps must increase";
    previous = t;
    if (f.fourcc != c.keyFourCC) continue;
    sawKey = true;
    if (c.codec == 3) {
      // Annex B: a key frame opens with its parameter sets.
      ASSERT_GE(f.bytes.size(), 8u);
      const size_t start = f.bytes.compare(0, 4, std::string("\0\0\0\1", 4)) == 0 ? 4 : 3;
      const unsigned type = static_cast<unsigned char>(f.bytes[start]) & 0x1F;
      EXPECT_TRUE(type == 7 || type == 9) << tag << ": key frame starts with NAL type " << type;
      EXPECT_NE(f.bytes.find(std::string("\0\0\1\x68", 4)), std::string::npos) << tag << ": no PPS in key frame";
    }
  }
  EXPECT_LT(now > previous ? now - previous : previous - now, 30000000ull) << tag << ": last frame far from now";
  EXPECT_TRUE(sawKey) << tag;
}

// Opens the rig's driver with the given time-outs and starts a 320x240 H.264
// stream on input 0; faults meant for the set-up are armed before the call.
::testing::AssertionResult StartH264(Rig& rig, uint32_t connectMs = 2000, uint32_t signalMs = 4000) {
  if (!rig.started) return ::testing::AssertionFailure() << "the simulated camera did not start";
  if (!rig.Open(connectMs, signalMs)) return ::testing::AssertionFailure() << "the driver did not open";
  Request request(3, 320, 240, 10);
  if (!rig.capture->StartCapture(0, &rig.sink, &request)) return ::testing::AssertionFailure() << "no capture";
  return ::testing::AssertionSuccess();
}

}  // namespace

class CodecTransport : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(CodecTransport, FramesArriveDecodeAndFollowTheClock) {
  static const CodecCase cases[] = {
      {3, "TCM5311", "h264", kFourCC_H264},
      {2, "ACM8201", "m4v", kFourCC_DIVX},
      {1, "TCM5311", "mjpeg", kFourCC_JPEG},
  };
  const CodecCase& c = cases[std::get<0>(GetParam())];
  const bool interleaved = std::get<1>(GetParam());
  const std::string tag = std::string(c.ffmpegFormat) + (interleaved ? "-tcp" : "-udp");
  Rig rig(c.model, interleaved ? kInterleaved : "");
  ASSERT_TRUE(rig.started);
  ASSERT_TRUE(rig.Open());
  Request request(c.codec, 320, 240, 10);
  ASSERT_TRUE(rig.capture->StartCapture(0, &rig.sink, &request));
  EXPECT_TRUE(rig.WaitFrames(25, 40s)) << tag << ": only " << rig.sink.FrameCount() << " frames";
  uint32_t state = 9, reserved = 0;
  EXPECT_TRUE(rig.capture->GetStreamState(0, &state, &reserved, nullptr, 0));
  EXPECT_EQ(state, 0u) << tag;
  EXPECT_TRUE(rig.capture->StopCapture(0));
  CheckRecording(rig.sink.Frames(), c, tag);
  EXPECT_EQ(rig.log.Count("is online (Rec)"), 1) << tag;
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load()) << tag << ": samples not released";
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, CodecTransport, ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Bool()));

// Edge monitoring pauses the session and resumes the same one; a frozen
// stream is reconnected, the encoder set up again over HTTP before the new
// session; a camera gone away is one signal loss, told once with one offline
// line, and streams again once it is back.
TEST(VideoChannelFaults, MonitoringPausesAFrozenStreamIsReconnectedACameraAwayComesBackAndCyclesLeaveNothing) {
  Rig rig;
  ASSERT_TRUE(StartH264(rig));
  ASSERT_TRUE(rig.WaitFrames(5, 30s));
  rig.camera->ClearCgiRequests();
  ASSERT_TRUE(rig.capture->StartEdgeMonitoring(0));
  EXPECT_FALSE(rig.capture->StartEdgeMonitoring(0)) << "already monitoring";
  std::this_thread::sleep_for(1500ms);
  const size_t paused = rig.sink.FrameCount();
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(rig.sink.FrameCount(), paused) << "frames reached the host while monitoring";
  uint32_t state = 9, reserved = 0;
  EXPECT_TRUE(rig.capture->GetStreamState(0, &state, &reserved, nullptr, 0));
  EXPECT_EQ(state, 0u) << "a paused session is not a lost signal";
  ASSERT_TRUE(rig.capture->StopEdgeMonitoring(0));
  EXPECT_FALSE(rig.capture->StopEdgeMonitoring(0));
  EXPECT_TRUE(rig.WaitFrames(paused + 5, 20s));
  // Resumed with PLAY on the same session: no new encoder set-up was needed.
  EXPECT_TRUE(rig.camera->CgiRequests().empty());
  EXPECT_EQ(rig.log.Count("Signal was lost"), 0);

  ASSERT_TRUE(rig.WaitFrames(10, 30s));
  rig.camera->ClearCgiRequests();
  rig.camera->SetStreamFrozen(true);
  ASSERT_TRUE(WaitUntil([&] { return !rig.camera->CgiRequests().empty(); }, 30s));
  rig.camera->SetStreamFrozen(false);
  ASSERT_TRUE(rig.WaitFrames(rig.sink.FrameCount() + 5, 30s));

  const int lost = rig.sink.signalLost;
  const int lostLines = rig.log.Count("Signal was lost for camera 127.0.0.1 (Rec)");
  const int online = rig.log.Count("is online (Rec)");
  rig.camera->SetRtspRefuseConnections(true);
  rig.camera->DropRtspConnections();
  ASSERT_TRUE(WaitUntil([&] { return rig.sink.signalLost.load() == lost + 1; }, 30s));
  const size_t before = rig.sink.FrameCount();
  rig.camera->SetRtspRefuseConnections(false);
  ASSERT_TRUE(rig.WaitFrames(before + 1, 30s));
  EXPECT_EQ(rig.sink.signalLost.load(), lost + 1);
  EXPECT_EQ(rig.log.Count("Signal was lost for camera 127.0.0.1 (Rec)"), lostLines + 1);
  EXPECT_EQ(rig.log.Count("is online (Rec)"), online + 1);
  EXPECT_TRUE(rig.capture->StopCapture(0));
  rig.Close();

  // Start and stop cycles, then driver cycles, leave nothing behind; the
  // streams above made what is made lazily once a process before the counts.
  Request request(3, 320, 240, 10);
  const test::Counts counts = test::SettledCounts();
  const int cycles = std::getenv("STRANDLINE_SOAK") ? 500 : 40;
  ASSERT_TRUE(rig.Open());
  for (int i = 0; i < cycles; ++i) {
    const size_t before = rig.sink.FrameCount();
    ASSERT_TRUE(rig.capture->StartCapture(0, &rig.sink, &request));
    // Every tenth stop comes while frames flow, the others during set-up.
    if (i % 10 == 0) {
      ASSERT_TRUE(rig.WaitFrames(before + 1, 30s)) << "cycle " << i;
    }
    rig.capture->StopCapture(0);
  }
  rig.Close();
  // Each driver closes while its stream delivers frames.
  const int driverCycles = std::getenv("STRANDLINE_SOAK") ? 200 : 10;
  for (int i = 0; i < driverCycles; ++i) {
    ASSERT_TRUE(rig.Open());
    const size_t before = rig.sink.FrameCount();
    ASSERT_TRUE(rig.capture->StartCapture(0, &rig.sink, &request));
    ASSERT_TRUE(rig.WaitFrames(before + 2, 30s)) << "driver cycle " << i;
    rig.Close();
  }
  EXPECT_EQ(test::CountsSettleAt(counts), counts);
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load());
}

int SaveRebootCount(SimulatedCamera& camera) {
  int n = 0;
  for (const auto& r : camera.CgiRequests()) n += r.query.find("SAVE_REBOOT") != std::string::npos;
  return n;
}

// On one camera: 503 first (busy, but the service works), then 500 on every DESCRIBE.
TEST(VideoChannelFaults, RebootOnlyForAFailedRtspServiceAndAtMostOncePerHoldOff) {
  Rig rig;
  rig.camera->SetRtspRequestStatus(503);
  ASSERT_TRUE(StartH264(rig, 1000, 3000));
  EXPECT_TRUE(WaitUntil([&] { return rig.log.Count("DESCRIBE refused: 503") >= 1; }, 30s));
  std::this_thread::sleep_for(3s);  // a few more tries
  EXPECT_TRUE(rig.capture->StopCapture(0));
  EXPECT_EQ(SaveRebootCount(*rig.camera), 0);
  EXPECT_EQ(rig.log.Count("DESCRIBE refused: 503 for"), 1) << "once per outage";
  rig.Close();

  rig.camera->SetRtspRequestStatus(0);
  rig.camera->SetDescribeFault(strandline::sim::DescribeFault::kStatus500);
  ASSERT_TRUE(StartH264(rig, 1000, 3000));
  // The camera comes back from its reboot still failing: the next reboot waits.
  EXPECT_TRUE(WaitUntil([&] { return rig.log.Count("reboot held back") >= 1; }, 30s));
  EXPECT_EQ(SaveRebootCount(*rig.camera), 1);
  EXPECT_EQ(rig.log.Count("Save and reboot device 127.0.0.1:"), 1);
  EXPECT_TRUE(rig.capture->StopCapture(0));
}

// Stops while the camera misbehaves keep their bound and leave no thread that
// cannot be stopped: a CGI request never answered (without the cancel the
// stop waits for the HTTP time-out), a DESCRIBE never answered (cut short by
// our own stop it is no camera failure to reboot for), and DESCRIBE answers
// that trickle in a byte every 50 ms or claim 4 GB and stream filler, which
// grow no memory either although the receive time-out alone allows 20 s.
TEST(VideoChannelFaults, StopsWhileTheCameraMisbehavesKeepTheirBound) {
  using strandline::sim::DescribeFault;
  test::ScriptedRtspServer silent([](const std::string&, size_t) { return test::ScriptedRtspServer::kSilent; });
  const auto describing = [](Rig&) {
    std::this_thread::sleep_for(3s);  // encoder set-up, port choice, DESCRIBE under way
    return true;
  };
  struct Case {
    const char* name;
    uint32_t connectMs, signalMs;
    std::chrono::milliseconds bound;
    std::function<void(Rig&)> arm;
    std::function<bool(Rig&)> underWay;  // waits until the stop may come
    bool cutShort = false;               // the stop cuts the camera's DESCRIBE short
  };
  const Case cases[] = {
      {"CGI never answered", 4000, 8000, 2000ms,
       [](Rig& r) { r.camera->SetHttpFault(strandline::sim::HttpFault::kNoAnswer); },
       [](Rig& r) { return WaitUntil([&] { return !r.camera->CgiRequests().empty(); }, 30s); }},
      {"DESCRIBE never answered", 1500, 4000, 3500ms,
       [&](Rig& r) { r.setup.params[7] = std::to_string(silent.port()); },
       [&](Rig&) { return silent.WaitForRequests(1, 30000); }, true},
      {"trickle", 20000, 60000, 3s, [](Rig& r) { r.camera->SetDescribeFault(DescribeFault::kTrickle); }, describing},
      {"4 GB", 20000, 60000, 3s, [](Rig& r) { r.camera->SetDescribeFault(DescribeFault::kHugeContentLength); },
       describing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    c.arm(rig);
    const long residentBefore = test::ResidentKiB();
    ASSERT_TRUE(StartH264(rig, c.connectMs, c.signalMs));
    ASSERT_TRUE(c.underWay(rig));
    EXPECT_LT(test::ResidentKiB() - residentBefore, 64 * 1024) << "KiB grown while the answer came";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(rig.capture->StopCapture(0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, c.bound);
    EXPECT_EQ(rig.log.Count("cannot be stopped"), 0);
    EXPECT_FALSE(c.cutShort && SaveRebootCount(*rig.camera) != 0) << "rebooted";
    rig.Close();
  }
}

TEST(VideoChannelMulticast, ReceivesTheGroupAndRebuildsAfterBye) {
  if (std::getenv("STRANDLINE_NETNS") == nullptr) {
    GTEST_SKIP() << "multicast runs only inside a private network namespace (scripts/netns-run)";
  }
  for (const char* mode : {"multicast", "multicast primary"}) {
    Rig rig("TCM5311", std::string("<Configuration><StreamingMode>") + mode + "</StreamingMode></Configuration>");
    ASSERT_TRUE(StartH264(rig));
    ASSERT_TRUE(rig.WaitFrames(15, 40s)) << mode << ": " << rig.sink.FrameCount() << " frames";
    CheckRecording(rig.sink.Frames(), {3, "TCM5311", "h264", kFourCC_H264}, "multicast");
    bool configured = false;
    for (const auto& r : rig.camera->CgiRequests()) configured |= r.path == "/cgi-bin/encoder";
    // "multicast" alone streams as the camera is set; "primary" sets it up first.
    EXPECT_EQ(configured, std::string(mode) == "multicast primary") << mode;
    rig.camera->SendRtcpBye();
    EXPECT_TRUE(WaitUntil([&] { return rig.log.Count("ended the multicast stream (RTCP BYE)") == 1; }, 30s)) << mode;
    const size_t before = rig.sink.FrameCount();
    EXPECT_TRUE(rig.WaitFrames(before + 10, 30s)) << mode << ": no frames after BYE";
    EXPECT_TRUE(rig.capture->StopCapture(0));
  }
}

TEST(VideoChannelMulticast, CameraGroupZeroFallsBackToUnicast) {
  Rig rig("TCM5311", "<Configuration><StreamingMode>multicast</StreamingMode></Configuration>");
  rig.setup.params[5] = "0";
  ASSERT_TRUE(StartH264(rig));
  ASSERT_TRUE(rig.WaitFrames(5, 40s));
  EXPECT_TRUE(rig.capture->StopCapture(0));
  bool multicastPath = false;
  for (const auto& r : rig.camera->CgiRequests()) multicastPath |= r.query.find("multicast") != std::string::npos;
  EXPECT_FALSE(multicastPath);
}
