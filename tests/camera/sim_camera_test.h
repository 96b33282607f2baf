#pragma once

// The simulated camera in this process with a test driver logged in to it,
// for the identification and configuration tests. Odd firmware answers come
// from SimulatedCamera::SetCgiAnswer.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/stream_params.h"
#include "runtime/text_utils.h"
#include "sim/camera_model.h"
#include "sim/simulated_camera.h"
#include "support/test_driver.h"

namespace orbisan::test {

// What a channel asks of the camera: picture size, frame interval, bit rate, stream kind.
inline STREAM_PARAMS Request(uint32_t width, uint32_t height, uint32_t interval = 0, uint32_t bitrate = 0,
                             uint32_t kind = 0) {
  return {.frameRate = interval, .bitrate = bitrate, .width = width, .height = height, .streamKind = kind};
}

class SimCameraTest : public ::testing::Test {
 protected:
  strandline::sim::SimulatedCamera& Start(const std::string& model = "TCM5311") {
    strandline::sim::SimulatedCamera::Options options;
    options.model = model;
    camera_ = std::make_unique<strandline::sim::SimulatedCamera>(options);
    std::string error;
    EXPECT_TRUE(camera_->Start(&error)) << error;
    driver_.info.port = camera_->HttpPort();
    driver_.info.user = options.user;
    driver_.info.password = options.password;
    driver_.info.connectTimeoutMs = 3000;
    return *camera_;
  }
  void Answer(const std::string& item, const std::string& text) { camera_->SetCgiAnswer(item, text); }
  // The requests received, as "system?X&Y" without the login, that start with prefix.
  std::vector<std::string> Requests(const std::string& prefix = "") const {
    std::vector<std::string> out;
    for (const strandline::sim::CgiRequest& request : camera_->CgiRequests()) {
      std::string shown = request.path.substr(request.path.rfind('/') + 1) + "?";
      for (const std::string& item : Split(request.query, "&", false)) {
        if (item.rfind("USER=", 0) == 0 || item.rfind("PWD=", 0) == 0) continue;
        shown += (shown.back() == '?' ? "" : "&") + item;
      }
      if (shown.rfind(prefix, 0) == 0) out.push_back(shown);
    }
    return out;
  }

  std::unique_ptr<strandline::sim::SimulatedCamera> camera_;
  TestDriver driver_;
};

}  // namespace orbisan::test
