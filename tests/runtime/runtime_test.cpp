#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <tuple>
#include <vector>

#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/logger_instance.h"
#include "runtime/queue_thread.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"
#include "runtime/text_utils.h"
#include "runtime/tick_thread.h"
#include "runtime/time_utils.h"
#include "support/test_driver.h"
#include "support/wait_until.h"

using namespace orbisan;

TEST(TimeFunctions, FileTimeRoundTripsThroughSystemTimeElapsedAndLocalTimeText) {
  const SYSTEMTIME t{
      .wYear = 2026, .wMonth = 2, .wDay = 28, .wHour = 23, .wMinute = 59, .wSecond = 58, .wMilliseconds = 123};
  const uint64_t ft = SystemTimeToFileTime64(t);
  // 2026-02-28T23:59:58.123Z in seconds since 1970 is 1772323198.
  EXPECT_EQ(ft, 1772323198ull * 10000000ull + 1230000ull + kFileTimeUnixEpoch);
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTimeUtc(ft, back));
  const auto fields = [](const SYSTEMTIME& s) {
    return std::tuple(s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds);
  };
  EXPECT_EQ(fields(back), fields(t));
  EXPECT_EQ(back.wDayOfWeek, 6);  // a Saturday

  SYSTEMTIME bad = t;
  bad.wDay = 29;  // 2026 is not a leap year
  EXPECT_EQ(SystemTimeToFileTime64(bad), 0u);
  bad.wYear = 2024;
  EXPECT_NE(SystemTimeToFileTime64(bad), 0u);
  bad.wMonth = 13;
  EXPECT_EQ(SystemTimeToFileTime64(bad), 0u);

  const uint64_t now = NowFileTime();
  EXPECT_GT(now, kFileTimeUnixEpoch);
  EXPECT_EQ(ElapsedMsSince(now + 10000000ull), 0u) << "future time";
  EXPECT_GE(ElapsedMsSince(now - 20000000ull), 2000u);
  EXPECT_EQ(FormatLocalTime(0), "");

  setenv("TZ", "UTC", 1);
  tzset();
  const SYSTEMTIME july{
      .wYear = 2025, .wMonth = 7, .wDay = 4, .wHour = 5, .wMinute = 6, .wSecond = 7, .wMilliseconds = 8};
  EXPECT_EQ(FormatLocalTime(SystemTimeToFileTime64(july)), "2025/07/04 05:06:07.008");

  CTime stamp;
  stamp.Set(NowFileTime() + 50000000ull);
  EXPECT_EQ(stamp.ElapsedMs(), 0u);

  // Intervals do not follow steps of the wall clock (a lost signal faked by a
  // step forward, or hidden by a step back).
  CTime interval;
  const uint64_t wallBefore = interval.Get();
  ShiftWallClockForTesting(36000000000ll);  // one hour forward
  EXPECT_LT(interval.ElapsedMs(), 60000u);
  ShiftWallClockForTesting(-72000000000ll);  // two hours back
  interval.Touch();
  EXPECT_LT(interval.Get(), wallBefore) << "the stamp itself is wall-clock time";
  ShiftWallClockForTesting(36000000000ll);
  EXPECT_LT(interval.ElapsedMs(), 60000u);
  interval.Set(NowFileTime() - 50000000ull);
  EXPECT_GE(interval.ElapsedMs(), 5000u);
  EXPECT_LT(interval.ElapsedMs(), 65000u);
}

TEST(TextFunctions, Utf8AndWideRejectingMalformedInputTrimLowerAndSplit) {
  const std::string text = "Kamera \xC3\xBC\xE2\x82\xAC \xF0\x9F\x93\xB7";  // ü € 📷
  const std::wstring wide = Utf8ToWide(text);
  ASSERT_EQ(wide.size(), 11u);
  EXPECT_EQ(wide[7], L'\u00FC');
  EXPECT_EQ(static_cast<uint32_t>(wide[10]), 0x1F4F7u);
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("\xC3"), L"") << "truncated sequence";
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"") << "overlong form";
  EXPECT_EQ(Utf8ToWide("a\xFF"), L"");

  EXPECT_EQ(Trim(" \t\r\n a b \r\n"), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("\r a \t", " \t"), "\r a");
  EXPECT_EQ(ToLower("Hemispheric-\xC3\x84 B"), "hemispheric-\xC3\x84 b");  // bytes past ASCII stay
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(Split(",a,,b c,", ","), (Pieces{"a", "b c"}));
  EXPECT_EQ(Split(",a,,b c,", ", "), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(Split("a;;b;", ";", false), (Pieces{"a", "", "b", ""}));
  EXPECT_EQ(Split("", ";", false), (Pieces{""}));
  EXPECT_EQ(Split("", ";"), Pieces{});
  EXPECT_EQ(Split("abc", ""), (Pieces{"abc"}));
}

namespace {
// Counts its deletions; the value tells queued items apart.
struct Item {
  explicit Item(int v, std::atomic<int>* deleted) : value(v), deletedCount(deleted) {}
  virtual ~Item() { ++*deletedCount; }
  int value;
  std::atomic<int>* deletedCount;
};
}  // namespace

TEST(SmartPtr, SharesAndDeletesAtTheLastRelease) {
  std::atomic<int> deleted{0};
  {
    TSmartPtr<Item> a(new Item(0, &deleted));
    TSmartPtr<Item> b(a);
    TSmartPtr<Item> c;
    c = b;
    EXPECT_EQ(a.UseCount(), 3);
    b.Release();
    a.Release();
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(c.UseCount(), 1);
    TSmartPtr<Item> empty;
    TSmartPtr<Item> copyOfEmpty(empty);
    EXPECT_FALSE(copyOfEmpty);
  }
  EXPECT_EQ(deleted, 1);

  // The count never overflows: holder 128 comes out empty.
  TSmartPtr<Item> first(new Item(0, &deleted));
  std::vector<TSmartPtr<Item>> holders;
  holders.reserve(200);
  for (int i = 0; i < 130; ++i) holders.push_back(first);
  EXPECT_EQ(first.UseCount(), 127);
  EXPECT_FALSE(holders.back());
  holders.clear();
  first.Release();
  EXPECT_EQ(deleted, 2);
}

TEST(LoggerInstance, RepeatsAreDroppedPercentSignsSurviveThinningBoundariesAndReset) {
  test::TestDriver driver;
  CLoggerInstance logger(&driver);
  logger.LogMessage(1, "%s", "A");
  logger.LogMessage(1, "%s", "A");
  logger.LogMessage(1, "%s", "B");
  logger.LogMessage(1, "%s", "A");
  logger.LogMessage(3, "%s", "100% done %d %s");
  logger.LogMessage(1, "%s", "");
  std::vector<std::string> texts;
  for (const auto& line : driver.Lines()) texts.push_back(line.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"A", "B", "A", "100% done %d %s"}));
  EXPECT_EQ(driver.Lines().back().level, 3u);

  logger.ResetLog();
  driver.ClearLines();
  // Distinct message n (1-based) carries its own number.
  std::vector<int> passed;
  for (int n = 1; n <= 70000; ++n) logger.LogMessage(1, "message %d", n);
  for (const auto& line : driver.Lines()) passed.push_back(std::stoi(line.text.substr(8)));
  std::vector<int> expected;
  for (int c = 1; c <= 14; ++c) expected.push_back(c);
  for (int c = 16; c < 255; c += 16) expected.push_back(c);
  for (int c = 256; c < 4095; c += 256) expected.push_back(c);
  for (int c = 4096; c < 65535; c += 4096) expected.push_back(c);
  // At 65535 the counter drops back to 4095 without passing; message 65536
  // then counts as 4096 and passes, and so on every 4096.
  for (int n = 65536; n <= 70000; n += 4096) expected.push_back(n);
  EXPECT_EQ(passed, expected);
  // A reset lets the next message through at once: the last one, held back before it.
  logger.ResetLog();
  logger.LogMessage(1, "message 70000");
  logger.LogMessage(1, "message 70000");
  EXPECT_EQ(driver.Lines().size(), expected.size() + 1);
  EXPECT_EQ(driver.Lines().back().text, "message 70000");
}

using namespace std::chrono_literals;

TEST(RecursiveLock, ReleasedOnlyAtTheLastLeaveOfARecursiveHolderAndAContendedCounterStaysExact) {
  CRecursiveLock lock;
  std::atomic<bool> holding{false};
  std::atomic<bool> otherGotIt{false};
  CManualEvent entered;
  CManualEvent release[3];
  std::thread holder([&] {
    lock.Enter();
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    holding = true;
    entered.Set();
    for (auto& step : release) {
      step.Wait(kInfinite);
      lock.Leave();
    }
  });
  entered.Wait(kInfinite);
  std::thread other([&] {
    lock.Enter();
    otherGotIt = true;
    lock.Leave();
  });
  release[0].Set();
  release[1].Set();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(otherGotIt) << "lock released before the third Leave";
  EXPECT_FALSE(lock.TryEnter() && (lock.Leave(), true)) << "a third thread got a held lock";
  release[2].Set();
  other.join();
  holder.join();
  EXPECT_TRUE(otherGotIt);

  for (unsigned processors : {1u, 4u}) {
    CRecursiveLock lock(processors);
    int64_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < 20000; ++i) {
          CAutoLock outer(lock);
          CAutoLock inner(lock);
          ++counter;
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 80000);
  }
}

// An auto-reset event wakes one wait, a manual one stays set; WaitForAny
// reports the first signalled and wakes from another thread.
TEST(Event, AutoAndManualResetAndWaitForAny) {
  CEvent a(false), b(false);
  CManualEvent c;
  EXPECT_FALSE(a.Wait(0));
  a.Set();
  EXPECT_TRUE(a.Wait(0));
  EXPECT_FALSE(a.Wait(0)) << "auto-reset event stayed signalled";
  c.Set();
  EXPECT_TRUE(c.Wait(0));
  EXPECT_TRUE(c.Wait(0));
  c.Reset();
  EXPECT_FALSE(c.Wait(10));
  CEvent* events[3] = {&a, &b, &c};
  EXPECT_EQ(CEvent::WaitForAny(events, 0, 0), -1);
  EXPECT_EQ(CEvent::WaitForAny(events, 3, 20), -1);
  b.Set();
  c.Set();
  EXPECT_EQ(CEvent::WaitForAny(events, 3, 0), 1);
  EXPECT_EQ(CEvent::WaitForAny(events, 3, 0), 2);  // b was consumed, c is manual
  c.Reset();

  std::thread setter([&] {
    std::this_thread::sleep_for(30ms);
    a.Set();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CEvent::WaitForAny(events, 3, 10000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  setter.join();
}

namespace {

// Runs until stopped; with holdStop it ignores the stop until released.
class SleepyThread : public CBaseThread {
 public:
  explicit SleepyThread(IDebugMessage* owner) : CBaseThread(owner) {}
  ~SleepyThread() override { StopThread(5000); }
  using CBaseThread::IsStopping;
  bool holdStop = false;
  CManualEvent release;
  CManualEvent running;
  std::atomic<bool> sawStop{false};
  std::atomic<int> selfJoined{-1};

 protected:
  uint32_t ThreadFunction() override {
    running.Set();
    if (holdStop) release.Wait(10000);
    sawStop = StopEvent().Wait(10000);
    selfJoined = JoinThread(10) ? 1 : 0;
    return 0;
  }
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

// A start from another thread while a stop is under way fails and leaves the
// stop request standing, so the stopping caller is not left waiting.
TEST(BaseThread, StartWhileRunningOrStoppingFailsASelfJoinFailsAndATimeOutIsLogged) {
  test::TestDriver driver;
  SleepyThread thread(&driver);
  ASSERT_TRUE(thread.StartThread("first"));
  thread.running.Wait(kInfinite);
  EXPECT_FALSE(thread.StartThread("second"));
  EXPECT_EQ(thread.ThreadName(), "first");
  EXPECT_TRUE(thread.IsRunning()) << "a failed start must not stop the running thread";
  EXPECT_TRUE(thread.StopThread(5000));
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(thread.selfJoined, 0) << "a join from the thread itself";
  // A finished thread can be started again.
  EXPECT_TRUE(thread.StartThread("third"));
  EXPECT_TRUE(thread.JoinThread(5000));
  EXPECT_TRUE(driver.Lines().empty());

  SleepyThread busy(&driver);
  busy.holdStop = true;  // busy: the stop waits for the release
  ASSERT_TRUE(busy.StartThread("busy"));
  busy.running.Wait(kInfinite);
  std::thread stopper([&busy] { busy.StopThread(5000); });
  ASSERT_TRUE(test::WaitUntil([&] { return busy.IsStopping(); }));
  EXPECT_FALSE(busy.StartThread("again"));
  busy.release.Set();
  stopper.join();
  EXPECT_TRUE(busy.sawStop);
  EXPECT_FALSE(busy.IsRunning());
  EXPECT_EQ(busy.ThreadName(), "busy");

  // A thread deaf to its stop past the wait: the time-out is logged (a stop
  // warns of termination) and the call still returns only once the thread ended.
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

TEST(QueueThread, DropRulesKeepTheNewestItemsStopsDeleteWhatIsLeftAndThrowingItemsKeepTheOrder) {
  std::atomic<int> dropped{0};
  RecordingQueue dropping;  // not started: items stay queued
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(dropping.AddItem(new Item(i, &dropped), 0));
  EXPECT_EQ(dropping.QueuedCount(), 3u);
  EXPECT_EQ(dropped, 0) << "maxItems 0 must not drop";
  ASSERT_TRUE(dropping.AddItem(new Item(7, &dropped), 1));
  EXPECT_EQ(dropping.QueuedCount(), 1u);
  EXPECT_EQ(dropped, 3);
  ASSERT_TRUE(dropping.Start("queue"));
  EXPECT_TRUE(test::WaitUntil([&] { return dropping.QueuedCount() == 0 && dropped == 4; }));
  std::lock_guard<std::mutex> held(dropping.mutex);
  EXPECT_EQ(dropping.handled, std::vector<int>{7});

  // Items left queued at a stop or at destruction, or added after a stop, are
  // deleted; a new start accepts items again; throwing items end nothing and
  // the order is kept.
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

  // Started again, the first tick comes at once, not after a whole interval.
  poller.ticks = 0;
  ticker.SetInterval(60000);
  ASSERT_TRUE(ticker.StartTicking("slow"));
  EXPECT_TRUE(test::WaitUntil([&] { return poller.ticks == 1; }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ticker.StopTicking(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "stop must not wait for the interval";
  // Without an owner there is nothing to tick.
  TTickThread<Poller> none(nullptr, &Poller::Poll);
  none.SetInterval(5);
  ASSERT_TRUE(none.StartTicking("none"));
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(none.StopTicking(5000));
}
