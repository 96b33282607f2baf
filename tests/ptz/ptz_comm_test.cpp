// The URL-command PTZ object: speeds, the bounded queue, what reaches the
// camera and in which order.
#include <gtest/gtest.h>

#include <thread>

#include "ptz/recording_ptz_comm.h"
#include "support/test_driver.h"

namespace orbisan::test {
namespace {

using Commands = std::vector<std::string>;

class PTZCommTest : public ::testing::Test {
 protected:
  void SetUp() override { driver_.info.model = "ACM8201"; }
  RecordingPTZComm& Open() {
    comm_ = std::make_unique<RecordingPTZComm>(&driver_, 0);
    EXPECT_TRUE(comm_->Open());
    return *comm_;
  }
  Commands Sent() {
    EXPECT_TRUE(comm_->WaitIdle(10000));
    return comm_->Commands();
  }

  TestDriver driver_;
  FlagParams params_;
  std::unique_ptr<RecordingPTZComm> comm_;
};

TEST_F(PTZCommTest, ConversionsFromManyThreadsDoNotMixRanges) {
  RecordingPTZComm& comm = Open();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (uint32_t direction : {0u, 8u, 3u, 9u}) {
    threads.emplace_back([&, direction] {
      const uint32_t expected = direction >= 8 ? 7 : 5;
      for (int i = 0; i < 20000; ++i) {
        if (comm.ConvertMoveSpeed(direction, 16).first != expected) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(PTZCommTest, BurstKeepsTheNewestCommandsUpToTheQueueLimit) {
  struct Case {
    const char* queueMode;  // host parameter 13
    Commands expected;
  } cases[] = {
      {"1",
       {"MOVE=LEFT,5", "MOVE=UP,5", "MOVE=DOWN,5", "MOVE=UPLEFT,5,5", "MOVE=UPRIGHT,5,5", "MOVE=DOWNLEFT,5,5",
        "MOVE=DOWNRIGHT,5,5"}},
      {"2", {"MOVE=LEFT,5", "MOVE=DOWNRIGHT,5,5"}},
  };
  for (const Case& c : cases) {
    driver_.parameters[13] = c.queueMode;
    RecordingPTZComm& comm = Open();
    ipcapture::PTZ_CAPABILITIES caps;
    ASSERT_EQ(comm.GetCapabilities(&caps), 1);
    comm.Hold();
    ASSERT_EQ(comm.StartMove(&params_, 0, 16), 1);
    ASSERT_TRUE(comm.WaitHeld());
    for (uint32_t direction = 1; direction <= 7; ++direction) EXPECT_EQ(comm.StartMove(&params_, direction, 16), 1);
    comm.Release();
    EXPECT_EQ(Sent(), c.expected) << "queue mode " << c.queueMode;
  }
}

TEST_F(PTZCommTest, LeadingStopOnlyWhenTheSpeedChangesAfterAMove) {
  RecordingPTZComm& comm = Open();
  comm.StartMove(&params_, 1, 16);
  comm.StartMove(&params_, 1, 8);
  comm.StartMove(&params_, 4, 8);
  Sent();  // a burst beyond the queue limit would drop the oldest
  comm.StopZooming(&params_);
  comm.StartMove(&params_, 8, 0);
  comm.StopFocusing(&params_);
  comm.StartMove(&params_, 3, 16);
  comm.StopMoving(&params_);
  comm.StartMove(&params_, 2, 0);
  EXPECT_EQ(Sent(), (Commands{"MOVE=RIGHT,5", "MOVE=STOP", "MOVE=RIGHT,3", "MOVE=UPLEFT,3,3", "ZOOM=STOP",
                              "ZOOM=TELE,2", "FOCUS=STOP", "MOVE=DOWN,5", "MOVE=STOP", "MOVE=UP,1"}));
}

TEST_F(PTZCommTest, FocusModeCommandsOnlyAfterCapabilities) {
  struct Case {
    const char* model;
    uint32_t focus, focusMode, extra;  // capability fields 3, 4 and 13
    Commands afterCapabilities;
  } cases[] = {
      {"KCM5311", 1, 1, 1, {"FOCUS=MANUAL", "FOCUS=NEAR", "FOCUS=ZOOM_AF", "ZOOM=WIDE,7", "ZOOM=DIRECT,0"}},
      {"ACM8201", 0, 1, 1, {"FOCUS=MANUAL", "FOCUS=FAR", "FOCUS=AUTO", "ZOOM=WIDE,7", "ZOOM=DIRECT,0"}},
      {"KCM7911", 1, 0, 0, {"FOCUS=FAR", "ZOOM=WIDE,7", "ZOOM=DIRECT,0"}},
  };
  for (const Case& c : cases) {
    driver_.info.model = c.model;
    params_ = FlagParams();
    RecordingPTZComm& comm = Open();
    comm.StartFocus(&params_, true, 4);
    comm.StartMove(&params_, 0, 0);
    comm.StartIris(&params_, true, 4);
    EXPECT_EQ(Sent(), (Commands{"FOCUS=NEAR", "MOVE=LEFT,1"})) << c.model << ": no mode switch before capabilities";
    ipcapture::PTZ_CAPABILITIES caps;
    caps.fields[0] = 77;
    ASSERT_EQ(comm.GetCapabilities(&caps), 1);
    EXPECT_EQ(comm.GetPresetCapacity(), 32u);
    EXPECT_EQ(std::vector<uint32_t>(caps.fields, caps.fields + 14),
              (std::vector<uint32_t>{77, 1, 1, c.focus, c.focusMode, 0, 0, 0, 0, 0, 0, 0, 0, c.extra}))
        << c.model;
    comm.StopMoving(&params_);
    const size_t before = Sent().size();
    comm.StartFocus(&params_, std::string(c.model) == "KCM5311", 4);
    comm.StartMove(&params_, 9, 16);
    comm.Unzoom(&params_, 0);
    Commands sent = Sent();
    EXPECT_EQ(Commands(sent.begin() + static_cast<long>(before), sent.end()), c.afterCapabilities) << c.model;
  }
}

TEST_F(PTZCommTest, PresetRequestWaitsWhileTheWorkerSends) {
  RecordingPTZComm& comm = Open();
  comm.SetPresetWait(0);
  comm.Hold();
  comm.StartMove(&params_, 0, 16);
  ASSERT_TRUE(comm.WaitHeld());
  std::thread preset([&] { comm.SavePreposition(0, L"Gate"); });
  EXPECT_FALSE(comm.WaitEntered(2, std::chrono::milliseconds(300))) << "two requests on one connection at once";
  comm.Release();
  preset.join();
  EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(PTZCommTest, PostingAfterCloseFailsAndLogs) {
  RecordingPTZComm& comm = Open();
  comm.Close();
  EXPECT_EQ(comm.StartMove(&params_, 0, 1), -18);
  EXPECT_FALSE(comm.StopMoving(&params_));
  EXPECT_EQ(driver_.LinesWith("cannot send message (1) to thread").size(), 1u);
  EXPECT_EQ(driver_.LinesWith("cannot send message (4) to thread").size(), 1u);
}

}  // namespace
}  // namespace orbisan::test
