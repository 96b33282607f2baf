// Identification and stream set-up against the simulated camera: what the
// identification writes as device properties is handed back to the stream
// configuration as the host would, and the camera must end up streaming what
// was asked for.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "camera/acti_camera_properties.h"
#include "camera/http_sender.h"
#include "camera/stream_configurator.h"
#include "sim/simulated_camera.h"
#include "support/capability_store_recorder.h"
#include "support/test_driver.h"

namespace orbisan::test {
namespace {

using strandline::sim::SimulatedCamera;
using strandline::sim::VideoCodec;

class CameraStreamSetupTest : public ::testing::Test {
 protected:
  void Start(const std::string& model) {
    SimulatedCamera::Options options;
    options.model = model;
    options.reboot_duration = std::chrono::milliseconds(500);
    camera_ = std::make_unique<SimulatedCamera>(options);
    std::string error;
    ASSERT_TRUE(camera_->Start(&error)) << error;
    driver_.info.port = camera_->HttpPort();
    driver_.info.user = options.user;
    driver_.info.password = options.password;
    driver_.info.model = model;
  }

  // Identification, and its properties given back as the host's parameters.
  void Identify() {
    CActiCameraProperties properties(driver_.info, 1);
    uint32_t status = 0;
    ASSERT_TRUE(properties.Query(status));
    CapabilityStoreRecorder store;
    properties.GetProperties(store);
    ASSERT_EQ(store.items.size(), 16u);
    for (auto& [id, item] : store.items) driver_.parameters[id] = item->value;
    driver_.streamKindSettings = ParseStreamKindSettings(driver_.GetStringParameter(15));
    driver_.videoStandard = driver_.GetIntParameter(1);
    driver_.channelCount = properties.Channels();
  }

  // Runs the set-up as a channel does: again after a refusal, once the camera is up.
  bool Configure(const STREAM_PARAMS& params, CStreamConfigurator::Codec codec) {
    Web::CHttpSender http(driver_.info);
    CStreamConfigurator configurator(&driver_, http, 0, params, nullptr);
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (configurator.ConfigureStream(codec)) return true;
      camera_->WaitUntilUp(std::chrono::seconds(10));
    }
    return false;
  }

  std::vector<std::string> Queries() {
    std::vector<std::string> out;
    for (const auto& request : camera_->CgiRequests()) out.push_back(request.path + "?" + request.query);
    return out;
  }

  TestDriver driver_;
  std::unique_ptr<SimulatedCamera> camera_;
};

STREAM_PARAMS Params(uint32_t width, uint32_t height, uint32_t interval, uint32_t bitrate, uint32_t kind) {
  STREAM_PARAMS params;
  params.width = width;
  params.height = height;
  params.frameRate = interval;
  params.bitrate = bitrate;
  params.streamKind = kind;
  return params;
}

// Items that change something, login aside.
std::vector<std::string> Changes(const std::vector<std::string>& requests) {
  std::vector<std::string> changes;
  for (const std::string& request : requests) {
    const std::string query = request.substr(request.find('?') + 1);
    size_t start = 0;
    while (start < query.size()) {
      size_t end = query.find('&', start);
      if (end == std::string::npos) end = query.size();
      const std::string item = query.substr(start, end - start);
      if (item.find('=') != std::string::npos && item.rfind("USER=", 0) != 0 && item.rfind("PWD=", 0) != 0) {
        changes.push_back(item);
      }
      start = end + 1;
    }
  }
  return changes;
}

TEST_F(CameraStreamSetupTest, RecordingStreamIsSetUpOnceAndThenLeftAlone) {
  Start("TCM5311");
  Identify();
  EXPECT_EQ(driver_.GetIntParameter(5), 2);
  camera_->ClearCgiRequests();

  ASSERT_TRUE(Configure(Params(1280, 720, 67, 50, kStreamRecording), kCodecH264));
  const auto stream = camera_->CurrentStream(1);
  EXPECT_EQ(stream.codec, VideoCodec::kH264);
  EXPECT_EQ(stream.width, 1280);
  EXPECT_EQ(stream.height, 720);
  EXPECT_EQ(stream.fps, 15);
  EXPECT_EQ(camera_->GetSetting("VIDEO_MAX_BITRATE").value_or(""), "2M");

  // Already as requested: the second set-up only asks.
  camera_->ClearCgiRequests();
  ASSERT_TRUE(Configure(Params(1280, 720, 67, 50, kStreamRecording), kCodecH264));
  EXPECT_THAT(Changes(Queries()), ::testing::IsEmpty()) << ::testing::PrintToString(Queries());
  EXPECT_EQ(camera_->RebootCount(), 0);
}

TEST_F(CameraStreamSetupTest, DualStreamCameraLiveChannelUsesTheSecondStream) {
  Start("KCM5311");
  Identify();
  EXPECT_EQ(driver_.GetIntParameter(13), 1);
  camera_->ClearCgiRequests();

  ASSERT_TRUE(Configure(Params(640, 480, 100, 50, kStreamLive), kCodecH264));
  const auto stream = camera_->CurrentStream(2);
  EXPECT_EQ(stream.width, 640);
  EXPECT_EQ(stream.height, 480);
  EXPECT_EQ(stream.fps, 10);
  for (const std::string& request : Queries()) {
    if (request.find("VIDEO_ENCODER") != std::string::npos || request.find("VIDEO_FPS") != std::string::npos) {
      EXPECT_NE(request.find("&CHANNEL=2"), std::string::npos) << request;
    }
    if (request.rfind("/cgi-bin/system", 0) == 0) {
      EXPECT_EQ(request.find("CHANNEL"), std::string::npos) << request;
    }
  }
}

}  // namespace
}  // namespace orbisan::test
