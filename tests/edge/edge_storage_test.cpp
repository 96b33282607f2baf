#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "depacketizers/bit_writer.h"
#include "edge/base_edge_storage_handler.h"
#include "edge/base_edge_storage_task.h"
#include "edge/edge_storage_task.h"
#include "rtsp/rtp_test_util.h"
#include "runtime/event.h"
#include "runtime/time_utils.h"
#include "support/silent_listener.h"
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

constexpr uint64_t kMs = 10000ull;

// The task with a scripted session (`play` runs on a thread of its own as
// the session's packet thread would), and its own handler of channel 7.
class ScriptedTask : public CBaseEdgeStorageTask, public IEdgeStorageHandler {
 public:
  ScriptedTask(IDriver* driver, ipcapture::IVideoFrameSink* sink) : CBaseEdgeStorageTask(driver), sink_(sink) {}
  void RegisterChannel(IEdgeMonitorChannel*) override {}
  void UnregisterChannel(IEdgeMonitorChannel*) override {}
  ipcapture::IVideoFrameSink* FindChannel(uint32_t key) override { return key == 7 ? sink_ : nullptr; }
  bool DeliverFrame(uint32_t key, ipcapture::IMediaSample* frame) override { return key == 7 && sink_->OnFrame(frame); }
  ~ScriptedTask() override { StopSession(); }

  void Frame(uint64_t time, bool key) {
    test::TestSample sample(key ? ipcapture::kFourCC_H264 : ipcapture::kFourCC_I264, 4, "");
    sample.dataSize = 4;
    FileTimeToSystemTimeUtc(time, sample.time);
    NotifyPlaying();
    FrameReady(&sample);
  }
  using CBaseEdgeStorageTask::NotifySessionClosed;

  Storage storage = Storage::kMounted;
  bool starts = true;
  bool answered = true;
  uint64_t startedAt = 0;
  std::function<void()> play;

 protected:
  Storage CheckStorage() override { return storage; }
  bool StartSession(uint64_t position) override {
    startedAt = position;
    if (starts && play) player_ = std::thread(play);
    return starts;
  }
  void StopSession() override {
    if (player_.joinable()) player_.join();
  }
  bool IsSessionRunning() override { return true; }
  bool LastExchangeResult() override { return answered; }

 private:
  ipcapture::IVideoFrameSink* sink_;
  std::thread player_;
};

// The handler with its recording retrieval task, and the scripted task.
class EdgeStorageTest : public ::testing::Test {
 protected:
  EdgeStorageTest() {
    driver_.info.signalTimeoutMs = 100;
    // Long enough that a loaded machine is not taken for a silent camera.
    driver_.info.connectTimeoutMs = 1000;
    driver_.edgeStorageTask = &retrieval_;
    task_.SetHandler(&task_);
    task_.SetInterval(7, begin_, end_);
  }

  // A silence of the channel from its frame at `before`, then video back
  // at `after`: the gap is queued.
  void MakeGap(FakeChannel& channel, uint64_t before, uint64_t after) {
    const uint64_t silences = handler_->SilenceCount();
    channel.Frame(before);
    ASSERT_TRUE(WaitUntil([&] { return handler_->SilenceCount() > silences; }));
    channel.Frame(after);
  }
  std::vector<uint64_t> DeliveredTimes() {
    std::vector<uint64_t> times;
    for (const test::DeliveredFrame& frame : sink_.Frames()) times.push_back(SystemTimeToFileTime64(frame.time));
    return times;
  }

  test::TestDriver driver_;
  test::TestSink sink_;
  FakeTask retrieval_;
  std::unique_ptr<CBaseEdgeStorageHandler> handler_ = std::make_unique<CBaseEdgeStorageHandler>(&driver_, 10);
  ScriptedTask task_{&driver_, &sink_};
  // Whole milliseconds: frame times carry no finer part.
  const uint64_t begin_ = (NowFileTime() / kMs - 60000) * kMs;
  const uint64_t end_ = begin_ + 1000 * kMs;
};

// The camera's clock is not this machine's: a silence is timed by when
// frames arrive, while the gap keeps the camera's own times.
TEST_F(EdgeStorageTest,
       GapRunsFromTheLastFrameBeforeTheSilenceToTheFirstAfterItTimedHereAndChannelsGoAtTheirLastUnregistration) {
  FakeChannel delivering(1, &sink_);
  FakeChannel silent(2, &sink_);  // never delivers: never gets an item
  handler_->RegisterChannel(&delivering);
  handler_->RegisterChannel(&silent);
  // A minute behind, in flowing video: no silence.
  const uint64_t steadyStart = SteadyMs();
  for (int i = 0; SteadyMs() - steadyStart < 600 && i < 1000; ++i) {
    delivering.Frame(NowFileTime() - 60 * kSecond);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(handler_->SilenceCount(), 0u);
  // A minute ahead: the silence is noticed and the gap queued all the same.
  const uint64_t before = NowFileTime() + 60 * kSecond;
  MakeGap(delivering, before, before + 2 * kSecond);
  // The item is worked on at the next activity: video is back.
  ASSERT_TRUE(WaitUntil([&] {
    delivering.Frame(NowFileTime() + 63 * kSecond);
    return retrieval_.passes.load() == 1;
  }));
  EXPECT_EQ(retrieval_.Intervals(), (std::vector<Interval>{{1, before, before + 2 * kSecond}}));
  EXPECT_EQ(driver_.LinesWith("- Processing finished.").size(), 1u);

  // A channel is dropped only by its last unregistration.
  handler_->RegisterChannel(&silent);
  handler_->UnregisterChannel(&silent);
  EXPECT_EQ(handler_->FindChannel(2), &sink_);
  EXPECT_EQ(retrieval_.aborted.load(), -1);
  handler_->UnregisterChannel(&silent);
  EXPECT_EQ(handler_->FindChannel(2), nullptr);
  EXPECT_EQ(retrieval_.aborted.load(), 2);
  EXPECT_EQ(silent.Callback(), nullptr);
}

TEST_F(EdgeStorageTest, UnfinishedItemBacksOffParksWhenItsChannelStopsAndReturnsWithIt) {
  handler_->SetRetryPolicy(60000, 60000, 10);
  retrieval_.finishes = false;
  FakeChannel channel(5, &sink_);
  handler_->RegisterChannel(&channel);
  const uint64_t before = NowFileTime() - 20 * kSecond;
  const uint64_t after = NowFileTime();
  retrieval_.reached = before + kSecond;
  MakeGap(channel, before, after);
  ASSERT_TRUE(WaitUntil([&] {
    channel.Frame(NowFileTime());
    return retrieval_.passes.load() == 1;
  }));
  // Frames keep coming: a camera that failed is not asked again at once.
  for (int i = 0; i < 50; ++i) channel.Frame(NowFileTime());
  handler_->UnregisterChannel(&channel);
  ASSERT_TRUE(WaitUntil([&] { return handler_->PendingCount() == 1; }));
  EXPECT_EQ(retrieval_.passes.load(), 1);
  EXPECT_EQ(driver_.LinesWith("channel was stopped. Task will be processed later").size(), 1u);
  handler_->RegisterChannel(&channel);
  ASSERT_TRUE(WaitUntil([&] { return retrieval_.Intervals().size() == 2; }));
  EXPECT_EQ(handler_->PendingCount(), 0u);
  // Resumed from where the last pass got to.
  EXPECT_EQ(retrieval_.Intervals()[1], (Interval{5, before + kSecond, after}));
}

// Only the camera's answer that it has no card ends an item unfetched; a
// storage query or a session start without an answer leaves it to be tried
// again, whatever the session client's last exchange (an earlier pass's) was.
TEST_F(EdgeStorageTest, AnItemEndsUnfetchedOnlyWhenTheCameraSaysItHasNoStorage) {
  using Storage = ScriptedTask::Storage;
  // storage, session starts, finished
  const std::tuple<Storage, bool, bool> rows[] = {
      {Storage::kUnanswered, true, false}, {Storage::kMounted, false, false}, {Storage::kNone, true, true}};
  for (const auto& [storage, starts, finished] : rows) {
    task_.storage = storage;
    task_.starts = starts;
    uint64_t position = 0;
    EXPECT_EQ(task_.ProcessTaskItem(&position), finished) << static_cast<int>(storage) << starts;
    EXPECT_EQ(position, begin_);
  }
  EXPECT_EQ(task_.startedAt, begin_);  // the session only where the card answered
  // Repeats of the same failure are told once.
  task_.storage = Storage::kNone;
  task_.ProcessTaskItem(nullptr);
  EXPECT_EQ(driver_.LinesWith("no storage").size(), 1u);
}

TEST_F(EdgeStorageTest, DeliversOnlyFramesInsideTheIntervalFromTheFirstKeyFrameOnAndEndsWhenTheyEndEarly) {
  task_.play = [&] {
    task_.Frame(begin_, true);              // already recorded live
    task_.Frame(begin_ + 40 * kMs, false);  // no key frame yet
    task_.Frame(begin_ + 80 * kMs, true);
    task_.Frame(begin_ + 120 * kMs, false);
    task_.Frame(end_, false);  // the live frame that ended the gap
    task_.Frame(end_ + 40 * kMs, true);
  };
  uint64_t position = 0;
  EXPECT_TRUE(task_.ProcessTaskItem(&position));
  EXPECT_EQ(DeliveredTimes(), (std::vector<uint64_t>{begin_ + 80 * kMs, begin_ + 120 * kMs}));
  EXPECT_EQ(task_.GetStreamName(), "Strandline::EdgeChannel");
  EXPECT_GE(position, end_);

  // Frames ending early while the session runs end the item as well.
  task_.play = [&] { task_.Frame(begin_ + 40 * kMs, true); };
  task_.SetInterval(7, begin_, end_);
  EXPECT_TRUE(task_.ProcessTaskItem(&position));
  EXPECT_EQ(driver_.LinesWith("No video for selected time interval").size(), 1u);
  EXPECT_EQ(position, begin_ + 40 * kMs);
}

TEST_F(EdgeStorageTest, ClosedSessionIsRetriedFromThePositionReached) {
  task_.play = [&] {
    task_.Frame(begin_ + 40 * kMs, true);
    task_.NotifySessionClosed();
  };
  uint64_t position = 0;
  EXPECT_FALSE(task_.ProcessTaskItem(&position));
  EXPECT_EQ(driver_.LinesWith("RTSP session was closed").size(), 1u);
  EXPECT_EQ(position, begin_ + 40 * kMs);
  task_.play = [&] {
    task_.Frame(begin_ + 40 * kMs, true);  // delivered already
    task_.Frame(begin_ + 80 * kMs, true);
    task_.Frame(end_ + kMs, false);
  };
  EXPECT_TRUE(task_.ProcessTaskItem(&position));
  EXPECT_EQ(task_.startedAt, begin_ + 40 * kMs);
  EXPECT_EQ(DeliveredTimes(), (std::vector<uint64_t>{begin_ + 40 * kMs, begin_ + 80 * kMs}));
}

// The host stops the channel while a fetched frame is in its sink: from
// another thread the unregistration returns only once the frame is out of
// the sink, from inside the callback at once; no frame follows it.
TEST_F(EdgeStorageTest, UnregistrationWaitsForAFrameInTheSink) {
  for (bool fromInside : {false, true}) {
    SCOPED_TRACE(fromInside);
    test::TestSink sink;
    CBaseEdgeStorageHandler handler(&driver_, 10);
    FakeChannel channel(7, &sink);  // the recording channel of key 7
    handler.RegisterChannel(&channel);
    task_.SetHandler(&handler);
    std::atomic<bool> unregistered{false};
    bool returnedWhileInside = false;
    CManualEvent inside;
    auto unregister = [&] {
      handler.UnregisterChannel(&channel);
      unregistered = true;
    };
    sink.afterFrame = [&] {
      inside.Set();
      if (fromInside) return unregister();
      returnedWhileInside = test::WaitUntil([&] { return unregistered.load(); }, std::chrono::milliseconds(1000));
    };
    std::thread other;
    if (!fromInside) {
      other = std::thread([&] {
        if (inside.Wait(10000)) unregister();
      });
    }
    task_.Frame(begin_ + 40 * kMs, true);
    task_.Frame(begin_ + 80 * kMs, true);
    if (other.joinable()) other.join();
    EXPECT_TRUE(unregistered.load());
    EXPECT_FALSE(returnedWhileInside);
    EXPECT_EQ(sink.FrameCount(), 1u);
    task_.SetHandler(&task_);
  }
}

// Playback packets as the network brings them: put in order before the
// depacketizer, and what waits for a gap handed on when the stream goes quiet
// or the pass ends. Records each picture by its RTP time in frames.
class PlaybackTask : public CEdgeStorageTask {
 public:
  using CBaseRTSPEdgeStorageTask::StopSession;
  using CEdgeStorageTask::CEdgeStorageTask;
  void ConvertTimestamp(uint32_t rtpTimestamp, SYSTEMTIME&) override { stamp = rtpTimestamp / 3000; }
  bool FrameReady(ipcapture::IMediaSample*) override { return pictures.push_back(stamp), true; }
  uint32_t stamp = 0;
  std::vector<uint32_t> pictures;
};

TEST_F(EdgeStorageTest, PortPathAnAbortOfAnUnansweredStorageQueryAndPlaybackPacketsSequencedAndFlushed) {
  const std::pair<const char*, uint16_t> cases[] = {
      {"8554,7070", 8554}, {"", 7070}, {"abc,8554", 7070}, {"0", 7070}, {"-5", 7070}};
  for (const auto& [parameter, port] : cases) {
    driver_.parameters[7] = parameter;
    EXPECT_EQ(CEdgeStorageTask(&driver_).RtspPort(), port) << parameter;
  }
  const SYSTEMTIME utc{2026, 12, 0, 6, 9, 5, 3, 999};
  EXPECT_EQ(CBaseRTSPEdgeStorageTask::PlaybackPath(SystemTimeToFileTime64(utc)),
            "/playback/datetime=2026.12.06.09.05.03");

  test::SilentListener camera;
  driver_.info.port = camera.Port();
  driver_.info.connectTimeoutMs = 60000;
  CEdgeStorageTask task(&driver_);
  task.SetInterval(7, 0, 10 * kMs);
  uint64_t position = 0;
  std::thread queue([&] { EXPECT_FALSE(task.ProcessTaskItem(&position)); });
  ASSERT_TRUE(test::WaitUntil([&] { return camera.Connected(); }));
  const auto start = std::chrono::steady_clock::now();
  task.Abort();
  queue.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "waited for the camera";

  // 0 and 1 the parameter sets, 2 a key frame, 3 to 8 pictures 1 to 6, 9 a key frame 7.
  auto packet = [](uint8_t i) {
    const std::vector<uint8_t> idr{uint8_t(i == 2 || i == 9 ? 0x65 : 0x41), 0x88, 0x84, 0x21, 0xA0};
    test::RtpFields f;
    f.marker = i >= 2;
    f.sequence = uint16_t(100 + i);
    f.timestamp = i < 3 ? 0u : (i - 2) * 3000u;
    f.payload = i == 0 ? test::BaselineSps(20, 15) : i == 1 ? std::vector<uint8_t>{0x68, 0xCE, 0x3C, 0x80} : idr;
    const std::vector<uint8_t> bytes = test::BuildRtp(f);
    CRTPPacket out;
    EXPECT_TRUE(out.Parse(bytes.data(), bytes.size()));
    return out;
  };
  const std::tuple<std::vector<uint8_t>, bool, std::vector<uint32_t>> rows[] = {
      // sent, quiet (else the end), pictures
      {{0, 1, 2, 3, 5, 4, 6, 6, 7, 8}, false, {0, 1, 2, 3, 4, 5, 6}},
      {{0, 1, 2, 3, 4, 9}, true, {0, 1, 2, 7}},
      {{0, 1, 2, 3, 4, 9}, false, {0, 1, 2, 7}}};
  for (const auto& [sent, quiet, pictures] : rows) {
    test::TestDriver driver;
    test::TestAllocator allocator;
    driver.allocator = &allocator;
    PlaybackTask task(&driver);
    SDP_SESSION_INFO info;
    info.video.encoding = "H264/90000";
    ASSERT_TRUE(task.SdpInfoReceived(info));
    for (uint8_t i : sent) task.RtpPacketReceived(packet(i));
    if (!quiet) task.StopSession();
    test::WaitUntil([&] { return task.QueueIdle() == 0 && task.pictures.size() >= pictures.size(); });
    EXPECT_EQ(task.pictures, pictures) << testing::PrintToString(sent) << quiet;
  }
}

}  // namespace
}  // namespace orbisan
