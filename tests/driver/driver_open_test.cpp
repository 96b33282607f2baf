#include <dlfcn.h>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "driver/acti_ip_capture_driver.h"
#include "strandline/exports.h"
#include "support/test_capture_setup.h"

using namespace orbisan;
using namespace orbisan::ipcapture;

// The host core module's version as this test process reports it to the
// driver through the dynamic loader.
static bool g_versionSet = false;
static uint16_t g_version[4];
extern "C" __attribute__((visibility("default"))) int basalt_product_version(uint16_t out[4]) {
  if (!g_versionSet) return 0;
  for (int i = 0; i < 4; ++i) out[i] = g_version[i];
  return 1;
}

namespace {

// A device at 10.1.2.3:8080 with two inputs and one output.
struct HostSetup : test::TestCaptureSetup {
  HostSetup() {
    address = "10.1.2.3";
    port = 8080;
    password = "secret";
    model = "ACM-8221";
    inputs = 2;
    outputs = 1;
  }
};

void SetHostVersion(std::initializer_list<uint16_t> v) {
  std::copy(v.begin(), v.end(), g_version);
  g_versionSet = true;
}

}  // namespace

TEST(DriverLevels, AdaptationByHostVersion) {
  struct Case {
    HostVersion version;
    uint32_t in;
    uint32_t out;
  } cases[] = {
      {{5, 11, 9, 9}, 100, 2},  {{5, 11, 0, 0}, 3, 2}, {{5, 11, 0, 0}, 1, 1},       {{4, 99, 0, 0}, 100, 2},
      {{5, 12, 0, 0}, 100, 3},  {{5, 12, 0, 0}, 3, 3}, {{6, 2, 0, 0}, 100, 3},      {{6, 3, 0, 0}, 100, 100},
      {{7, 0, 0, 0}, 100, 100}, {{5, 11, 0, 0}, 4, 0}, {{6, 3, 0, 0}, 0x1FF, 0xFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CIPCaptureDriver::AdaptLevel(c.in, c.version), c.out)
        << "level " << c.in << " host " << c.version[0] << "." << c.version[1];
  }
}

TEST(DriverParameters, IntegerParsingAndNoneText) {
  int32_t v = 0;
  const std::pair<const char*, int32_t> good[] = {{"12", 12}, {"-3", -3}, {"+4", 4}, {"99999999999", INT32_MAX}};
  for (const auto& [text, value] : good) {
    EXPECT_TRUE(CIPCaptureDriver::ParseIntParameter(text, v)) << text;
    EXPECT_EQ(v, value) << text;  // an overflow saturates
  }
  for (const char* bad : {"", "-", "+", "1a", " 1", "1 ", " 7", "7 ", "(none)", "0x10", "1.5"}) {
    EXPECT_FALSE(CIPCaptureDriver::ParseIntParameter(bad, v)) << '"' << bad << '"';
  }

  HostSetup setup;
  setup.params = {{1, "1"}, {2, "(none)"}, {3, " 7"}, {4, "-12"}, {5, "2"}};
  CActiIPCaptureDriver driver;
  ASSERT_TRUE(driver.Open(nullptr, nullptr, &setup));
  EXPECT_EQ(driver.GetStringParameter(2), "");
  EXPECT_EQ(driver.GetIntParameter(2), kNoIntParameter);
  EXPECT_EQ(driver.GetIntParameter(3), kNoIntParameter);
  EXPECT_EQ(driver.GetStringParameter(3), " 7");
  EXPECT_EQ(driver.GetIntParameter(4), -12);
  EXPECT_EQ(driver.GetIntParameter(9), kNoIntParameter);
  EXPECT_EQ(driver.GetVideoStandard(0, 0), 1);
  // Parameters are read once, at open, from 1 up to the first missing one.
  EXPECT_EQ(setup.parameterCalls[6], 1);
  EXPECT_EQ(setup.parameterCalls.count(7), 0u);
  driver.GetStringParameter(5);
  EXPECT_EQ(setup.parameterCalls[5], 1);
}

TEST(DriverOpen, DeviceRecordTimeoutsAndCloseTwice) {
  HostSetup setup;  // GetParameter(1) is null: no parameters at all
  test::TestLog log;
  CActiIPCaptureDriver driver;
  ASSERT_TRUE(driver.Open(&log, nullptr, &setup));
  EXPECT_EQ(setup.parameterCalls[1], 1);
  EXPECT_EQ(setup.parameterCalls.count(2), 0u);
  EXPECT_EQ(driver.GetIntParameter(5), kNoIntParameter);
  DEVICE_INFO* info = driver.GetDeviceInfo();
  EXPECT_EQ(info->connectTimeoutMs, 5000u);
  EXPECT_EQ(info->signalTimeoutMs, 15000u);
  EXPECT_EQ(info->address, "10.1.2.3");
  EXPECT_EQ(info->port, 8080);
  EXPECT_EQ(info->GetLoginQuery(), "USER=admin&PWD=secret");
  EXPECT_EQ(driver.GetDeviceName(), "10.1.2.3:8080");
  EXPECT_EQ(driver.GetIOCounts(), (std::pair<uint32_t, uint32_t>(2, 1)));
  EXPECT_EQ(driver.GetDefaultCodec(), 3u);
  ASSERT_NE(driver.GetVideoCapture(), nullptr);
  EXPECT_EQ(driver.GetVideoCapture(), driver.GetVideoCaptureEx());
  EXPECT_EQ(driver.GetVideoCaptureEx2()->GetChannelCount(), 1u);
  EXPECT_EQ(driver.QueryReserved5(), nullptr);
  EXPECT_EQ(driver.QueryReserved7(), nullptr);
  driver.Close();
  driver.Close();
  EXPECT_EQ(driver.GetVideoCapture(), nullptr);
  EXPECT_EQ(driver.GetDeviceInfo()->address, "10.1.2.3") << "the device record outlives Close";

  // Camera group 0 means the longer time-outs.
  HostSetup group0;
  group0.params = {{1, "0"}, {2, ""}, {3, ""}, {4, ""}, {5, "0"}};
  CActiIPCaptureDriver slow;
  ASSERT_TRUE(slow.Open(nullptr, nullptr, &group0));
  EXPECT_EQ(slow.GetDeviceInfo()->connectTimeoutMs, 10000u);
  EXPECT_EQ(slow.GetDeviceInfo()->signalTimeoutMs, 30000u);
}

TEST(DriverOpen, AudioObjectsAsTheCapabilitiesAskForThem) {
  HostSetup setup;
  setup.params = {{101, "Count=1; IsStereo=0"}};
  CActiIPCaptureDriver driver;
  EXPECT_TRUE(driver.Open(nullptr, nullptr, &setup));
  EXPECT_NE(driver.GetAudioCapture(), nullptr);
  driver.Close();
  EXPECT_EQ(driver.GetAudioCapture(), nullptr);
  setup.params = {{101, "Count=0; IsStereo=0"}, {102, "Count=1; IsStereo=0"}};
  CActiIPCaptureDriver outputOnly;
  EXPECT_TRUE(outputOnly.Open(nullptr, nullptr, &setup));
  EXPECT_EQ(outputOnly.GetAudioCapture(), nullptr);
  EXPECT_NE(outputOnly.GetAudioSender(), nullptr);
  outputOnly.Close();
  EXPECT_EQ(outputOnly.GetAudioSender(), nullptr);
  setup.params = {{102, "garbage"}};
  CActiIPCaptureDriver other;
  EXPECT_FALSE(other.Open(nullptr, nullptr, &setup)) << "a present audio text without an object fails open";
}

TEST(DriverOpen, OpenedLineThroughTheExportsAndTheHostVersion) {
  void* module = dlopen(STRANDLINE_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  // Every generation of the factory pair is exported, and any deleter takes any object.
  const std::string generations[] = {"", "Ex", "Ex2", "Ex3", "Ex4", "Ex5"};
  struct Case {
    std::initializer_list<uint16_t> version;
    bool set;
    int level;
    const char* model;  // empty: no opened line
  } cases[] = {{{0, 0, 0, 0}, false, 3, "ACM-8221"},
               {{6, 3, 0, 0}, true, 100, "ACM-8221"},
               {{5, 11, 2, 1}, true, 2, "ACM-8221"},
               {{6, 3, 0, 0}, true, 100, ""}};
  for (int i = 0; i < 6; ++i) {
    const Case& c = cases[i % 4];
    SetHostVersion(c.version);
    g_versionSet = c.set;
    auto create = reinterpret_cast<StrandlineCreateFn>(dlsym(module, ("CreateIPCapture" + generations[i]).c_str()));
    auto destroy =
        reinterpret_cast<StrandlineDeleteFn>(dlsym(module, ("DeleteIPCapture" + generations[(i + 1) % 6]).c_str()));
    ASSERT_NE(create, nullptr) << generations[i];
    ASSERT_NE(destroy, nullptr) << generations[i];
    HostSetup setup;
    setup.model = c.model;
    setup.params = {{1, "0"}, {2, "(none)"}, {3, ""}, {4, ""}, {5, "1"}, {6, ""}, {7, ""}, {8, "A1D-500-V6.12.02-AC"}};
    test::TestLog log;
    IIPCaptureDriverEx5* driver = create();
    ASSERT_NE(driver, nullptr);
    ASSERT_TRUE(driver->Open(&log, nullptr, &setup));
    if (*c.model == '\0') {
      EXPECT_TRUE(log.Lines().empty());
    } else {
      ASSERT_EQ(log.Lines().size(), 1u);
      EXPECT_EQ(log.Levels()[0], c.level);
      EXPECT_EQ(log.Lines()[0],
                "DRIVER IS OPENED (name: Strandline, device model: ACM-8221, FW: A1D-500-V6.12.02-AC, address: "
                "10.1.2.3:8080)");
    }
    destroy(driver);
    destroy(nullptr);
  }
  g_versionSet = false;
  dlclose(module);
}
