#include "camera/cgi_path.h"

#include <gtest/gtest.h>

namespace orbisan::test {
namespace {

TEST(CgiPath, LoginChannelAndItemsInOrder) {
  DEVICE_INFO device;
  device.user = "admin";
  device.password = "p4ss";
  EXPECT_EQ(CCgiPath(cgi::kSystem, device).Item("SYSTEM_INFO").Text(),
            "/cgi-bin/system?USER=admin&PWD=p4ss&SYSTEM_INFO");
  EXPECT_EQ(CCgiPath(cgi::kEncoder, device).Channel(3).Item("VIDEO_FPS_NUM", 15u).Item("VIDEO_FPS", "MODE1").Text(),
            "/cgi-bin/encoder?USER=admin&PWD=p4ss&CHANNEL=3&VIDEO_FPS_NUM=15&VIDEO_FPS=MODE1");
  // No channel item for 0; joined items with or without their leading "&";
  // nothing for an empty list.
  EXPECT_EQ(CCgiPath("ptz", device).Channel(0).Items("&A=1&B").Items("C=2").Items("").Text(),
            "/cgi-bin/ptz?USER=admin&PWD=p4ss&A=1&B&C=2");
}

}  // namespace
}  // namespace orbisan::test
