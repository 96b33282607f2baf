#include "camera/reboot_hold_off.h"

#include <gtest/gtest.h>

namespace orbisan {
namespace {

TEST(RebootHoldOff, OneRebootPerDeviceWithinTheHoldOff) {
  EXPECT_TRUE(CRebootHoldOff::TryTake("10.9.9.1:80", 600));
  EXPECT_FALSE(CRebootHoldOff::TryTake("10.9.9.1:80", 600));
  const uint32_t left = CRebootHoldOff::SecondsLeft("10.9.9.1:80", 600);
  EXPECT_GT(left, 590u);
  EXPECT_LE(left, 600u);
  // Another device, or one whose hold-off has run out, may be rebooted.
  EXPECT_TRUE(CRebootHoldOff::TryTake("10.9.9.2:80", 600));
  EXPECT_EQ(CRebootHoldOff::SecondsLeft("10.9.9.3:80", 600), 0u);
  EXPECT_TRUE(CRebootHoldOff::TryTake("10.9.9.1:80", 0));
}

}  // namespace
}  // namespace orbisan
