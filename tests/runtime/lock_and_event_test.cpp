#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/event.h"
#include "runtime/recursive_lock.h"

using namespace orbisan;
using namespace std::chrono_literals;

TEST(RecursiveLock, ReleasedOnlyAtTheLastLeaveOfARecursiveHolder) {
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
}

TEST(RecursiveLock, ContendedCounterStaysExact) {
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

TEST(Event, AutoResetWakesOneWaitAndManualStaysSet) {
  CEvent automatic(false);
  CManualEvent manual;
  EXPECT_FALSE(automatic.Wait(0));
  automatic.Set();
  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0)) << "auto-reset event stayed signalled";
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Wait(10));
}

TEST(Event, WaitForAnyReportsTheFirstSignalledAndWakesFromAnotherThread) {
  CEvent a(false), b(false), c(true);
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

TEST(Event, ManyWaitersAllSeeAManualEvent) {
  CManualEvent go;
  std::atomic<int> woke{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 8; ++i) {
    waiters.emplace_back([&] {
      if (go.Wait(10000)) ++woke;
    });
  }
  std::this_thread::sleep_for(20ms);
  go.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woke, 8);
}
