// Digital I/O against a scripted camera on loopback: the output masks and
// paths it sends, the input changes it reports, and how it fails.
#include "io/acti_digital_io.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camera/scripted_http_server.h"
#include "support/test_driver.h"
#include "support/test_io_callback.h"
#include "support/wait_until.h"

using namespace orbisan;
using orbisan::test::HttpReply;
using orbisan::test::ScriptedHttpServer;
using orbisan::test::WaitUntil;
using namespace std::chrono_literals;

namespace {

// A camera whose input register answers per channel; output commands and
// status queries are recorded by the server.
class IoRig {
 public:
  IoRig(uint32_t channels, uint32_t inputs, uint32_t outputs)
      : server({}, [this](const std::string& uri) { return Answer(uri); }) {
    driver.info.port = server.Port();
    driver.info.user = "admin";
    driver.info.password = "pw";
    driver.info.connectTimeoutMs = 2000;
    driver.channelCount = channels;
    driver.inputCount = inputs;
    driver.outputCount = outputs;
  }
  void Start() {
    io = std::make_unique<CActiDigitalIO>(&driver);
    io->SetPollIntervalMs(200);
    io->SetCallback(&callback);
    ASSERT_TRUE(io->StartIO());
  }
  HttpReply Answer(const std::string& uri) {
    if (slowPolls && uri.find("DIO_STATUS") != std::string::npos) std::this_thread::sleep_for(300ms);
    std::lock_guard<std::mutex> lock(mutex);
    if (failing) return {500, "busy\r\n"};
    if (uri.find("DIO_OUTPUT") != std::string::npos) return {200, refuseOutputs ? "ERROR: DIO_OUTPUT\r\n" : "OK\r\n"};
    int channel = 1;
    const size_t at = uri.find("CHANNEL=");
    if (at != std::string::npos) channel = std::stoi(uri.substr(at + 8));
    const auto it = status.find(channel);
    return {200, "DIO_STATUS='" + (it == status.end() ? std::string("0x00") : it->second) + "'\r\n"};
  }
  std::vector<std::string> Uris(const std::string& needle) {
    std::vector<std::string> out = server.AcceptedUris();
    std::erase_if(out, [&](const std::string& uri) { return uri.find(needle) == std::string::npos; });
    return out;
  }
  void SetStatus(int channel, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex);
    status[channel] = value;
  }

  std::mutex mutex;
  std::map<int, std::string> status;
  std::atomic<bool> failing{false};
  std::atomic<bool> refuseOutputs{false};
  std::atomic<bool> slowPolls{false};
  ScriptedHttpServer server;
  test::TestDriver driver;
  test::TestIOCallback callback;
  std::unique_ptr<CActiDigitalIO> io;
};

using Changes = std::vector<test::TestIOCallback::Change>;

TEST(ActiDigitalIO, OutputsSendTheWholeRegisterOncePerChange) {
  struct Case {
    const char* group;  // host parameter 5
    uint32_t channels;
    uint32_t outputs;
    std::vector<std::pair<uint32_t, uint32_t>> sets;
    std::vector<std::string> commands;  // after the start-up writes
  };
  const Case cases[] = {
      // Another camera group speaks to the mpeg4 CGI.
      {"1", 1, 1, {{0, 1}}, {"/cgi-bin/mpeg4?USER=admin&PWD=pw&DIO_OUTPUT=0x01"}},
      // A video server writes the register of the output's channel only; a
      // repeated state and an index beyond the count send nothing.
      {"2",
       4,
       8,
       {{5, 1}, {4, 1}, {4, 1}, {8, 1}},
       {"/cgi-bin/encoder?USER=admin&PWD=pw&CHANNEL=3&DIO_OUTPUT=0x02",
        "/cgi-bin/encoder?USER=admin&PWD=pw&CHANNEL=3&DIO_OUTPUT=0x03"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commands.front());
    IoRig rig(c.channels, 0, c.outputs);
    if (c.group != nullptr) rig.driver.parameters[5] = c.group;
    rig.Start();
    // The start writes every output once, released.
    ASSERT_TRUE(WaitUntil([&] { return rig.Uris("DIO_OUTPUT").size() == c.outputs; }));
    for (const std::string& uri : rig.Uris("DIO_OUTPUT")) EXPECT_NE(uri.find("DIO_OUTPUT=0x00"), std::string::npos);
    rig.server.ClearRequests();
    for (const auto& [index, state] : c.sets) {
      EXPECT_EQ(rig.io->SetOutputState(index, state), index < c.outputs);
    }
    ASSERT_TRUE(WaitUntil([&] { return rig.Uris("DIO_OUTPUT").size() >= c.commands.size(); }));
    rig.io->StopIO();
    EXPECT_EQ(rig.Uris("DIO_OUTPUT"), c.commands);
  }
}

TEST(ActiDigitalIO, InputsOfAVideoServerAreMappedPerChannel) {
  // Four channels, eight inputs: bit 1 of channel 3 is input 5.
  IoRig rig(4, 8, 0);
  rig.SetStatus(3, "0x02");
  rig.Start();
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.Changes().size() == 8; }));
  const std::vector<std::string> polls = rig.Uris("DIO_STATUS");
  ASSERT_GE(polls.size(), 4u);
  for (int channel = 1; channel <= 4; ++channel) {
    EXPECT_EQ(polls[static_cast<size_t>(channel - 1)],
              "/cgi-bin/encoder?USER=admin&PWD=pw&CHANNEL=" + std::to_string(channel) + "&DIO_STATUS");
  }
  for (const auto& [index, state] : rig.callback.Changes()) EXPECT_EQ(state, index == 5 ? 1u : 2u) << index;
}

TEST(ActiDigitalIO, FailedPollsReportAllAgainAndLogOncePerRun) {
  IoRig rig(1, 2, 0);
  rig.SetStatus(1, "0x01");
  rig.Start();
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.Changes().size() == 2; }));
  rig.failing = true;
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.failures.load() >= 3; }));
  rig.failing = false;
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.Changes().size() == 4; }));
  EXPECT_EQ(rig.callback.Changes(), (Changes{{0, 1}, {1, 2}, {0, 1}, {1, 2}}));
  EXPECT_EQ(rig.driver.LinesWith("GetInputStates() method failed! Device 127.0.0.1:").size(), 1u);
  EXPECT_EQ(rig.Uris("DIO_STATUS").front(), "/cgi-bin/encoder?USER=admin&PWD=pw&DIO_STATUS");
  // An answer whose value is not a register leaves the inputs as they were.
  rig.SetStatus(1, "busy");
  const size_t polls = rig.Uris("DIO_STATUS").size();
  ASSERT_TRUE(WaitUntil([&] { return rig.Uris("DIO_STATUS").size() >= polls + 2; }));
  EXPECT_EQ(rig.callback.Changes().size(), 4u);
}

TEST(ActiDigitalIO, RefusedOutputWriteIsAFailure) {
  IoRig rig(1, 0, 1);
  rig.refuseOutputs = true;
  rig.Start();
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.failures.load() == 1; }));
  EXPECT_TRUE(rig.io->SetOutputState(0, 1));
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.failures.load() == 2; }));
  const auto lines = rig.driver.LinesWith("Unable to change output state for device 127.0.0.1:");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, kLogError);
}

TEST(ActiDigitalIO, StartWhilePollsAreUnderWayBeginsAnew) {
  IoRig rig(1, 2, 1);
  rig.slowPolls = true;
  rig.Start();
  for (int i = 0; i < 3; ++i) {
    const size_t polls = rig.Uris("DIO_STATUS").size();
    ASSERT_TRUE(WaitUntil([&] { return rig.Uris("DIO_STATUS").size() > polls; }));
    EXPECT_TRUE(rig.io->StartIO()) << i;  // the poll is in the sender a new start replaces
  }
  // The last start reports both inputs again.
  const size_t changes = rig.callback.Changes().size();
  ASSERT_TRUE(WaitUntil([&] { return rig.callback.Changes().size() >= changes + 2; }));
  EXPECT_TRUE(rig.io->StopIO());
  EXPECT_TRUE(rig.driver.LinesWith("failed!").empty());
}

}  // namespace
