// The RTSP channel against a scripted camera: why a session does not come
// up, in the words the recorder shows, and the RTP port pair given up when
// the camera already sends to it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "channels/base_rtsp_channel.h"
#include "rtsp/rtp_port_choice.h"
#include "rtsp/rtp_test_util.h"
#include "rtsp/scripted_rtsp_server.h"
#include "rtsp/udp_test_socket.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

namespace orbisan {
namespace {

using test::CSeqOf;
using test::Method;
using test::ScriptedRtspServer;

class ScriptedCameraChannel : public CBaseRTSPChannel {
 public:
  ScriptedCameraChannel(IDriver* driver, uint16_t port) : CBaseRTSPChannel(0, driver, nullptr), port_(port) {}
  ~ScriptedCameraChannel() override { Stop(); }
  void SetPrivacyMask(ipcapture::IPrivacyZoneList*) override {}
  void DescribeFailed() override {}
  bool PacketArrived() { return packetReceived_.IsSet(); }

 protected:
  bool ConfigureStream() override { return true; }
  void FillSessionParams(RTSP_SESSION_PARAMS& params) override {
    params.serverPort = port_;
    params.path = "/live";
  }

 private:
  uint16_t port_;
};

std::string Answer(const std::string& request, const std::string& status, const std::string& headers,
                   const std::string& body = "") {
  std::string answer = "RTSP/1.0 " + status + "\r\nCSeq: " + CSeqOf(request) + "\r\n" + headers;
  if (!body.empty()) answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return answer + "\r\n" + body;
}

const std::string kVideo = "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n";

struct Camera {
  std::string describe = Answer("", "200 OK", "", "v=0\r\n" + kVideo);  // CSeq filled in below
  std::string setup = "200 OK";
  std::string setupHeaders = "Session: 1\r\nTransport: RTP/AVP;unicast;client_port=0-1\r\n";
  std::function<void()> onDescribe;

  std::string operator()(const std::string& r, size_t) const {
    if (Method(r) == "DESCRIBE") {
      if (onDescribe) onDescribe();
      std::string answer = describe;
      const size_t at = answer.find("CSeq: ");
      return answer.replace(at + 6, answer.find("\r\n", at) - at - 6, CSeqOf(r));
    }
    if (Method(r) == "SETUP") return Answer(r, setup, setupHeaders);
    return Answer(r, "200 OK", "Session: 1\r\n");
  }
};

class RtspChannelSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver.hostDirectory = dir.Path();
    driver.info.connectTimeoutMs = 2000;
    driver.info.signalTimeoutMs = 4000;
  }
  STREAM_PARAMS Stream() {
    STREAM_PARAMS params;
    params.width = 640;
    params.height = 480;
    return params;
  }
  test::ScratchDir dir;
  test::TestDriver driver;
};

// Every failure names what was wrong; none is a success status.
TEST_F(RtspChannelSessionTest, FailuresNameTheReason) {
  struct Case {
    const char* name;
    Camera camera;
    std::string reason;  // {url}: the session's base URL
  };
  const auto describe = [](const std::string& status, const std::string& headers, const std::string& body) {
    return Answer("", status, headers, body);
  };
  Camera audioOnly;
  audioOnly.describe = describe("200 OK", "", "v=0\r\nm=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n");
  Camera noBody;
  noBody.describe = describe("200 OK", "Content-Type: application/sdp\r\n", "");
  Camera h265;
  h265.describe = describe("200 OK", "", "m=video 0 RTP/AVP 98\r\na=rtpmap:98 H265/90000\r\n");
  Camera setup404;
  setup404.setup = "404 Not Found";
  Camera elsewhere;
  elsewhere.describe = describe("302 Found", "Location: rtsp://192.0.2.7/x\r\n", "");
  Camera badSession;
  badSession.setupHeaders =
      "Session: 1\x01"
      "2\r\n";
  const Case cases[] = {
      {"no video section", audioOnly, "the description has no usable video section"},
      {"no description", noBody, "the description has no usable video section"},
      {"unknown encoding", h265, "the description's video encoding \"H265/90000\" is not H.264, MPEG-4 or JPEG"},
      {"SETUP refused", setup404, "SETUP refused: 404 for {url}/trackID=1"},
      {"redirect elsewhere", elsewhere, "the camera answered 302 to a host we do not follow (rtsp://192.0.2.7/x)"},
      {"unusable SETUP answer", badSession,
       "the SETUP answer from {url} cannot be used: its Session header holds a control character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRtspServer server(c.camera);
    ScriptedCameraChannel channel(&driver, server.port());
    const STREAM_PARAMS params = Stream();
    ASSERT_TRUE(channel.Start(&params));
    std::string failure;
    EXPECT_TRUE(test::WaitUntil([&] { return !(failure = channel.GetStatistics().lastFailure).empty(); }));
    channel.Stop();
    std::string reason = c.reason;
    if (reason.find("{url}") != std::string::npos) {
      reason.replace(reason.find("{url}"), 5, "rtsp://127.0.0.1:" + std::to_string(server.port()) + "/live");
    }
    EXPECT_EQ(failure, reason);
  }
}

// A stream of an earlier session that still arrives on the pair taken (the
// camera's packets come before SETUP) makes the channel announce another
// pair; without one, the first pair is announced.
TEST_F(RtspChannelSessionTest, PortPairReceivingAStrayStreamIsGivenUp) {
  for (const bool stray : {false, true}) {
    SCOPED_TRACE(stray ? "stray stream" : "quiet");
    // The pair the channel will take: the first one free.
    uint16_t first = kFirstRtpPort;
    while (!test::UdpTestSocket("0.0.0.0", first).ok() || !test::UdpTestSocket("0.0.0.0", first + 1).ok()) first += 2;
    std::atomic<bool> sending{stray};
    std::thread camera([&] {
      test::UdpTestSocket socket;
      test::RtpFields fields;
      fields.payload = {1, 2, 3};
      for (int i = 0; i < 20000 && sending.load(); ++i) {
        socket.SendTo(first, test::BuildRtp(fields));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    std::atomic<ScriptedCameraChannel*> watched{nullptr};
    Camera script;
    // The camera answers DESCRIBE once the stray stream reached the channel.
    script.onDescribe = [&] {
      if (stray) test::WaitUntil([&] { return watched.load() && watched.load()->PacketArrived(); });
    };
    ScriptedRtspServer server(script);
    ScriptedCameraChannel channel(&driver, server.port());
    watched = &channel;
    const STREAM_PARAMS params = Stream();
    ASSERT_TRUE(channel.Start(&params));
    std::string setup;
    EXPECT_TRUE(test::WaitUntil([&] {
      for (const std::string& r : server.Requests()) {
        if (Method(r) == "SETUP") setup = r;
      }
      return !setup.empty();
    }));
    channel.Stop();
    sending = false;
    camera.join();
    const size_t at = setup.find("client_port=");
    ASSERT_NE(at, std::string::npos) << setup;
    const int announced = std::stoi(setup.substr(at + 12));
    EXPECT_EQ(driver.LinesWith("already receives a stream").size(), stray ? 1u : 0u);
    if (stray) {
      EXPECT_GT(announced, first);
    } else {
      EXPECT_EQ(announced, first);
    }
    driver.ClearLines();
  }
}

}  // namespace
}  // namespace orbisan
