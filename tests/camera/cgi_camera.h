#pragma once

// A scripted camera CGI for the identification and configuration tests: a
// table of settings that bare names query ("NAME='value'") and "NAME=value"
// items set ("OK: NAME=VALUE"), fixed texts for SYSTEM_INFO and CONFIG_GET,
// answers for chosen items, and names the camera refuses ("ERROR").

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "camera/scripted_http_server.h"
#include "device/stream_params.h"
#include "support/test_driver.h"

namespace orbisan::test {

class CgiCamera {
 public:
  HttpReply Handle(const std::string& uri);
  ScriptedHttpServer::Handler Handler() {
    return [this](const std::string& uri) { return Handle(uri); };
  }

  // Received requests with the login items taken out:
  // "/cgi-bin/system?USER=a&PWD=b&X" is listed as "system?X".
  std::vector<std::string> Requests();
  void ClearRequests();
  std::string Setting(const std::string& name);

  std::mutex mutex;
  std::map<std::string, std::string> settings;
  std::string systemInfo;                      // answer to SYSTEM_INFO
  std::string configDump;                      // answer to CONFIG_GET
  std::map<std::string, std::string> answers;  // whole item -> answer line(s)
  std::set<std::string> refused;               // names answered with "ERROR"
  std::set<std::string> resolutions;           // accepted VIDEO_RESOLUTION codes (empty: all)

 private:
  std::vector<std::string> requests_;
};

// What a channel asks of the camera: picture size, frame interval, bit rate, stream kind.
inline STREAM_PARAMS Request(uint32_t width, uint32_t height, uint32_t interval = 0, uint32_t bitrate = 0,
                             uint32_t kind = 0) {
  STREAM_PARAMS params;
  params.width = width;
  params.height = height;
  params.frameRate = interval;
  params.bitrate = bitrate;
  params.streamKind = kind;
  return params;
}

// The scripted camera behind a Basic-auth server, and a driver logged in to it.
class CgiCameraTest : public ::testing::Test {
 protected:
  CgiCameraTest() : server_({ScriptedHttpServer::Auth::kBasic}, camera_.Handler()) {
    driver_.info.port = server_.Port();
    driver_.info.user = "admin";
    driver_.info.password = "secret";
    driver_.info.connectTimeoutMs = 3000;
  }
  void SetUp() override { ASSERT_TRUE(server_.Running()); }

  CgiCamera camera_;
  ScriptedHttpServer server_;
  TestDriver driver_;
};

}  // namespace orbisan::test
