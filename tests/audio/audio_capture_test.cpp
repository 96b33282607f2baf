// Audio capture pieces on their own: the frame parser, the state table, the
// capability text, the session parameters and the capture object's channel map.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/audio_capabilities.h"
#include "audio/audio_capture_channel.h"
#include "audio/ip_audio_capture.h"
#include "audio/rtp_audio_parser.h"
#include "runtime/event.h"
#include "support/test_driver.h"
#include "support/test_samples.h"

using namespace orbisan;
using namespace orbisan::ipcapture;

namespace {

CRTPPacket Packet(uint16_t sequence, size_t payload, uint8_t fill = 0x55) {
  std::vector<uint8_t> bytes = {
      0x80, 0x00, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0, 0, 0, 0, 0, 1};
  bytes.resize(12 + payload, fill);
  CRTPPacket packet;
  EXPECT_TRUE(packet.Parse(bytes.data(), bytes.size()));
  return packet;
}

struct Receiver : IAudioFrameReceiver {
  bool AudioFrameReady(IAudioSample* sample) override {
    frames.emplace_back(sample->GetData(), sample->GetData() + sample->GetDataSize());
    last = {sample->GetFourCC(), sample->GetSampleRate(), sample->GetBitsPerSample(), sample->GetBitRate(),
            sample->GetChannelId()};
    sample->GetTime(&lastTime);
    return accept;
  }
  std::vector<std::vector<uint8_t>> frames;
  struct {
    uint32_t fourcc, rate, bits, bitRate, channelId;
  } last{};
  SYSTEMTIME lastTime{};
  bool accept = true;
};

struct ParserRig {
  ParserRig() { driver.allocator = &allocator; }
  test::TestDriver driver;
  test::TestAllocator allocator;
  Receiver receiver;
  CBaseRTPAudioParser parser{&driver, 3, AUDIO_FORMAT{}, &receiver};
};

}  // namespace

TEST(RtpAudioParser, FramesOfWholeSecondsFromConsecutivePacketsTheirFieldsAndFailures) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint16_t, size_t>> packets;  // sequence, payload bytes
    std::vector<size_t> frames;                        // sizes delivered
    size_t buffered;
  };
  const Case cases[] = {
      {"65535 then 0 is continuous", {{65535, 4000}, {0, 4000}}, {8000}, 0},
      {"7999 bytes wait for the next packet", {{10, 7999}}, {}, 7999},
      {"the next packet completes a frame of all bytes", {{10, 7999}, {11, 160}}, {8159}, 0},
      {"a gap drops the buffer and keeps the packet", {{1, 4000}, {3, 4000}, {4, 4000}}, {8000}, 0},
      {"a repeated number is a gap too", {{5, 4000}, {5, 4000}}, {}, 4000},
      {"a payload below 2 bytes is skipped but keeps the sequence", {{1, 4000}, {2, 1}, {3, 4000}}, {8000}, 0},
  };
  for (const Case& c : cases) {
    ParserRig rig;
    for (auto [sequence, bytes] : c.packets) rig.parser.ProcessPacket(Packet(sequence, bytes));
    std::vector<size_t> sizes;
    for (const auto& frame : rig.receiver.frames) sizes.push_back(frame.size());
    EXPECT_EQ(sizes, c.frames) << c.name;
    EXPECT_EQ(rig.parser.Buffered(), c.buffered) << c.name;
    EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load()) << c.name;
  }

  ParserRig rig;
  rig.parser.ProcessPacket(Packet(7, 4000, 0x11));
  rig.parser.ProcessPacket(Packet(8, 4000, 0x22));
  ASSERT_EQ(rig.receiver.frames.size(), 1u);
  EXPECT_EQ(rig.receiver.frames[0].front(), 0x11) << "bytes in packet order";
  EXPECT_EQ(rig.receiver.frames[0].back(), 0x22);
  const auto& last = rig.receiver.last;
  EXPECT_EQ(std::tuple(last.fourcc, last.rate, last.bits, last.bitRate, last.channelId),
            std::tuple(kFourCC_711M, 8000u, 8u, 64000u, 3u));
  EXPECT_NE(rig.receiver.lastTime.wYear, 0u);

  // A refused frame is logged and the parser starts over.
  rig.receiver.accept = false;
  rig.parser.ProcessPacket(Packet(9, 8000));
  EXPECT_EQ(rig.driver.LinesWith("Audio-frame processing error, camera 127.0.0.1:80").size(), 1u);
  rig.parser.ProcessPacket(Packet(100, 10));
  EXPECT_EQ(rig.parser.Buffered(), 10u) << "after a reset any sequence number is accepted";

  rig.allocator.failCreate = true;
  rig.parser.ProcessPacket(Packet(101, 8000));
  EXPECT_EQ(rig.driver.LinesWith("Unable to allocate  memory for audio frame!").size(), 1u);
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load());
}

TEST(AudioCapabilities, TextBothWays) {
  CAudioCapabilities caps(9, true);
  EXPECT_TRUE(caps.FromText("Count=2; IsStereo=2"));
  EXPECT_EQ(caps.ToText(), "Count=2; IsStereo=0") << "only 1 is stereo";
  EXPECT_TRUE(caps.FromText("Count=2; IsStereo=1"));
  EXPECT_EQ(caps.ToText(), "Count=2; IsStereo=1");
  for (const char* invalid : {"Count=3", "IsStereo=1", "", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(caps.FromText(invalid));
    EXPECT_EQ(caps.ToText(), "Count=0; IsStereo=0");
  }
}

namespace {

class TestChannel : public CAudioCaptureChannel {
 public:
  using CAudioCaptureChannel::CAudioCaptureChannel;
  using CBaseAudioRTSPChannel::SetMulticast;
};

}  // namespace

TEST(AudioCaptureChannel, SessionParametersCameraCheckAndDescription) {
  struct Case {
    const char* ports;
    const char* mode;  // parameter 12
    uint32_t cameraChannel;
    uint16_t port;
    uint32_t urlForm;
    uint32_t trackIndex;
  };
  const Case cases[] = {
      {"554,7070", nullptr, 1, 7070, 0, 1}, {"554,7070", "0", 0, 554, 0, 1},
      {"554,7070", "0", 5, 7070, 0, 1},     {"", "0", 0, 7070, 0, 1},
      {"554,7070", "1", 1, 554, 1, 2},      {"x,7070", "1", 0, 7070, 1, 1},
  };
  for (const Case& c : cases) {
    test::TestDriver driver;
    driver.parameters[7] = c.ports;
    if (c.mode) driver.parameters[12] = c.mode;
    TestChannel channel(&driver, c.cameraChannel, 0, nullptr, nullptr);
    RTSP_SESSION_PARAMS params;
    channel.FillSessionParams(params);
    EXPECT_EQ(params.serverPort, c.port) << c.ports << " index " << c.cameraChannel;
    EXPECT_EQ(params.urlForm, c.urlForm);
    EXPECT_EQ(params.trackIndex, c.trackIndex);
  }
  test::TestDriver driver;
  driver.info.user = "u";
  driver.info.password = "p";
  EXPECT_EQ(TestChannel(&driver, 0, 0, nullptr, nullptr).CameraCheckPath(),
            "/cgi-bin/system?USER=u&PWD=p&V2_AUDIO_ENABLED=1&AUDIO_IN_FORMAT=G711U");
  driver.parameters[5] = "1";
  EXPECT_EQ(TestChannel(&driver, 0, 0, nullptr, nullptr).CameraCheckPath(),
            "/cgi-bin/system?USER=u&PWD=p&V2_AUDIO_ENABLED=1");

  // The description must offer mu-law, and a multicast one its group and port.
  TestChannel channel(&driver, 0, 0, nullptr, nullptr);
  SDP_SESSION_INFO info;
  info.audio.encoding = "PCMA/8000";
  EXPECT_FALSE(channel.SdpInfoReceived(info)) << "A-law is not what the camera was asked for";
  info.audio.encoding = "PCMU/8000";
  EXPECT_TRUE(channel.SdpInfoReceived(info));

  channel.SetMulticast(true);
  info.audio.port = 5000;
  EXPECT_FALSE(channel.SdpInfoReceived(info));
  EXPECT_EQ(driver.LinesWith("doesn't contain connection data section").size(), 1u);
  info.audio.connectionAddress = "239.1.1.1";
  info.audio.port = 0;
  EXPECT_FALSE(channel.SdpInfoReceived(info));
  EXPECT_EQ(driver.LinesWith("doesn't contain correct streaming port in media section").size(), 1u);
}

namespace {

struct FakeChannel : IAudioInputChannel {
  explicit FakeChannel(std::vector<std::string>& events, bool startOk) : events(events), startOk(startOk) {}
  ~FakeChannel() override { events.push_back("deleted"); }
  bool Start() override {
    events.push_back("start");
    return startOk;
  }
  bool Stop() override {
    events.push_back("stop");
    return true;
  }
  uint32_t GetState() override { return kAudioRunning; }
  std::vector<std::string>& events;
  bool startOk;
};

struct FakeCreator : IAudioChannelCreator {
  IAudioInputChannel* CreateAudioCaptureChannel(uint32_t a, uint32_t b, void*, void*) override {
    events.push_back("create " + std::to_string(a) + "/" + std::to_string(b));
    return fail ? nullptr : new FakeChannel(events, startOk);
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t, uint32_t, void*, void*) override { return nullptr; }
  std::vector<std::string> events;
  bool fail = false;
  bool startOk = true;
};

// A channel whose thread reports its stop to the host under the channel's
// lock, as the real ones do, the host asking for the state from inside the
// report; Stop waits for that thread as a join would, within a bound, so
// that a deadlock shows as a stop that timed out.
struct ReportingChannel : IAudioInputChannel {
  ReportingChannel(CIPAudioCapture& capture, std::thread& reporter) : capture(capture), reporter(reporter) {}
  bool Start() override { return true; }
  bool Stop() override {
    reporter = std::thread([this] {
      std::lock_guard<std::recursive_mutex> lock(mutex);
      capture.GetChannelState(1);
      reported.Set();
    });
    if (!reported.Wait(5000)) return false;
    reporter.join();
    return true;
  }
  uint32_t GetState() override {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return kAudioRunning;
  }
  CIPAudioCapture& capture;
  std::thread& reporter;
  std::recursive_mutex mutex;
  CManualEvent reported;
};

struct ReportingCreator : FakeCreator {
  IAudioInputChannel* CreateAudioCaptureChannel(uint32_t, uint32_t, void*, void*) override {
    return new ReportingChannel(*capture, reporter);
  }
  CIPAudioCapture* capture = nullptr;
  std::thread reporter;
};

}  // namespace

TEST(IPAudioCapture, ChannelMapUpToTheMaximumAndAHostAskingFromInsideAStateReportDoesNotHoldUpAClose) {
  FakeCreator creator;
  {
    CIPAudioCapture capture(&creator, 2);
    EXPECT_TRUE(capture.OpenChannel(7, 1, nullptr, nullptr));
    EXPECT_TRUE(capture.OpenChannel(7, 1, nullptr, nullptr)) << "an open id is fine";
    EXPECT_TRUE(capture.OpenChannel(8, 0, nullptr, nullptr));
    EXPECT_FALSE(capture.OpenChannel(9, 0, nullptr, nullptr)) << "the maximum is reached";
    EXPECT_EQ(capture.GetOpenChannelCount(), 2u);
    EXPECT_EQ(capture.GetChannelState(8), kAudioRunning);
    EXPECT_EQ(capture.GetChannelState(9), kAudioStopped);
    EXPECT_TRUE(capture.CloseChannel(8));
    EXPECT_FALSE(capture.CloseChannel(8));
    creator.startOk = false;
    EXPECT_FALSE(capture.OpenChannel(10, 0, nullptr, nullptr));
    creator.fail = true;
    EXPECT_FALSE(capture.OpenChannel(11, 0, nullptr, nullptr));
    EXPECT_FALSE(capture.Reserved5(0, nullptr, nullptr));
  }
  const std::vector<std::string> expected = {"create 7/1",  "start",       "create 8/0", "start", "stop",
                                             "deleted",     "create 10/0", "start",      "stop",  "deleted",
                                             "create 11/0", "stop",        "deleted"};
  EXPECT_EQ(creator.events, expected) << "a failed start is stopped and destroyed; the rest at destruction";

  ReportingCreator reporting;
  CIPAudioCapture capture(&reporting, 1);
  reporting.capture = &capture;
  ASSERT_TRUE(capture.OpenChannel(1, 0, nullptr, nullptr));
  EXPECT_TRUE(capture.CloseChannel(1)) << "the stop waited for a report that waited for the close";
  if (reporting.reporter.joinable()) reporting.reporter.join();
  EXPECT_EQ(capture.GetOpenChannelCount(), 0u);
}
