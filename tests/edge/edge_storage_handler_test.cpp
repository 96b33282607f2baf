#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "edge/base_edge_storage_handler.h"
#include "runtime/time_utils.h"
#include "support/test_driver.h"
#include "support/test_samples.h"
#include "support/wait_until.h"

namespace orbisan {
namespace {

using test::WaitUntil;

constexpr uint64_t kSecond = 10000000ull;

struct Interval {
  uint32_t key;
  uint64_t begin;
  uint64_t end;
  bool operator==(const Interval&) const = default;
};

// A retrieval task that records what the handler asks of it.
class FakeTask : public IEdgeStorageTask {
 public:
  void SetInterval(uint32_t key, uint64_t begin, uint64_t end) override {
    std::lock_guard<std::mutex> lock(mutex_);
    intervals_.push_back({key, begin, end});
  }
  bool ProcessTaskItem(uint64_t* position) override {
    ++passes;
    *position = reached.load();
    return finishes.load();
  }
  void AbortChannel(uint32_t key) override { aborted = key; }
  void Abort() override {}
  void SetHandler(IEdgeStorageHandler*) override {}
  IEdgeStorageHandler* GetHandler() override { return nullptr; }
  std::vector<Interval> Intervals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return intervals_;
  }

  std::atomic<bool> finishes{true};
  std::atomic<uint64_t> reached{0};
  std::atomic<int> passes{0};
  std::atomic<int64_t> aborted{-1};

 private:
  std::mutex mutex_;
  std::vector<Interval> intervals_;
};

class FakeChannel : public IEdgeMonitorChannel {
 public:
  FakeChannel(uint32_t index, ipcapture::IVideoFrameSink* sink) : index_(index), sink_(sink) {}
  uint32_t GetChannelIndex() override { return index_; }
  ipcapture::IVideoFrameSink* GetFrameSink() override { return sink_; }
  void SetEdgeStorageCallback(IEdgeStorageCallback* callback) override { callback_ = callback; }
  // A delivered frame, as the channel reports it.
  void Frame(uint64_t time) {
    if (IEdgeStorageCallback* callback = callback_.load()) callback->OnFrameTime(index_, time);
  }
  IEdgeStorageCallback* Callback() { return callback_.load(); }

 private:
  uint32_t index_;
  ipcapture::IVideoFrameSink* sink_;
  std::atomic<IEdgeStorageCallback*> callback_{nullptr};
};

class EdgeStorageHandlerTest : public ::testing::Test {
 protected:
  EdgeStorageHandlerTest() {
    driver_.info.signalTimeoutMs = 100;
    driver_.edgeStorageTask = &task_;
  }

  // A silence of the channel from its frame at `before`, then video back
  // at `after`: the gap is queued.
  void MakeGap(FakeChannel& channel, uint64_t before, uint64_t after) {
    const uint64_t silences = handler_->SilenceCount();
    channel.Frame(before);
    ASSERT_TRUE(WaitUntil([&] { return handler_->SilenceCount() > silences; }));
    channel.Frame(after);
  }
  // Frames keep coming until the handler worked on an item that many times.
  bool FramesUntilPasses(FakeChannel& channel, int passes) {
    return WaitUntil([&] {
      channel.Frame(NowFileTime());
      return task_.passes.load() == passes;
    });
  }

  test::TestDriver driver_;
  FakeTask task_;
  test::TestSink sink_;
  std::unique_ptr<CBaseEdgeStorageHandler> handler_ = std::make_unique<CBaseEdgeStorageHandler>(&driver_, 10);
};

TEST_F(EdgeStorageHandlerTest, GapRunsFromTheLastFrameBeforeTheSilenceToTheFirstAfterIt) {
  FakeChannel delivering(1, &sink_);
  FakeChannel silent(2, &sink_);  // never delivers: never gets an item
  handler_->RegisterChannel(&delivering);
  handler_->RegisterChannel(&silent);
  const uint64_t before = NowFileTime() - 10 * kSecond;
  const uint64_t after = NowFileTime();
  MakeGap(delivering, before, after);
  // The item is worked on at the next activity: video is back.
  ASSERT_TRUE(FramesUntilPasses(delivering, 1));
  EXPECT_EQ(task_.Intervals(), (std::vector<Interval>{{1, before, after}}));
  EXPECT_EQ(driver_.LinesWith("- Processing finished.").size(), 1u);
}

// The camera's clock is not this machine's: a silence is timed by when
// frames arrive, while the gap keeps the camera's own times.
TEST_F(EdgeStorageHandlerTest, SilenceIsTimedHereWhateverTheCameraClockSays) {
  FakeChannel behind(1, &sink_);
  handler_->RegisterChannel(&behind);
  // A minute behind, in flowing video: no silence.
  const uint64_t steadyStart = SteadyMs();
  for (int i = 0; SteadyMs() - steadyStart < 600 && i < 1000; ++i) {
    behind.Frame(NowFileTime() - 60 * kSecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(handler_->SilenceCount(), 0u);
  handler_->UnregisterChannel(&behind);

  // A minute ahead: the silence is noticed and the gap queued all the same.
  FakeChannel ahead(2, &sink_);
  handler_->RegisterChannel(&ahead);
  const uint64_t before = NowFileTime() + 60 * kSecond;
  MakeGap(ahead, before, before + 2 * kSecond);
  ASSERT_TRUE(WaitUntil([&] {
    ahead.Frame(NowFileTime() + 63 * kSecond);
    return task_.passes.load() == 1;
  }));
  EXPECT_EQ(task_.Intervals(), (std::vector<Interval>{{2, before, before + 2 * kSecond}}));
}

TEST_F(EdgeStorageHandlerTest, ChannelIsDroppedOnlyByItsLastUnregistration) {
  FakeChannel channel(3, &sink_);
  handler_->RegisterChannel(&channel);
  handler_->RegisterChannel(&channel);
  handler_->UnregisterChannel(&channel);
  EXPECT_EQ(handler_->FindChannel(3), &sink_);
  EXPECT_EQ(task_.aborted.load(), -1);
  handler_->UnregisterChannel(&channel);
  EXPECT_EQ(handler_->FindChannel(3), nullptr);
  EXPECT_EQ(task_.aborted.load(), 3);
  EXPECT_EQ(channel.Callback(), nullptr);
}

TEST_F(EdgeStorageHandlerTest, UnfinishedItemBacksOffParksWhenItsChannelStopsAndReturnsWithIt) {
  handler_->SetRetryPolicy(60000, 60000, 10);
  task_.finishes = false;
  FakeChannel channel(5, &sink_);
  handler_->RegisterChannel(&channel);
  const uint64_t before = NowFileTime() - 20 * kSecond;
  const uint64_t after = NowFileTime();
  task_.reached = before + kSecond;
  MakeGap(channel, before, after);
  ASSERT_TRUE(FramesUntilPasses(channel, 1));
  // Frames keep coming: a camera that failed is not asked again at once.
  for (int i = 0; i < 50; ++i) channel.Frame(NowFileTime());
  handler_->UnregisterChannel(&channel);
  ASSERT_TRUE(WaitUntil([&] { return handler_->PendingCount() == 1; }));
  EXPECT_EQ(task_.passes.load(), 1);
  EXPECT_EQ(driver_.LinesWith("channel was stopped. Task will be processed later").size(), 1u);
  handler_->RegisterChannel(&channel);
  ASSERT_TRUE(WaitUntil([&] { return task_.Intervals().size() == 2; }));
  EXPECT_EQ(handler_->PendingCount(), 0u);
  // Resumed from where the last pass got to.
  EXPECT_EQ(task_.Intervals()[1], (Interval{5, before + kSecond, after}));
}

}  // namespace
}  // namespace orbisan
