// Digital I/O against a scripted camera on loopback (output masks and paths,
// input changes, failures) and the motion channel (splitting the message
// stream, levels, what the host is told and when, stopping while silent).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "camera/scripted_http_server.h"
#include "io/acti_digital_io.h"
#include "io/motion_channel.h"
#include "support/test_driver.h"
#include "support/test_io_callback.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

using namespace orbisan;
using orbisan::test::HttpReply;
using orbisan::test::ScriptedHttpServer;
using orbisan::test::WaitUntil;
using namespace std::chrono_literals;

namespace {

// A camera whose input register answers per channel; output commands and
// status queries are recorded by the server.
class IoRig {
 public:
  IoRig(uint32_t channels, uint32_t inputs, uint32_t outputs)
      : server({}, [this](const std::string& uri) { return Answer(uri); }) {
    driver.info.port = server.Port();
    driver.info.user = "admin";
    driver.info.password = "pw";
    driver.info.connectTimeoutMs = 2000;
    driver.channelCount = channels;
    driver.inputCount = inputs;
    driver.outputCount = outputs;
  }
  void Start() {
    io = std::make_unique<CActiDigitalIO>(&driver);
    io->SetPollIntervalMs(200);
    io->SetCallback(&callback);
    ASSERT_TRUE(io->StartIO());
  }
  HttpReply Answer(const std::string& uri) {
    if (slowPolls && uri.find("DIO_STATUS") != std::string::npos) std::this_thread::sleep_for(300ms);
    std::lock_guard<std::mutex> lock(mutex);
    if (failing) return {500, "busy\r\n"};
    if (uri.find("DIO_OUTPUT") != std::string::npos) return {200, refuseOutputs ? "ERROR: DIO_OUTPUT\r\n" : "OK\r\n"};
    int channel = 1;
    const size_t at = uri.find("CHANNEL=");
    if (at != std::string::npos) channel = std::stoi(uri.substr(at + 8));
    const auto it = status.find(channel);
    return {200, "DIO_STATUS='" + (it == status.end() ? std::string("0x00") : it->second) + "'\r\n"};
  }
  std::vector<std::string> Uris(const std::string& needle) {
    std::vector<std::string> out = server.AcceptedUris();
    std::erase_if(out, [&](const std::string& uri) { return uri.find(needle) == std::string::npos; });
    return out;
  }
  void SetStatus(int channel, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex);
    status[channel] = value;
  }

  std::mutex mutex;
  std::map<int, std::string> status;
  std::atomic<bool> failing{false};
  std::atomic<bool> refuseOutputs{false};
  std::atomic<bool> slowPolls{false};
  ScriptedHttpServer server;
  test::TestDriver driver;
  test::TestIOCallback callback;
  std::unique_ptr<CActiDigitalIO> io;
};

using Changes = std::vector<test::TestIOCallback::Change>;

TEST(ActiDigitalIO, OutputsRefusedWritesRestartsDuringAPollInputsPerChannelAndFailedPolls) {
  struct Case {
    const char* group;  // host parameter 5
    uint32_t channels;
    uint32_t outputs;
    std::vector<std::pair<uint32_t, uint32_t>> sets;
    std::vector<std::string> commands;  // after the start-up writes
  };
  const Case cases[] = {
      // Another camera group speaks to the mpeg4 CGI.
      {"1", 1, 1, {{0, 1}}, {"/cgi-bin/mpeg4?USER=admin&PWD=pw&DIO_OUTPUT=0x01"}},
      // A video server writes the register of the output's channel only; a
      // repeated state and an index beyond the count send nothing.
      {"2",
       4,
       8,
       {{5, 1}, {4, 1}, {4, 1}, {8, 1}},
       {"/cgi-bin/encoder?USER=admin&PWD=pw&CHANNEL=3&DIO_OUTPUT=0x02",
        "/cgi-bin/encoder?USER=admin&PWD=pw&CHANNEL=3&DIO_OUTPUT=0x03"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commands.front());
    IoRig rig(c.channels, 0, c.outputs);
    if (c.group != nullptr) rig.driver.parameters[5] = c.group;
    rig.Start();
    // The start writes every output once, released.
    ASSERT_TRUE(WaitUntil([&] { return rig.Uris("DIO_OUTPUT").size() == c.outputs; }));
    for (const std::string& uri : rig.Uris("DIO_OUTPUT")) EXPECT_NE(uri.find("DIO_OUTPUT=0x00"), std::string::npos);
    rig.server.ClearRequests();
    for (const auto& [index, state] : c.sets) {
      EXPECT_EQ(rig.io->SetOutputState(index, state), index < c.outputs);
    }
    ASSERT_TRUE(WaitUntil([&] { return rig.Uris("DIO_OUTPUT").size() >= c.commands.size(); }));
    rig.io->StopIO();
    EXPECT_EQ(rig.Uris("DIO_OUTPUT"), c.commands);
  }

  // A refused output write is a failure; a start while polls are under way begins anew.
  IoRig refusing(1, 2, 1);
  refusing.refuseOutputs = true;
  refusing.slowPolls = true;
  refusing.Start();
  ASSERT_TRUE(WaitUntil([&] { return refusing.callback.failures.load() == 1; }));
  EXPECT_TRUE(refusing.io->SetOutputState(0, 1));
  ASSERT_TRUE(WaitUntil([&] { return refusing.callback.failures.load() == 2; }));
  const auto lines = refusing.driver.LinesWith("Unable to change output state for device 127.0.0.1:");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, kLogError);

  refusing.refuseOutputs = false;
  for (int i = 0; i < 3; ++i) {
    const size_t polls = refusing.Uris("DIO_STATUS").size();
    ASSERT_TRUE(WaitUntil([&] { return refusing.Uris("DIO_STATUS").size() > polls; }));
    EXPECT_TRUE(refusing.io->StartIO()) << i;  // the poll is in the sender a new start replaces
  }
  // The last start reports both inputs again.
  const size_t changes = refusing.callback.Changes().size();
  ASSERT_TRUE(WaitUntil([&] { return refusing.callback.Changes().size() >= changes + 2; }));
  EXPECT_TRUE(refusing.io->StopIO());
  EXPECT_TRUE(refusing.driver.LinesWith("failed!").empty());

  // Four channels, eight inputs: bit 1 of channel 3 is input 5.
  IoRig server(4, 8, 0);
  server.SetStatus(3, "0x02");
  server.Start();
  ASSERT_TRUE(WaitUntil([&] { return server.callback.Changes().size() == 8; }));
  const std::vector<std::string> polls = server.Uris("DIO_STATUS");
  ASSERT_GE(polls.size(), 4u);
  for (int channel = 1; channel <= 4; ++channel) {
    EXPECT_EQ(polls[static_cast<size_t>(channel - 1)],
              "/cgi-bin/encoder?USER=admin&PWD=pw&CHANNEL=" + std::to_string(channel) + "&DIO_STATUS");
  }
  for (const auto& [index, state] : server.callback.Changes()) EXPECT_EQ(state, index == 5 ? 1u : 2u) << index;

  IoRig camera(1, 2, 0);  // one channel, two inputs
  camera.SetStatus(1, "0x01");
  camera.Start();
  ASSERT_TRUE(WaitUntil([&] { return camera.callback.Changes().size() == 2; }));
  camera.failing = true;
  ASSERT_TRUE(WaitUntil([&] { return camera.callback.failures.load() >= 3; }));
  camera.failing = false;
  ASSERT_TRUE(WaitUntil([&] { return camera.callback.Changes().size() == 4; }));
  EXPECT_EQ(camera.callback.Changes(), (Changes{{0, 1}, {1, 2}, {0, 1}, {1, 2}}));
  EXPECT_EQ(camera.driver.LinesWith("GetInputStates() method failed! Device 127.0.0.1:").size(), 1u);
  EXPECT_EQ(camera.Uris("DIO_STATUS").front(), "/cgi-bin/encoder?USER=admin&PWD=pw&DIO_STATUS");
  // An answer whose value is not a register leaves the inputs as they were.
  camera.SetStatus(1, "busy");
  const size_t before = camera.Uris("DIO_STATUS").size();
  ASSERT_TRUE(WaitUntil([&] { return camera.Uris("DIO_STATUS").size() >= before + 2; }));
  EXPECT_EQ(camera.callback.Changes().size(), 4u);
}

std::vector<std::string> Split(const std::vector<std::string>& chunks,
                               size_t limit = CMotionMessageSplitter::kDefaultLimit) {
  CMotionMessageSplitter splitter(limit);
  std::vector<std::string> messages;
  for (const std::string& chunk : chunks) {
    splitter.Feed(chunk, [&](const std::string& m) { messages.push_back(m); });
  }
  return messages;
}

TEST(MotionMessage, SplitAtMarksWhateverTheChunkingBoundedAndALevelAboveThresholdIsMotion) {
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {{"--a\r\n--b\r\n--"}, {"--a\r\n", "--b\r\n"}},
      // A part split across chunks is completed by the next one.
      {{"--lev", "el=3\r\n-", "-"}, {"--level=3\r\n"}},
      // Data without any mark is dropped, and text before the first mark too.
      {{"junk\r\n", "more junk", "x--a--"}, {"--a"}},
      // A mark split over two chunks still counts.
      {{"--a-", "-b--"}, {"--a", "--b"}},
      // Several complete messages of different lengths in one chunk, none left waiting.
      {{"--long message\r\n--s--t--"}, {"--long message\r\n", "--s", "--t"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.chunks), c.messages) << c.chunks.front();

  // Byte by byte gives the same messages as the whole.
  const std::string stream = "--motion\r\nlevel=30;threshold=20\r\n--motion\r\nlevel=1;threshold=20\r\n--";
  std::vector<std::string> bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  EXPECT_EQ(Split(bytes), Split({stream}));

  // Without a message end the buffer stays bounded.
  CMotionMessageSplitter splitter(100);
  std::vector<std::string> messages;
  auto keep = [&](const std::string& m) { messages.push_back(m); };
  EXPECT_TRUE(splitter.Feed("--endless part", keep));
  bool dropped = false;
  for (int i = 0; i < 50; ++i) dropped |= !splitter.Feed(std::string(40, 'x'), keep);
  EXPECT_TRUE(dropped);
  EXPECT_LE(splitter.Buffered(), 140u);
  // The stream recovers at the next marks.
  EXPECT_TRUE(splitter.Feed("--ok--", keep));
  EXPECT_EQ(messages, std::vector<std::string>{"--ok"});

  // A level above the threshold is motion.
  const std::pair<const char*, bool> levels[] = {
      {"--m\r\nlevel=30;threshold=20\r\n", true},
      {"--m\r\nlevel=10;threshold=20\r\n", false},
      {"--m\r\nlevel=0;threshold=20\r\n", false},  // level 0 never gives motion
      {"--m\r\nlevel=0;threshold=-5\r\n", false},
      {"--m\r\nlevel=30;threshold=0\r\n", false},
      {"--m\r\nlevel=30\r\n", false},
      {"--m\r\nlevel=x30;threshold=20\r\n", false},
      {"--m\r\nMD=1; level = 30 ; threshold=20\r\n", true},
      {"--m\r\nmylevel=30;threshold=20\r\n", false},
      {"--m\r\nlevel=10;threshold=20\r\n\r\nlevel=40;threshold=20\r\n", true},  // first line with motion decides
      {"--m\r\nlevel=99999999999;threshold=20", true},
      {"", false},
  };
  for (const auto& [message, motion] : levels) EXPECT_EQ(ParseMotionMessage(message), motion) << message;
}

// A motion channel whose clock the test moves.
class ClockedMotionChannel : public CMotionChannel {
 public:
  using CMotionChannel::CMotionChannel;
  uint64_t NowMs() override { return now; }
  void Feed(const std::string& text) { OnChunk(std::vector<char>(text.begin(), text.end())); }
  using CBaseMotionChannel::CheckSignal;
  std::atomic<uint64_t> now{100000};
};

std::string Part(int level, int threshold) {
  return "--motion\r\nContent-Type: text/plain\r\n\r\nlevel=" + std::to_string(level) +
         ";threshold=" + std::to_string(threshold) + "\r\n";
}

struct MotionRig {
  MotionRig() { driver.allocator = &allocator; }
  test::TestDriver driver;
  test::TestAllocator allocator;
  test::TestSink sink;
};

TEST(MotionChannel, PairHoldBackSignalLossRefusedFramesRefusedRequestsAndALoginThatWouldAddItems) {
  MotionRig rig;
  ClockedMotionChannel channel(2, &rig.driver, &rig.sink);
  channel.Feed(Part(30, 20));
  channel.Feed("--");
  EXPECT_EQ(test::MotionStates(rig.sink), (std::vector<int>{0, 1}));
  // A change is held back until a second after the last report, and no
  // change, however late, is no frame.
  const std::pair<uint64_t, std::vector<int>> steps[] = {
      {500, {0, 1}}, {499, {0, 1}}, {1, {0, 1, 0}}, {5000, {0, 1, 0}}};
  for (const auto& [advance, states] : steps) {
    channel.now += advance;
    channel.Feed(Part(10, 20) + "--");
    EXPECT_EQ(test::MotionStates(rig.sink), states) << "after another " << advance << " ms";
  }

  const auto frames = rig.sink.Frames();
  for (const auto& frame : frames) {
    EXPECT_EQ(std::tuple(frame.fourcc, frame.bytes[0], frame.width, frame.height, frame.resolutionClass),
              std::tuple(ipcapture::kFourCC_MEMD, '\x01', 320u, 240u, 2u));
    EXPECT_EQ(frame.streamName, "CBaseMotionChannel");
  }
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load());

  MotionRig lost;
  lost.driver.info.signalTimeoutMs = 3000;
  ClockedMotionChannel quiet(0, &lost.driver, &lost.sink);
  quiet.Feed(Part(0, 20) + "--");
  EXPECT_EQ(test::MotionStates(lost.sink), (std::vector<int>{1, 0}));
  EXPECT_TRUE(quiet.IsActive());
  quiet.now += 3000;
  quiet.CheckSignal();
  EXPECT_EQ(lost.sink.signalLost.load(), 0);
  quiet.now += 1;
  quiet.CheckSignal();
  quiet.CheckSignal();
  EXPECT_EQ(lost.sink.signalLost.load(), 1);
  EXPECT_FALSE(quiet.IsActive());
  quiet.Feed(Part(0, 20) + "--");
  EXPECT_EQ(test::MotionStates(lost.sink), (std::vector<int>{1, 0, 1, 0}));

  MotionRig refusing;
  refusing.sink.accept = false;
  ClockedMotionChannel refused(0, &refusing.driver, &refusing.sink);
  refused.Feed(Part(30, 20) + "--");
  EXPECT_FALSE(refused.IsActive());
  EXPECT_EQ(refusing.driver.LinesWith("Motion detection data callback failed (device 127.0.0.1, channel 0)").size(),
            2u);

  // The first request streams a part; later ones are refused (a changed password, say).
  std::atomic<int> requests{0};
  test::ScriptedHttpServer server({}, [&](const std::string&) {
    if (requests++ > 0) return test::HttpReply{401, "denied"};
    return test::HttpReply{200, Part(30, 20) + "--"};
  });
  MotionRig served;
  served.driver.info.port = server.Port();
  served.driver.info.signalTimeoutMs = 3000;
  ClockedMotionChannel streamed(0, &served.driver, &served.sink);
  ASSERT_TRUE(streamed.Start());
  ASSERT_TRUE(WaitUntil([&] { return served.sink.FrameCount() == 2; }));
  streamed.now += 3001;
  ASSERT_TRUE(WaitUntil([&] { return served.sink.signalLost.load() == 1; }));
  streamed.Stop();
  EXPECT_FALSE(streamed.IsActive());

  // A login that would add items of its own is never sent: logged once,
  // however often the thread tries again.
  server.ClearRequests();
  MotionRig login;
  login.driver.info.port = server.Port();
  login.driver.info.password = "pw&SAVE_REBOOT";
  CMotionChannel withLogin(0, &login.driver, &login.sink);
  ASSERT_TRUE(withLogin.Start());
  ASSERT_TRUE(WaitUntil([&] { return !login.driver.LinesWith("cannot be sent in the camera's URLs").empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * CMotionChannel::kRetryMs + 100));
  withLogin.Stop();
  EXPECT_EQ(login.driver.LinesWith("cannot be sent in the camera's URLs").size(), 1u);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(login.sink.FrameCount(), 0u);
}

}  // namespace
