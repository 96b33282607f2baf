// The RTSP channel against a scripted camera: why a session does not come
// up, in the recorder's words, the RTP port pair given up when the camera
// already sends to it, and a held picture finished in a pause.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "channels/base_rtsp_channel.h"
#include "depacketizers/bit_writer.h"
#include "rtsp/rtp_test_util.h"
#include "rtsp/scripted_rtsp_server.h"
#include "rtsp/udp_test_socket.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

namespace orbisan {
namespace {

using test::Method;

class ScriptedCameraChannel : public CBaseRTSPChannel {
 public:
  ScriptedCameraChannel(IDriver* driver, uint16_t port, ipcapture::IVideoFrameSink* sink = nullptr)
      : CBaseRTSPChannel(0, driver, sink), port_(port) {}
  ~ScriptedCameraChannel() override { Stop(); }
  void SetPrivacyMask(ipcapture::IPrivacyZoneList*) override {}
  void DescribeFailed() override {}
  bool PacketArrived() { return packetReceived_.IsSet(); }
  uint16_t RtpPort() { return receiver_.GetPort(); }

 protected:
  bool ConfigureStream() override { return true; }
  void FillSessionParams(RTSP_SESSION_PARAMS& params) override {
    params.serverPort = port_;
    params.path = "/live";
  }

 private:
  uint16_t port_;
};

std::string Described(const std::string& sdp) {
  return "200 OK\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

// Answers DESCRIBE and SETUP with the given status line rest and headers
// (and body); everything else with 200.
struct Camera {
  std::string describe = Described("m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n");
  std::string setup = "200 OK\r\nSession: 1\r\n\r\n";
  std::function<void()> onDescribe;
  std::string operator()(const std::string& r, size_t) const {
    if (Method(r) == "DESCRIBE" && onDescribe) onDescribe();
    const std::string& rest = Method(r) == "DESCRIBE" ? describe : Method(r) == "SETUP" ? setup : "200 OK\r\n\r\n";
    return "RTSP/1.0 " + rest.substr(0, rest.find("\r\n")) + "\r\nCSeq: " + test::CSeqOf(r) +
           rest.substr(rest.find("\r\n"));
  }
};

class RtspChannelSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { driver.hostDirectory = dir.Path(); }
  test::ScratchDir dir;
  test::TestDriver driver;
  STREAM_PARAMS params;
};

TEST_F(RtspChannelSessionTest, FailuresNameTheReason) {
  const std::string url = "rtsp://127.0.0.1:{port}/live";
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {Described("m=audio 0 RTP/AVP 0\r\n"), "", "the description has no usable video section"},
      {"200 OK\r\nContent-Type: application/sdp\r\n\r\n", "", "the description has no usable video section"},
      {Described("m=video 0 RTP/AVP 98\r\na=rtpmap:98 H265/90000\r\n"), "",
       "the description's video encoding \"H265/90000\" is not H.264, MPEG-4 or JPEG"},
      {"", "404 Not Found\r\n\r\n", "SETUP refused: 404 for " + url + "/trackID=1"},
      {"302 Found\r\nLocation: rtsp://192.0.2.7/x\r\n\r\n", "",
       "the camera answered 302 to a host we do not follow (rtsp://192.0.2.7/x)"},
      {"", "200 OK\r\nSession: 1\x01\r\n\r\n",
       "the SETUP answer from " + url + " cannot be used: its Session header holds a control character"},
  };
  for (const auto& [describe, setup, expected] : cases) {
    SCOPED_TRACE(expected);
    Camera camera;
    if (!describe.empty()) camera.describe = describe;
    if (!setup.empty()) camera.setup = setup;
    test::ScriptedRtspServer server(camera);
    ScriptedCameraChannel channel(&driver, server.port());
    ASSERT_TRUE(channel.Start(&params));
    std::string failure;
    EXPECT_TRUE(test::WaitUntil([&] { return !(failure = channel.GetStatistics().lastFailure).empty(); }));
    channel.Stop();
    std::string reason = expected;
    if (reason.find("{port}") != std::string::npos)
      reason.replace(reason.find("{port}"), 6, std::to_string(server.port()));
    EXPECT_EQ(failure, reason);
  }
}

// A stream of an earlier session that still arrives on the pair taken (the
// camera's packets come before SETUP) makes the channel announce another.
// The stray stream goes to whatever pair the channel took, so tests of
// other processes taking ports meanwhile do not matter.
TEST_F(RtspChannelSessionTest, PortPairReceivingAStrayStreamIsGivenUp) {
  for (const bool stray : {false, true}) {
    SCOPED_TRACE(stray ? "stray stream" : "quiet");
    std::atomic<ScriptedCameraChannel*> watched{nullptr};
    std::atomic<uint16_t> strayPort{0};
    std::atomic<bool> sending{stray};
    std::atomic<bool> described{false};
    std::thread camera([&] {
      test::UdpTestSocket socket;
      const test::RtpFields fields = {.payload = {1, 2, 3}};
      for (int i = 0; i < 20000 && sending.load(); ++i) {
        // Follows the channel until DESCRIBE is answered (the pair search
        // passes over a candidate that a packet reached at once); the port is
        // read first, so it cannot be the pair taken after the answer.
        const uint16_t port = watched.load() ? watched.load()->RtpPort() : 0;
        if (port != 0 && !described.load()) strayPort = port;
        if (strayPort.load() != 0) socket.SendTo(strayPort.load(), test::BuildRtp(fields));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    Camera script;
    // DESCRIBE is answered once the stray stream reached the channel. A
    // later DESCRIBE may still wait when the channel stops: the lock keeps
    // the server's thread off a channel that is going away.
    std::mutex watchedLock;
    script.onDescribe = [&] {
      if (!stray) return;
      test::WaitUntil([&] {
        std::lock_guard<std::mutex> lock(watchedLock);
        return !watched.load() || watched.load()->PacketArrived();
      });
      described = true;
    };
    test::ScriptedRtspServer server(script);
    ScriptedCameraChannel channel(&driver, server.port());
    watched = &channel;
    ASSERT_TRUE(channel.Start(&params));
    EXPECT_TRUE(server.WaitForRequests(2));
    const uint16_t taken = channel.RtpPort();
    channel.Stop();
    sending = false;
    camera.join();
    {
      std::lock_guard<std::mutex> lock(watchedLock);
      watched = nullptr;
    }
    const std::vector<std::string> requests = server.Requests();
    ASSERT_GE(requests.size(), 2u);
    const size_t at = requests[1].find("client_port=");
    ASSERT_NE(at, std::string::npos) << requests[1];
    const int announced = std::stoi(requests[1].substr(at + 12));
    EXPECT_EQ(driver.LinesWith("already receives a stream").size(), stray ? 1u : 0u);
    EXPECT_EQ(announced, taken);
    if (stray) {
      EXPECT_GT(announced, strayPort.load());
    }
    driver.ClearLines();
  }
}

// Interleaved, the session thread also ends a picture held for the packet
// after it: one picture and then a pause (a slow stream's first) arrives.
TEST_F(RtspChannelSessionTest, InterleavedPictureHeldForTheNextPacketEndsInAPause) {
  dir.Write("Strandline.xml", "<Configuration><Default><RTPMode>RTPOVERRTSP</RTPMode></Default></Configuration>");
  test::TestAllocator allocator;
  driver.allocator = &allocator;
  test::TestSink sink;
  Camera script;
  script.setup = "200 OK\r\nSession: 1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n";
  test::ScriptedRtspServer server(script);
  ScriptedCameraChannel channel(&driver, server.port(), &sink);
  ASSERT_TRUE(channel.Start(&params));
  ASSERT_TRUE(server.WaitForRequests(3));  // up to PLAY
  test::RtpFields fields;
  for (const auto& unit : {test::BaselineSps(20, 15), {0x68, 0xCE, 0x3C, 0x80}, {0x65, 0x88, 0x84, 0x21}}) {
    fields.payload = unit;
    fields.marker = unit[0] == 0x65;
    const std::vector<uint8_t> frame = test::Interleave(0, test::BuildRtp(fields));
    server.Send(std::string(frame.begin(), frame.end()));
    ++fields.sequence;
  }
  EXPECT_TRUE(test::WaitUntil([&] { return sink.FrameCount() == 1; }));
  channel.Stop();
}

}  // namespace
}  // namespace orbisan
