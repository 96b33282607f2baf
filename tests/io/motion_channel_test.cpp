// The motion channel: splitting the message stream, reading levels, what the
// host is told and when, and stopping while the camera stays silent.
#include "io/motion_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "camera/scripted_http_server.h"
#include "support/test_driver.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

using namespace orbisan;
using orbisan::test::WaitUntil;

namespace {

std::vector<std::string> Split(const std::vector<std::string>& chunks,
                               size_t limit = CMotionMessageSplitter::kDefaultLimit) {
  CMotionMessageSplitter splitter(limit);
  std::vector<std::string> messages;
  for (const std::string& chunk : chunks) {
    splitter.Feed(chunk, [&](const std::string& m) { messages.push_back(m); });
  }
  return messages;
}

TEST(MotionMessageSplitter, CutsMessagesAtMarksWhateverTheChunking) {
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
}

TEST(MotionMessageSplitter, BufferStaysBoundedWithoutAMessageEnd) {
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
}

TEST(MotionMessage, LevelAboveThresholdIsMotion) {
  const std::pair<const char*, bool> cases[] = {
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
  for (const auto& [message, motion] : cases) EXPECT_EQ(ParseMotionMessage(message), motion) << message;
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

TEST(MotionChannel, ReportsAPairFirstAndHoldsChangesForASecond) {
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
    EXPECT_EQ(frame.fourcc, ipcapture::kFourCC_MEMD);
    EXPECT_EQ(frame.bytes[0], 1);
    EXPECT_EQ(frame.width, 320u);
    EXPECT_EQ(frame.height, 240u);
    EXPECT_EQ(frame.resolutionClass, 2u);
    EXPECT_EQ(frame.streamName, "CBaseMotionChannel");
  }
  EXPECT_EQ(rig.allocator.created.load(), rig.allocator.released.load());
}

TEST(MotionChannel, SignalLossBringsThePairBack) {
  MotionRig rig;
  rig.driver.info.signalTimeoutMs = 3000;
  ClockedMotionChannel channel(0, &rig.driver, &rig.sink);
  channel.Feed(Part(0, 20) + "--");
  EXPECT_EQ(test::MotionStates(rig.sink), (std::vector<int>{1, 0}));
  EXPECT_TRUE(channel.IsActive());
  channel.now += 3000;
  channel.CheckSignal();
  EXPECT_EQ(rig.sink.signalLost.load(), 0);
  channel.now += 1;
  channel.CheckSignal();
  channel.CheckSignal();
  EXPECT_EQ(rig.sink.signalLost.load(), 1);
  EXPECT_FALSE(channel.IsActive());
  channel.Feed(Part(0, 20) + "--");
  EXPECT_EQ(test::MotionStates(rig.sink), (std::vector<int>{1, 0, 1, 0}));
}

TEST(MotionChannel, RefusedFramesKeepTheChannelInactive) {
  MotionRig rig;
  rig.sink.accept = false;
  ClockedMotionChannel channel(0, &rig.driver, &rig.sink);
  channel.Feed(Part(30, 20) + "--");
  EXPECT_FALSE(channel.IsActive());
  EXPECT_EQ(rig.driver.LinesWith("Motion detection data callback failed (device 127.0.0.1, channel 0)").size(), 2u);
}

TEST(MotionChannel, RefusedRequestsEndInSignalLoss) {
  // The first request streams a part; later ones are refused (a changed password, say).
  std::atomic<int> requests{0};
  test::ScriptedHttpServer server({}, [&](const std::string&) {
    if (requests++ > 0) return test::HttpReply{401, "denied"};
    return test::HttpReply{200, Part(30, 20) + "--"};
  });
  MotionRig rig;
  rig.driver.info.port = server.Port();
  rig.driver.info.signalTimeoutMs = 3000;
  ClockedMotionChannel channel(0, &rig.driver, &rig.sink);
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(WaitUntil([&] { return rig.sink.FrameCount() == 2; }));
  channel.now += 3001;
  ASSERT_TRUE(WaitUntil([&] { return rig.sink.signalLost.load() == 1; }));
  channel.Stop();
  EXPECT_FALSE(channel.IsActive());
}

TEST(MotionChannel, ALoginThatWouldAddItemsIsNeverSent) {
  test::ScriptedHttpServer server({}, [&](const std::string&) { return test::HttpReply{200, Part(30, 20) + "--"}; });
  MotionRig rig;
  rig.driver.info.port = server.Port();
  rig.driver.info.password = "pw&SAVE_REBOOT";
  CMotionChannel channel(0, &rig.driver, &rig.sink);
  ASSERT_TRUE(channel.Start());
  // Logged once, however often the thread tries again.
  ASSERT_TRUE(WaitUntil([&] { return !rig.driver.LinesWith("cannot be sent in the camera's URLs").empty(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * CMotionChannel::kRetryMs + 100));
  channel.Stop();
  EXPECT_EQ(rig.driver.LinesWith("cannot be sent in the camera's URLs").size(), 1u);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(rig.sink.FrameCount(), 0u);
}

}  // namespace
