// Camera clock synchronisation against the simulated camera: shared items,
// retries after a refusal and the provider's lifetime (the DATE_CONFIG text
// itself is checked against the simulated camera's clock end to end).
#include "camera/time_sync.h"

#include <gtest/gtest.h>

#include <atomic>

#include "camera/sim_camera_test.h"
#include "support/wait_until.h"

namespace orbisan::test {
namespace {

using namespace std::chrono_literals;

TEST(SyncItem, OneKeyPerDevice) {
  auto key = [](const char* address, uint16_t port) {
    DEVICE_INFO device;
    device.address = address;
    device.port = port;
    return CTimeProvider::DeviceKey(device);
  };
  EXPECT_EQ(key("localhost", 80), key("127.0.0.1", 80));
  EXPECT_NE(key("127.0.0.1", 81), key("127.0.0.1", 80));
  // Names without an IPv4 address keep apart instead of all meeting at 0.
  EXPECT_NE(key("fe80::1", 80), key("fe80::2", 80));
}

class TimeSyncTest : public SimCameraTest {
 protected:
  void SetUp() override {
    Start();
    for (TestDriver* d : {&first_, &second_, &stranger_}) {
      d->info = driver_.info;
      d->info.connectTimeoutMs = 20000;
    }
  }
  size_t DateRequests() { return Requests("system?DATE_CONFIG=1,").size(); }
  bool Users(CTimeSyncService& service, uint32_t users) {
    return service.WithProvider([&](CTimeProvider* p) { return (p ? p->Users(first_.info) : 0) == users; });
  }

  TestDriver first_, second_, stranger_;
};

TEST_F(TimeSyncTest, DriversOfOneDeviceShareOneItemSyncedOncePerPeriod) {
  CTimeSyncService service(60000, 10);
  service.Register(&first_);
  service.Register(&second_);
  service.Register(&second_);  // a second open of the same driver counts once
  EXPECT_TRUE(Users(service, 2));
  ASSERT_TRUE(WaitUntil([&] { return DateRequests() == 1; }));
  std::this_thread::sleep_for(100ms);  // ten passes, all inside the period
  EXPECT_EQ(DateRequests(), 1u);
  // Drivers that are not registered (any more) take nobody's place away.
  service.Unregister(&stranger_);
  service.Unregister(&first_);
  service.Unregister(&first_);
  EXPECT_TRUE(Users(service, 1));
  service.Unregister(&second_);
  EXPECT_TRUE(service.WithProvider([](CTimeProvider* p) { return p == nullptr; }));
}

TEST_F(TimeSyncTest, ARefusedDateIsTriedAgainEveryPass) {
  camera_->SetClockRefusing(true);
  CTimeProvider provider(60000, 10);
  provider.AddDevice(&first_);
  ASSERT_TRUE(provider.StartThread("sync"));
  ASSERT_TRUE(WaitUntil([&] { return DateRequests() >= 3; }));
  EXPECT_EQ(provider.LastSync(first_.info), 0u);
  camera_->SetClockRefusing(false);
  EXPECT_TRUE(WaitUntil([&] { return provider.LastSync(first_.info) != 0; }));
}

TEST_F(TimeSyncTest, TheLastUnregistrationEndsASyncUnderWayAndANewRegistrationStartsAfresh) {
  camera_->SetHttpFault(strandline::sim::HttpFault::kNoAnswer);
  CTimeSyncService service(60000, 10);
  service.Register(&first_);
  ASSERT_TRUE(WaitUntil([&] { return DateRequests() == 1; }));  // it is never answered
  const auto start = std::chrono::steady_clock::now();
  service.Unregister(&first_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
  EXPECT_TRUE(first_.LinesWith("will be terminated").empty());
  camera_->SetHttpFault(strandline::sim::HttpFault::kNone);
  service.Register(&first_);
  EXPECT_TRUE(WaitUntil([&] { return DateRequests() == 2; }));  // a new item, never synced
  service.Unregister(&first_);
}

}  // namespace
}  // namespace orbisan::test
