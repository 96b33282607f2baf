#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/base_thread.h"
#include "runtime/queue_thread.h"
#include "runtime/tick_thread.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

using namespace orbisan;
using namespace std::chrono_literals;

namespace {

// Runs until stopped; with holdStop it ignores the stop until released.
class SleepyThread : public CBaseThread {
 public:
  explicit SleepyThread(IDebugMessage* owner) : CBaseThread(owner) {}
  ~SleepyThread() override { StopThread(5000); }
  bool holdStop = false;
  CManualEvent release;
  CManualEvent running;

 protected:
  uint32_t ThreadFunction() override {
    running.Set();
    if (holdStop) release.Wait(10000);
    StopEvent().Wait(kInfinite);
    return 0;
  }
};

struct Item {
  explicit Item(int v, std::atomic<int>* deleted) : value(v), deletedCount(deleted) {}
  virtual ~Item() { ++*deletedCount; }
  int value;
  std::atomic<int>* deletedCount;
};

class RecordingQueue : public CQueueThread<Item> {
 public:
  ~RecordingQueue() override { JoinThread(5000); }
  std::vector<int> handled;
  std::mutex mutex;
  bool throwOnOdd = false;

 protected:
  void HandleItem(Item* item) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      handled.push_back(item->value);
    }
    if (throwOnOdd && item->value % 2 == 1) throw std::runtime_error("odd");
  }
};

}  // namespace

TEST(BaseThread, StartWhileRunningFailsAndKeepsTheName) {
  test::TestDriver driver;
  SleepyThread thread(&driver);
  ASSERT_TRUE(thread.StartThread("first"));
  thread.running.Wait(kInfinite);
  EXPECT_FALSE(thread.StartThread("second"));
  EXPECT_EQ(thread.ThreadName(), "first");
  EXPECT_TRUE(thread.IsRunning()) << "a failed start must not stop the running thread";
  EXPECT_TRUE(thread.StopThread(5000));
  EXPECT_FALSE(thread.IsRunning());
  // A finished thread can be started again.
  EXPECT_TRUE(thread.StartThread("third"));
  EXPECT_TRUE(thread.JoinThread(5000));
  EXPECT_TRUE(driver.Lines().empty());
}

// A start from another thread while a stop is under way fails and leaves the
// stop request standing, so the stopping caller is not left waiting.
TEST(BaseThread, StartDuringAStopFromAnotherThreadKeepsTheStop) {
  class Busy : public CBaseThread {
   public:
    ~Busy() override { StopThread(5000); }
    using CBaseThread::IsStopping;
    CManualEvent running;
    CManualEvent proceed;
    std::atomic<bool> sawStop{false};

   protected:
    uint32_t ThreadFunction() override {
      running.Set();
      proceed.Wait(10000);  // busy: the stop waits for this
      sawStop = StopEvent().Wait(10000);
      return 0;
    }
  };
  Busy thread;
  ASSERT_TRUE(thread.StartThread("busy"));
  thread.running.Wait(kInfinite);
  std::thread stopper([&thread] { thread.StopThread(5000); });
  ASSERT_TRUE(test::WaitUntil([&] { return thread.IsStopping(); }));
  EXPECT_FALSE(thread.StartThread("again"));
  thread.proceed.Set();
  stopper.join();
  EXPECT_TRUE(thread.sawStop);
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(thread.ThreadName(), "busy");
}

// A thread deaf to its stop past the wait: the time-out is logged (a stop
// warns of termination) and the call still returns only once the thread ended.
TEST(BaseThread, TimeOutIsLoggedAndTheThreadStillEndsCleanly) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "join");
    test::TestDriver driver;
    SleepyThread thread(&driver);
    thread.holdStop = true;
    ASSERT_TRUE(thread.StartThread("slow"));
    thread.running.Wait(kInfinite);
    std::thread releaser([&] {  // the thread may end once the time-out is logged
      test::WaitUntil([&] { return !driver.Lines().empty(); });
      thread.release.Set();
    });
    EXPECT_TRUE(stop ? thread.StopThread(50) : thread.JoinThread(50));
    releaser.join();
    EXPECT_FALSE(thread.IsRunning());
    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), stop ? 1u : 2u);
    EXPECT_EQ(lines[0].level, 2u);
    EXPECT_NE(lines[0].Message().find("Thread (id="), std::string::npos);
    EXPECT_NE(lines[0].text.find("name=\"slow\") for device 127.0.0.1:80 was not stopped during 50 milliseconds"),
              std::string::npos);
    EXPECT_EQ(stop, lines[0].text.find("will be terminated!") != std::string::npos);
    if (!stop) {
      EXPECT_EQ(lines[1].level, 3u);
      EXPECT_NE(lines[1].text.find("name=\"slow\") was stopped correctly"), std::string::npos);
    }
  }
}

TEST(BaseThread, JoinFromTheThreadItselfReturnsFalse) {
  class SelfJoin : public CBaseThread {
   public:
    ~SelfJoin() override { StopThread(5000); }
    std::atomic<int> result{-1};

   protected:
    uint32_t ThreadFunction() override {
      result = JoinThread(10) ? 1 : 0;
      return 0;
    }
  } thread;
  ASSERT_TRUE(thread.StartThread("self"));
  EXPECT_TRUE(thread.JoinThread(5000));
  EXPECT_EQ(thread.result, 0);
}

TEST(QueueThread, DropRulesKeepTheNewestItems) {
  std::atomic<int> deleted{0};
  RecordingQueue queue;  // not started: items stay queued
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.AddItem(new Item(i, &deleted), 0));
  EXPECT_EQ(queue.QueuedCount(), 3u);
  EXPECT_EQ(deleted, 0) << "maxItems 0 must not drop";
  ASSERT_TRUE(queue.AddItem(new Item(7, &deleted), 1));
  EXPECT_EQ(queue.QueuedCount(), 1u);
  EXPECT_EQ(deleted, 3);
  ASSERT_TRUE(queue.Start("queue"));
  EXPECT_TRUE(test::WaitUntil([&] { return queue.QueuedCount() == 0 && deleted == 4; }));
  std::lock_guard<std::mutex> lock(queue.mutex);
  EXPECT_EQ(queue.handled, std::vector<int>{7});
}

// Items left queued at a stop or at destruction, or added after a stop, are
// deleted; a new start accepts items again; throwing items end nothing and
// the order is kept.
TEST(QueueThread, StopsDeleteWhatIsLeftAndThrowingItemsKeepTheOrder) {
  std::atomic<int> deleted{0};
  {
    RecordingQueue left;
    for (int i = 0; i < 5; ++i) left.AddItem(new Item(i, &deleted), 0);
  }
  EXPECT_EQ(deleted, 5);
  RecordingQueue queue;
  for (int i = 0; i < 5; ++i) queue.AddItem(new Item(i, &deleted), 0);
  EXPECT_TRUE(queue.Stop());
  EXPECT_EQ(deleted, 10);
  EXPECT_FALSE(queue.AddItem(new Item(1, &deleted), 0));
  EXPECT_EQ(deleted, 11);
  queue.throwOnOdd = true;
  ASSERT_TRUE(queue.Start("queue"));
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(queue.AddItem(new Item(i, &deleted), 0));
  EXPECT_TRUE(test::WaitUntil([&] { return deleted == 31; }));
  std::lock_guard<std::mutex> lock(queue.mutex);
  ASSERT_EQ(queue.handled.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(queue.handled[static_cast<size_t>(i)], i);
}

namespace {
struct Poller {
  std::atomic<int> ticks{0};
  void Poll() { ++ticks; }
};
}  // namespace

TEST(TickThread, TicksAtOnceOnStartThenEveryIntervalUntilStopped) {
  Poller poller;
  TTickThread<Poller> ticker(&poller, &Poller::Poll);
  ticker.SetInterval(20);
  ASSERT_TRUE(ticker.StartTicking("poll"));
  EXPECT_TRUE(test::WaitUntil([&] { return poller.ticks >= 3; }));
  EXPECT_TRUE(ticker.StopTicking(5000));
  const int after = poller.ticks;
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(poller.ticks, after) << "ticked after stop";

  // The first tick comes at once, not after a whole interval.
  Poller slow;
  TTickThread<Poller> lazy(&slow, &Poller::Poll);
  lazy.SetInterval(60000);
  ASSERT_TRUE(lazy.StartTicking("slow"));
  EXPECT_TRUE(test::WaitUntil([&] { return slow.ticks == 1; }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(lazy.StopTicking(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "stop must not wait for the interval";
  // Without an owner there is nothing to tick.
  TTickThread<Poller> none(nullptr, &Poller::Poll);
  none.SetInterval(5);
  ASSERT_TRUE(none.StartTicking("none"));
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(none.StopTicking(5000));
}
