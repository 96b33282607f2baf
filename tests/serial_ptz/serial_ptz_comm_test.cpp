// The serial-port PTZ object: its Pelco-D messages, read back with the
// simulated camera's decoder, and what it reports when a send fails.
#include <gtest/gtest.h>

#include "ptz/acti_ptz_comm.h"
#include "ptz/recording_ptz_comm.h"
#include "sim/pelco_d_decoder.h"
#include "support/silent_listener.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"

namespace orbisan::test {
namespace {

using Texts = std::vector<std::string>;

// Records what it would send and every result; read them once WaitIdle
// returned (the worker is then done with them).
class SerialComm : public CActiPTZComm {
 public:
  using CActiPTZComm::CActiPTZComm;
  ~SerialComm() override { Close(); }
  std::pair<uint32_t, uint32_t> ConvertMoveSpeed(uint32_t direction, uint32_t speed) override {
    return zeroSpeeds ? std::make_pair(0u, 0u) : CActiPTZComm::ConvertMoveSpeed(direction, speed);
  }
  bool zeroSpeeds = false;
  bool record = true;  // false: the real request goes out
  Texts paths;
  std::vector<CResultDef> results;

 protected:
  Delivery Transmit(const std::string& path) override {
    if (!record) return CActiPTZComm::Transmit(path);
    paths.push_back(path);
    return Delivery::kSent;
  }
  void ReportResult(const CResultDef& result) override {
    results.push_back(result);
    CActiPTZComm::ReportResult(result);
  }
};

// A decoded message in short: "L63 U0" style motions, or "x<command>:<argument>".
std::string Describe(const std::string& path) {
  const size_t at = path.find("SERIAL_HEX=");
  std::string error;
  auto m = strandline::sim::DecodePelcoD(at == std::string::npos ? "" : path.substr(at + 11), &error);
  if (!m) return "refused: " + error;
  if (m->address != 1) return "address " + std::to_string(m->address);
  if (m->extended != strandline::sim::PelcoDMessage::Extended::kNone) {
    return "x" + std::to_string(m->bytes[3]) + ":" + std::to_string(m->argument);
  }
  std::string text;
  auto axis = [&](int value, const char* minus, const char* plus, int speed) {
    if (value != 0) text += std::string(text.empty() ? "" : " ") + (value < 0 ? minus : plus) + std::to_string(speed);
  };
  axis(m->pan, "L", "R", m->pan_speed);
  axis(m->tilt, "D", "U", m->tilt_speed);
  axis(m->zoom, "W", "T", 0);
  axis(m->focus, "N", "F", 0);
  axis(m->iris, "C", "O", 0);
  return text.empty() ? "stop" : text;
}

class SerialPTZCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_.info.model = "ACD2400";
    driver_.info.user = "admin";
    driver_.info.password = "secret";
    driver_.hostDirectory = dir_.Path();
  }
  SerialComm& Open(uint16_t channel = 0) {
    comm_ = std::make_unique<SerialComm>(&driver_, channel);
    EXPECT_TRUE(comm_->Open());
    return *comm_;
  }
  // Messages sent so far; callers post at most the queue limit (6) between calls.
  Texts Sent() {
    EXPECT_TRUE(comm_->WaitIdle(10000));
    Texts out;
    for (const std::string& path : comm_->paths) out.push_back(Describe(path));
    return out;
  }

  TestDriver driver_;
  ScratchDir dir_{"serial_ptz"};
  FlagParams params_;
  std::unique_ptr<SerialComm> comm_;
};

TEST_F(SerialPTZCommTest, EveryCommandSetsItsBitsAndSpeedsModeMessagesGoOnceAndPresetsFollowTheModel) {
  SerialComm& comm = Open();
  for (uint32_t direction = 0; direction < 8; ++direction) {
    comm.StartMove(&params_, direction, direction < 4 ? 16 : 2);
    if (direction == 3) Sent();
  }
  // Host speeds 16, 2 and 1 are Pelco speeds 63, 7 and 3; zoom and focus 16 are 3.
  EXPECT_EQ(Sent(), (Texts{"L63", "R63", "U63", "D63", "L7 U7", "R7 U7", "L7 D7", "R7 D7"}));
  comm.StartMove(&params_, 8, 16);  // zoom speed 3: set once for both zooms
  comm.StartMove(&params_, 8, 16);
  comm.StartMove(&params_, 9, 16);
  comm.StartFocus(&params_, true, 16);  // focus speed 3: its own message all the same
  comm.StartFocus(&params_, false, 16);
  Sent();
  comm.StartIris(&params_, true, 1);
  comm.StartMove(&params_, 0, 1);  // focus and iris back to automatic: not sent again
  comm.StartIris(&params_, false, 1);
  comm.StopZooming(&params_);
  comm.Unzoom(&params_, 0);
  const Texts sent = Sent();
  EXPECT_EQ(Texts(sent.begin() + 8, sent.end()), (Texts{"x37:3", "T0", "T0", "W0", "x43:0", "x39:3", "N0", "F0",
                                                        "x45:0", "O0", "L3", "C0", "stop", "x7:95"}));
  EXPECT_FALSE(params_.focus);
  EXPECT_TRUE(params_.iris);
  // Both speeds 0: a plain move that leaves the focus and iris modes alone.
  comm.zeroSpeeds = true;
  params_.focus = true;
  comm.StartMove(&params_, 4, 16);
  EXPECT_EQ(Sent().back(), "L0 U0");
  EXPECT_NE(comm.paths.back().find("SERIAL_HEX=FF01000C00000D"), std::string::npos);
  EXPECT_TRUE(params_.focus && params_.iris);

  for (const char* model : {"ACD2400", "vido SD-9"}) {
    driver_.info.model = model;
    const bool vido = std::string(model).find("vido") != std::string::npos;
    SerialComm& comm = Open();
    EXPECT_TRUE(comm.SavePreposition(0, L"Gate"));
    EXPECT_TRUE(comm.GoToPreposition(4, L"Gate", 0));
    EXPECT_TRUE(comm.RemovePreposition(127, L"Gate"));
    EXPECT_NE(comm.paths.at(0).find("SERIAL_HEX=FF010003000105"), std::string::npos);
    EXPECT_EQ(Sent(), (Texts{"x3:1", "x7:5", "x5:128"}));
    EXPECT_EQ(comm.GetPresetCapacity(), vido ? 128u : 32u);
    ipcapture::PTZ_CAPABILITIES caps;
    caps.fields[0] = 77;
    ASSERT_EQ(comm.GetCapabilities(&caps), 1);
    EXPECT_EQ(std::vector<uint32_t>(caps.fields, caps.fields + 14),
              (std::vector<uint32_t>{77, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, vido ? 1u : 0u}));
  }
}

TEST_F(SerialPTZCommTest, FailedSendsAreReportedUnloggedTheWorkerGoesOnAndTheRequestPathSelectsTheCgiAndSerialPort) {
  // A loopback port nobody listens on any more: the camera is away.
  driver_.info.port = SilentListener().Port();
  SerialComm& comm = Open();
  comm.record = false;
  comm.StartMove(&params_, 0, 16);
  comm.StopMoving(&params_);
  comm.AreaZoom(&params_, 1, 2, 3, 4);
  ASSERT_TRUE(comm.WaitIdle(30000));
  const auto results = comm.results;
  ASSERT_EQ(results.size(), 3u);
  const char* hex[] = {"FF0100043F0044", "FF010000000001"};  // left at 63, stop
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(std::pair(results[i].GetCategory(), results[i].GetCode()), std::pair(4u, 11u));
    EXPECT_EQ(results[i].GetMessage(),
              "orbisan::CActiPTZComm::SendPTZCommandViaURL: can not send request "
              "\"/cgi-bin/encoder?USER=admin&PWD=***&SERIAL_HEX=" +
                  std::string(hex[i]) + "\" to camera" + driver_.GetDeviceName());
  }
  const auto lines = driver_.Lines();
  ASSERT_EQ(lines.size(), 1u) << "only the unexpected command is logged";
  EXPECT_EQ(lines[0].text, "orbisan::CActiPTZComm::HandleWorkItem: unexpected command ID=5");
  EXPECT_EQ(lines[0].level, 1u);

  struct Case {
    uint32_t channels;
    uint16_t channel;
    const char* firstPtzChannel;  // configuration entry
    const char* group;            // host parameter 5
    std::string expected;
  } cases[] = {
      {1, 0, "", "", "/cgi-bin/encoder?USER=admin&PWD=secret&SERIAL_HEX=FF010000000001"},
      {4, 2, "", "2", "/cgi-bin/encoder?USER=admin&PWD=secret&CHANNEL=3&SERIAL_HEX=FF010000000001"},
      {4, 2, "5", "1", "/cgi-bin/mpeg4?USER=admin&PWD=secret&CHANNEL=7&SERIAL_HEX=FF010000000001"},
  };
  for (const Case& c : cases) {
    driver_.channelCount = c.channels;
    driver_.parameters[5] = c.group;
    dir_.Write("Strandline.xml", std::string("<Configuration><Default><FirstPTZChannelID>") + c.firstPtzChannel +
                                     "</FirstPTZChannelID></Default></Configuration>");
    SerialComm& recorded = Open(c.channel);
    ASSERT_TRUE(recorded.StopMoving(&params_));
    ASSERT_TRUE(recorded.WaitIdle(10000));
    EXPECT_EQ(recorded.paths, Texts{c.expected});
  }
}

}  // namespace
}  // namespace orbisan::test
