// Faults the tests of a client inject into the simulated camera, and its
// reboot: those whose absence a driver test would not notice (a refused,
// busy, frozen, dropped or BYE-sending camera makes the driver's fault tests
// fail when it does nothing).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rtsp/rtp_test_util.h"
#include "sim/rtp_quirks.h"
#include "sim/simulated_camera.h"
#include "sim_test_support.h"
#include "support/wait_until.h"

namespace {

using simtest::HttpGet;
using simtest::RawRtspClient;
using ::strandline::sim::DescribeFault;
using ::strandline::sim::HttpFault;
using ::strandline::sim::SimulatedCamera;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// Whether nothing listens on a loopback port within two seconds.
bool GoesAway(uint16_t port) {
  return orbisan::test::WaitUntil([&] { return !RawRtspClient().Connect(port); }, 2s);
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto options = simtest::OptionsFor("TCM5311");
    options.reboot_duration = 1s;
    camera_ = std::make_unique<SimulatedCamera>(options);
    ASSERT_TRUE(camera_->Start());
    camera_->SetSetting("VIDEO_RESOLUTION", "N320x240");
  }

  std::string Cgi(const std::string& family, const std::string& items) { return simtest::Cgi(*camera_, family, items); }

  std::unique_ptr<SimulatedCamera> camera_;
};

TEST_F(FaultTest, HugeContentLengthIsFollowedByFillerAndDoesNotHoldUpTheStop) {
  camera_->SetDescribeFault(DescribeFault::kHugeContentLength);
  camera_->SetHttpFault(HttpFault::kHugeContentLength);
  const std::string kGet = "GET /cgi-bin/system?USER=admin&PWD=admin&SYSTEM_INFO HTTP/1.1\r\nHost: camera\r\n\r\n";
  struct Case {
    uint16_t port;
    std::string request, answer_part;
  } cases[] = {{camera_->RtspPort(), "DESCRIBE " + camera_->RtspUrl("/") + " RTSP/1.0\r\nCSeq: 1\r\n\r\n", "m=video"},
               {camera_->HttpPort(), kGet, "Production ID"}};
  RawRtspClient clients[2];
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(clients[i].Connect(cases[i].port));
    clients[i].SendVerbatim(cases[i].request, 0ms);
    std::string bytes = clients[i].ReadRaw(2 << 20, 20s);
    EXPECT_THAT(bytes, HasSubstr("Content-Length: 4000000000\r\n"));
    EXPECT_THAT(bytes, HasSubstr(cases[i].answer_part));
    EXPECT_EQ(bytes.size(), 2u << 20);
  }
  auto start = std::chrono::steady_clock::now();
  camera_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// A trickled DESCRIBE comes whole but a byte at a time; CGI answers trickle or never come.
TEST_F(FaultTest, AnswersTrickleOrNeverCome) {
  camera_->SetTrickleInterval(2ms);
  camera_->SetDescribeFault(DescribeFault::kTrickle);
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(camera_->RtspPort()));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Request("DESCRIBE", camera_->RtspUrl("/"), "", 300ms).status, 0) << "not complete yet";
  auto answer = client.ReadAnswer(20s);
  ASSERT_EQ(answer.status, 200);
  EXPECT_THAT(answer.body, HasSubstr("m=video"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, answer.body.size() * 2ms);

  camera_->SetTrickleInterval(20ms);
  camera_->SetHttpFault(HttpFault::kTrickle);
  start = std::chrono::steady_clock::now();
  auto slow = HttpGet(Cgi("encoder", "&VIDEO_ENCODER"));
  EXPECT_THAT(slow.body, HasSubstr("VIDEO_ENCODER='"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, slow.body.size() * 20ms);

  // Held unanswered until the fault changes, then let go; a held request does not hold up the stop.
  const std::string get = "GET /cgi-bin/system?USER=admin&PWD=admin&SYSTEM_INFO HTTP/1.1\r\nHost: camera\r\n\r\n";
  RawRtspClient held;
  for (HttpFault next : {HttpFault::kNone, HttpFault::kNoAnswer}) {
    camera_->SetHttpFault(HttpFault::kNoAnswer);
    ASSERT_TRUE(held.Connect(camera_->HttpPort()));
    held.SendVerbatim(get, 0ms);
    EXPECT_EQ(held.ReadRaw(1, 300ms), "");
    EXPECT_EQ(camera_->CgiRequests().back().status, 0) << "taken, never answered";
    camera_->SetHttpFault(next);
  }
  EXPECT_FALSE(held.Receive(100ms).closed);
  start = std::chrono::steady_clock::now();
  camera_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(held.Receive(1000ms).closed);
}

TEST_F(FaultTest, SaveRebootTakesTheCameraAwayAndBringsItBackWithItsSettingsAndAStopMeanwhileEndsAtOnce) {
  uint16_t http = camera_->HttpPort();
  uint16_t rtsp = camera_->RtspPort();
  EXPECT_THAT(HttpGet(Cgi("encoder", "&VIDEO_ENCODER=MJPEG")).body, HasSubstr("OK: VIDEO_ENCODER=MJPEG"));
  RawRtspClient playing;
  ASSERT_TRUE(playing.Connect(rtsp));
  ASSERT_TRUE(playing.PlayInterleaved(camera_->RtspUrl("/")));

  auto reboot = HttpGet(Cgi("system", "&SAVE_REBOOT"));
  EXPECT_EQ(reboot.status, 200);
  EXPECT_EQ(reboot.body, "OK: SAVE_REBOOT\r\n");
  EXPECT_TRUE(GoesAway(http));
  EXPECT_TRUE(GoesAway(rtsp));
  EXPECT_TRUE(playing.Receive(1000ms).closed) << "a reboot ends every session";
  EXPECT_TRUE(camera_->IsRebooting());
  ASSERT_TRUE(camera_->WaitUntilUp(10s));
  EXPECT_EQ(camera_->RebootCount(), 1);
  EXPECT_EQ(camera_->HttpPort(), http);
  EXPECT_EQ(camera_->RtspPort(), rtsp);
  EXPECT_THAT(HttpGet(Cgi("encoder", "&VIDEO_ENCODER")).body, HasSubstr("VIDEO_ENCODER='MJPEG'"));
  auto stream = simtest::Probe(camera_->RtspUrl("/"), "tcp");
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->codec, "mjpeg");

  // Faults set before a reboot still hold after it.
  camera_->SetDescribeFault(DescribeFault::kStatus500);
  camera_->Reboot();
  ASSERT_TRUE(camera_->WaitUntilUp(10s));
  EXPECT_EQ(camera_->RebootCount(), 2);
  RawRtspClient client;
  ASSERT_TRUE(client.Connect(rtsp));
  EXPECT_EQ(client.Request("DESCRIBE", camera_->RtspUrl("/")).status, 500);

  // A stop during a reboot ends at once.
  camera_->Reboot();
  EXPECT_TRUE(GoesAway(http));
  auto start = std::chrono::steady_clock::now();
  camera_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(camera_->IsRunning());
}

// Packets lost before the quirk relay rewrote them stay a gap in what it
// sends: renumbered away, a client would play the damaged pictures.
TEST(RtpQuirkStream, KeepsTheEncodersGapsInItsNumbering) {
  strandline::sim::QuirkSet quirks;
  quirks.Add(strandline::sim::Quirk::kFuAReservedBit);
  strandline::sim::RtpQuirkStream stream(quirks);
  std::vector<int> steps;
  uint16_t last = 0;
  for (const uint16_t sequence : {100, 101, 103, 104}) {
    const std::vector<uint8_t> wire = orbisan::test::BuildRtp(
        {.marker = true, .sequence = sequence, .timestamp = 9000u * sequence, .payload = {0x41, 0x9A, 0x20}});
    std::vector<strandline::sim::RtpQuirkStream::Out> out;
    stream.Rtp({reinterpret_cast<const char*>(wire.data()), wire.size()}, std::chrono::steady_clock::now(), &out);
    for (const auto& o : out) {
      const auto sent = static_cast<uint16_t>(static_cast<uint8_t>(o.bytes[2]) << 8 | static_cast<uint8_t>(o.bytes[3]));
      if (!o.rtcp && sequence != 100) steps.push_back(static_cast<uint16_t>(sent - last));
      if (!o.rtcp) last = sent;
    }
  }
  EXPECT_EQ(steps, (std::vector<int>{1, 2, 1}));
}

}  // namespace
