// PTZ: the URL-command object (speeds, the bounded queue, what reaches the
// camera and in which order), the host's interfaces (controls, preset file,
// argument checks, stop rules, name buffers) and named presets (slots, the
// current preset, the camera's preset file).
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "ptz/acti_ptz_control.h"
#include "ptz/acti_ptz_handler.h"
#include "ptz/preposition_list.h"
#include "ptz/recording_ptz_comm.h"
#include "runtime/text_utils.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"
#include "xml/xml_settings_api.h"

namespace orbisan::test {
namespace {

using Commands = std::vector<std::string>;

class PTZCommTest : public ::testing::Test {
 protected:
  void SetUp() override { driver_.info.model = "ACM8201"; }
  RecordingPTZComm& Open() {
    comm_ = std::make_unique<RecordingPTZComm>(&driver_, 0);
    EXPECT_TRUE(comm_->Open());
    return *comm_;
  }
  Commands Sent() {
    EXPECT_TRUE(comm_->WaitIdle(10000));
    return comm_->Commands();
  }

  TestDriver driver_;
  FlagParams params_;
  std::unique_ptr<RecordingPTZComm> comm_;
};

// Conversions from many threads do not mix ranges; a leading stop goes only
// when the speed changes after a move; posting after the close fails and logs.
TEST_F(PTZCommTest, ConversionsLeadingStopsPostingAfterCloseAndFocusModeCommandsOnlyAfterCapabilities) {
  RecordingPTZComm& comm = Open();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (uint32_t direction : {0u, 8u, 3u, 9u}) {
    threads.emplace_back([&, direction] {
      const uint32_t expected = direction >= 8 ? 7 : 5;
      for (int i = 0; i < 20000; ++i) {
        if (comm.ConvertMoveSpeed(direction, 16).first != expected) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);

  comm.StartMove(&params_, 1, 16);
  comm.StartMove(&params_, 1, 8);
  comm.StartMove(&params_, 4, 8);
  Sent();  // a burst beyond the queue limit would drop the oldest
  comm.StopZooming(&params_);
  comm.StartMove(&params_, 8, 0);
  comm.StopFocusing(&params_);
  comm.StartMove(&params_, 3, 16);
  comm.StopMoving(&params_);
  comm.StartMove(&params_, 2, 0);
  EXPECT_EQ(Sent(), (Commands{"MOVE=RIGHT,5", "MOVE=STOP", "MOVE=RIGHT,3", "MOVE=UPLEFT,3,3", "ZOOM=STOP",
                              "ZOOM=TELE,2", "FOCUS=STOP", "MOVE=DOWN,5", "MOVE=STOP", "MOVE=UP,1"}));

  comm.Close();
  EXPECT_EQ(comm.StartMove(&params_, 0, 1), -18);
  EXPECT_FALSE(comm.StopMoving(&params_));
  EXPECT_EQ(driver_.LinesWith("cannot send message (1) to thread").size(), 1u);
  EXPECT_EQ(driver_.LinesWith("cannot send message (4) to thread").size(), 1u);

  struct Case {
    const char* model;
    uint32_t focus, focusMode, extra;  // capability fields 3, 4 and 13
    Commands afterCapabilities;
  } cases[] = {
      {"KCM5311", 1, 1, 1, {"FOCUS=MANUAL", "FOCUS=NEAR", "FOCUS=ZOOM_AF", "ZOOM=WIDE,7", "ZOOM=DIRECT,0"}},
      {"ACM8201", 0, 1, 1, {"FOCUS=MANUAL", "FOCUS=FAR", "FOCUS=AUTO", "ZOOM=WIDE,7", "ZOOM=DIRECT,0"}},
      {"KCM7911", 1, 0, 0, {"FOCUS=FAR", "ZOOM=WIDE,7", "ZOOM=DIRECT,0"}},
  };
  for (const Case& c : cases) {
    driver_.info.model = c.model;
    params_ = FlagParams();
    RecordingPTZComm& comm = Open();
    comm.StartFocus(&params_, true, 4);
    comm.StartMove(&params_, 0, 0);
    comm.StartIris(&params_, true, 4);
    EXPECT_EQ(Sent(), (Commands{"FOCUS=NEAR", "MOVE=LEFT,1"})) << c.model << ": no mode switch before capabilities";
    ipcapture::PTZ_CAPABILITIES caps;
    caps.fields[0] = 77;
    ASSERT_EQ(comm.GetCapabilities(&caps), 1);
    EXPECT_EQ(comm.GetPresetCapacity(), 32u);
    EXPECT_EQ(std::vector<uint32_t>(caps.fields, caps.fields + 14),
              (std::vector<uint32_t>{77, 1, 1, c.focus, c.focusMode, 0, 0, 0, 0, 0, 0, 0, 0, c.extra}))
        << c.model;
    comm.StopMoving(&params_);
    const size_t before = Sent().size();
    comm.StartFocus(&params_, std::string(c.model) == "KCM5311", 4);
    comm.StartMove(&params_, 9, 16);
    comm.Unzoom(&params_, 0);
    Commands sent = Sent();
    EXPECT_EQ(Commands(sent.begin() + static_cast<long>(before), sent.end()), c.afterCapabilities) << c.model;
  }
}

TEST_F(PTZCommTest, BurstKeepsTheNewestCommandsUpToTheQueueLimitAndAPresetRequestWaitsWhileTheWorkerSends) {
  struct Case {
    const char* queueMode;  // host parameter 13
    Commands expected;
  } cases[] = {
      {"1",
       {"MOVE=LEFT,5", "MOVE=UP,5", "MOVE=DOWN,5", "MOVE=UPLEFT,5,5", "MOVE=UPRIGHT,5,5", "MOVE=DOWNLEFT,5,5",
        "MOVE=DOWNRIGHT,5,5"}},
      {"2", {"MOVE=LEFT,5", "MOVE=DOWNRIGHT,5,5"}},
  };
  for (const Case& c : cases) {
    driver_.parameters[13] = c.queueMode;
    RecordingPTZComm& comm = Open();
    ipcapture::PTZ_CAPABILITIES caps;
    ASSERT_EQ(comm.GetCapabilities(&caps), 1);
    comm.Hold();
    ASSERT_EQ(comm.StartMove(&params_, 0, 16), 1);
    ASSERT_TRUE(comm.WaitHeld());
    for (uint32_t direction = 1; direction <= 7; ++direction) EXPECT_EQ(comm.StartMove(&params_, direction, 16), 1);
    comm.Release();
    EXPECT_EQ(Sent(), c.expected) << "queue mode " << c.queueMode;
  }
  RecordingPTZComm& comm = Open();
  comm.SetPresetWait(0);
  comm.Hold();
  comm.StartMove(&params_, 0, 16);
  ASSERT_TRUE(comm.WaitHeld());
  std::thread preset([&] { comm.SavePreposition(0, L"Gate"); });
  EXPECT_FALSE(comm.WaitEntered(2, std::chrono::milliseconds(300))) << "two requests on one connection at once";
  comm.Release();
  preset.join();
  EXPECT_EQ(Sent().size(), 2u);
}

// A control whose camera is a recording command object.
class RecordingControl : public CBasePTZControl {
 public:
  using CBasePTZControl::CBasePTZControl;
  ~RecordingControl() override { Close(); }
  CBasePTZComm* CreatePTZComm() override { return new RecordingPTZComm(Driver(), 0); }
  std::vector<std::string> Sent() {
    auto* comm = static_cast<RecordingPTZComm*>(Comm());
    EXPECT_TRUE(comm->WaitIdle(10000));
    return comm->Commands();
  }
};

class PTZHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_.hostDirectory = dir_.Path();
    driver_.channelCount = 2;
    driver_.parameters = {{6, "1"}, {9, "00:0f:7c:0a:1b:2c"}};
    // Nothing listens on this port: URL commands fail fast, presets report failure.
    driver_.info.port = 1;
  }

  TestDriver driver_;
  ScratchDir dir_{"ptz_handler_test"};
};

TEST_F(PTZHandlerTest, OneControlPerChannelAFileNamedFromMacAndBrandControlChecksStopsAndPresetNames) {
  CActiPTZHandler handler(&driver_, 2, "ACTi");
  EXPECT_EQ(handler.GetPTZApiEx(2), nullptr);
  ipcapture::IIPPTZApi* seen[4] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { seen[i] = handler.GetPTZApiEx(1); });
  for (auto& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (auto* api : seen) EXPECT_EQ(api, seen[0]);
  EXPECT_EQ(handler.GetPTZApi(1), seen[0]);
  EXPECT_NE(handler.GetPTZApiEx(0), seen[0]);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("ACTi_000F7C0A1B2C.preset")));
  driver_.parameters[6] = "0";
  EXPECT_NE(CActiPTZHandler(&driver_, 1, "ACTi").GetPTZApiEx(0), nullptr) << "serial-port heads have a control too";

  // The preset file is named from the MAC and the brand.
  struct Case {
    const char* mac;
    const char* brand;
    const char* file;  // null: no file, no control
  } cases[] = {
      {"00-0F-7C-0A-1B-2C", "ACTi", "ACTi_000F7C0A1B2C.preset"},
      {"00:0f:7c:0a:1b:2c", "Vido", "Vido_000F7C0A1B2C.preset"},
      {"None", "ACTi", nullptr},
      {"::--", "ACTi", nullptr},
      {"00:11:none", "ACTi", nullptr},
  };
  for (const Case& c : cases) {
    driver_.parameters[9] = c.mac;
    driver_.ClearLines();
    CActiPTZHandler handler(&driver_, 1, c.brand);
    std::string file;
    EXPECT_EQ(handler.GenerateXMLStorageFileName(file), c.file != nullptr) << c.mac;
    ipcapture::IIPPTZApi* api = handler.GetPTZApiEx(0);
    if (c.file == nullptr) {
      EXPECT_EQ(api, nullptr) << c.mac;
      EXPECT_FALSE(driver_.LinesWith("cannot retrieve MAC address from camera 127.0.0.1:1").empty());
      continue;
    }
    EXPECT_EQ(file, c.file);
    ASSERT_NE(api, nullptr);
    EXPECT_NE(dir_.Read(c.file).find(std::string("<") + c.brand + " />"), std::string::npos) << "root named by brand";
  }

  RecordingControl control(&driver_, 0, false);
  EXPECT_EQ(control.Move(0, 1), -18) << "not open";
  EXPECT_EQ(control.Stop(), -18);
  ASSERT_TRUE(control.Open());
  EXPECT_EQ(control.Move(10, 5), -3);
  EXPECT_EQ(control.Stop(), 1) << "nothing to stop";
  EXPECT_EQ(control.Move(8, 16), 1);
  EXPECT_EQ(control.Stop(), 1);
  control.Sent();  // a burst beyond the queue limit would drop the oldest
  EXPECT_EQ(control.FocusFar(3), 1);
  EXPECT_EQ(control.Move(2, 16), 1);
  EXPECT_EQ(control.IrisOpen(3), 1);
  EXPECT_EQ(control.Stop(), 1);
  EXPECT_EQ(control.Sent(), (std::vector<std::string>{"ZOOM=TELE,7", "ZOOM=STOP", "FOCUS=FAR", "MOVE=UP,5", "MOVE=STOP",
                                                      "FOCUS=STOP"}));
  EXPECT_TRUE(control.QueryOption(3));
  EXPECT_FALSE(control.QueryOption(0));

  // Preset names and capabilities.
  char buffer[16];
  EXPECT_EQ(control.GetPresetName(0, buffer, sizeof buffer), -23);
  EXPECT_EQ(control.AddPreset(nullptr), -3);
  ASSERT_EQ(control.AddPreset("Gate"), 1);
  EXPECT_EQ(control.GetPresetName(0, buffer, 4), -3) << "no room for the terminating zero";
  EXPECT_EQ(control.GetPresetName(0, nullptr, 16), -3);
  ASSERT_EQ(control.GetCurrentPresetName(buffer, 5), 1);
  EXPECT_STREQ(buffer, "Gate");
  EXPECT_EQ(control.Move(0, 1), 1);
  EXPECT_EQ(control.GetCurrentPresetName(buffer, 5), -23) << "a move leaves the preset";
  EXPECT_EQ(control.GoToPreset(0, "Dock"), -23);
  ipcapture::PTZ_CAPABILITIES caps;
  EXPECT_EQ(control.GetCapabilities(nullptr), -3);
  ASSERT_EQ(control.GetCapabilities(&caps), 1);
  EXPECT_EQ(caps.fields[8], 1u) << "the stored preset count";
  EXPECT_EQ(control.RemovePreset("Gate"), 1);
  EXPECT_EQ(control.RemovePreset("Gate"), -23);
}

// Preset commands as the camera receives them.
std::string Save(int n) {
  return "PTZ_PRESET_SET=" + std::to_string(n) + ",1,0,0,65535,5,5,7,10,preset" + std::to_string(n);
}

class PrepositionListTest : public ::testing::Test {
 protected:
  static constexpr const char* kFile = "ACTi_000F7C0A1B2C.preset";

  TSmartPtr<CXMLPrepositionReader> Store() {
    TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader("ACTi", dir_.Path()));
    EXPECT_TRUE(store->Initialize(kFile));
    return store;
  }
  std::unique_ptr<CPrepositionList> List(uint32_t channel, const TSmartPtr<CXMLPrepositionReader>& store) {
    auto list = std::make_unique<CPrepositionList>(channel, true);
    list->SetComm(&camera_, 32);
    list->SetStorage(store);
    return list;
  }
  std::vector<std::wstring> Names(CPrepositionList& list) {
    std::vector<std::wstring> names;
    std::wstring name;
    for (uint32_t i = 0; list.GetName(i, name); ++i) names.push_back(name);
    return names;
  }
  std::string FileText() { return dir_.Read(kFile); }

  ScratchDir dir_{"preset_test"};
  TestDriver driver_;
  RecordingPTZComm camera_{&driver_, 0};
};

TEST_F(PrepositionListTest, RemovalFreesTheSlotAndChannelsKeepTheirOwnPresetsInOneFile) {
  {
    auto store = Store();
    auto other = List(1, store);
    ASSERT_EQ(other->AddPreposition(L"Yard \u00e9"), 1);
    auto list = List(0, store);
    for (const wchar_t* name : {L"A", L"B", L"C"}) {
      ASSERT_EQ(list->AddPreposition(name), 1);
      list->PositionChanged();
    }
    ASSERT_TRUE(list->RemovePreposition(L"B"));
    EXPECT_EQ(camera_.Commands().back(), "PTZ_PRESET_SET=2,0,0,0,65535,5,5,7,10,preset2");
    std::string text = FileText();
    EXPECT_NE(text.find("<Preposition001>"), std::string::npos);
    EXPECT_EQ(text.find("<Preposition002>"), std::string::npos);
    ASSERT_EQ(list->AddPreposition(L"D"), 1);
    EXPECT_EQ(camera_.Commands().back(), Save(2)) << "the freed slot is reused";
    text = FileText();
    const size_t entry = text.find("<Preposition002>");
    ASSERT_NE(entry, std::string::npos);
    EXPECT_NE(text.find("<Name>D</Name>", entry), std::string::npos);
    EXPECT_NE(text.find("<Slot>1</Slot>", entry), std::string::npos);
    camera_.refuse = true;
    EXPECT_TRUE(list->RemovePreposition(L"A")) << "a refused removal still reports success";
    EXPECT_EQ(list->GetCount(), 3u);
  }
  auto store = Store();
  auto list = List(0, store);
  EXPECT_EQ(Names(*list), (std::vector<std::wstring>{L"A", L"C", L"D"}));
  EXPECT_EQ(Names(*List(1, store)), (std::vector<std::wstring>{L"Yard \u00e9"}));
  std::wstring current;
  EXPECT_FALSE(list->GetCurrentName(current)) << "nothing is current after a load";
}

TEST_F(PrepositionListTest, TwoDriverObjectsOfOneCameraKeepEachOthersPresetsAndAFailedSaveLeavesTheFileWhole) {
  auto first = Store();
  auto second = Store();  // the same camera's file, opened by another driver object
  auto gate = List(0, first);
  auto yard = List(1, second);
  ASSERT_EQ(gate->AddPreposition(L"Gate"), 1);
  ASSERT_EQ(yard->AddPreposition(L"Yard"), 1);
  auto reloaded = Store();
  EXPECT_EQ(Names(*List(0, reloaded)), (std::vector<std::wstring>{L"Gate"}));
  EXPECT_EQ(Names(*List(1, reloaded)), (std::vector<std::wstring>{L"Yard"}));

  // A failed save leaves the old file whole.
  gate->PositionChanged();
  const std::string before = FileText();
  const std::string blocker = TemporaryName(dir_.File(kFile));
  std::filesystem::create_directory(blocker);
  EXPECT_EQ(gate->AddPreposition(L"Dock"), -18) << "saved on the camera, not in the file";
  EXPECT_EQ(FileText(), before);
  std::filesystem::create_directory(blocker);
  EXPECT_FALSE(gate->RemovePreposition(L"Gate"));
  EXPECT_EQ(FileText(), before);
}

TEST_F(PrepositionListTest, DamagedFilesNeverCrashAndAreKeptGoToRenameCaseSensitiveNamesAndCapacity) {
  const std::string good =
      "<?xml version='1.0'?><ACTi><PtzChannel01><Preposition000><Name>Gate</Name><Slot>4</Slot>"
      "</Preposition000><Preposition001><Name>Bad</Name><Slot>x</Slot></Preposition001>"
      "<Preposition002><Name>Twice</Name><Slot>4</Slot></Preposition002><Preposition003>"
      "<Name>Far</Name><Slot>99</Slot></Preposition003></PtzChannel01></ACTi>";
  dir_.Write(kFile, good);
  auto list = List(0, Store());
  EXPECT_EQ(Names(*list), (std::vector<std::wstring>{L"Gate"})) << "bad, doubled and out-of-range slots skipped";

  list.reset();
  const std::string damaged[] = {good.substr(0, good.size() / 2), std::string("\x00\xff garbage", 10)};
  for (const std::string& bytes : damaged) {
    dir_.Write(kFile, bytes);
    auto store = Store();
    EXPECT_EQ(List(0, store)->GetCount(), 0u);
    EXPECT_NE(FileText().find("<ACTi"), std::string::npos) << "and a new file is started";
  }
  // Every damaged file is kept aside, none over an earlier one.
  EXPECT_EQ(dir_.Read(std::string(kFile) + ".unreadable"), damaged[0]);
  EXPECT_EQ(dir_.Read(std::string(kFile) + ".unreadable.1"), damaged[1]);

  CPrepositionList named(0, false);
  named.SetComm(&camera_, 32);
  ASSERT_EQ(named.AddPreposition(L"Gate"), 1);
  named.PositionChanged();
  ASSERT_EQ(named.AddPreposition(L"Parking"), 1);
  EXPECT_FALSE(named.GoTo(L"gate", 0));
  EXPECT_TRUE(named.GoTo(L"Gate", 0));
  EXPECT_TRUE(named.GoTo(L"Gate", 0));
  EXPECT_EQ(camera_.Commands(), (std::vector<std::string>{Save(1), Save(2), "PTZ_PRESET_GO=1"}))
      << "second go-to is not sent";

  EXPECT_EQ(named.AddPreposition(L"Entrance"), 1) << "adding right after a go-to renames";
  EXPECT_EQ(Names(named), (std::vector<std::wstring>{L"Entrance", L"Parking"}));
  EXPECT_EQ(driver_.LinesWith("index 0 was renamed from \"Gate\" to \"Entrance\".").size(), 1u);
  named.PositionChanged();
  EXPECT_EQ(named.AddPreposition(L"Dock"), 1) << "after a move, adding adds";
  EXPECT_EQ(named.GetCount(), 3u);
  std::wstring current;
  ASSERT_TRUE(named.GetCurrentName(current));
  EXPECT_EQ(current, L"Dock");

  // Names and capacity.
  CPrepositionList full(0, false);
  EXPECT_EQ(full.AddPreposition(L"Gate"), -18) << "no camera yet";
  full.SetComm(&camera_, 32);
  for (const wchar_t* bad : {L"", L"O'Hara", L"a&b", L"x!", L"<y", L"y>", L"\"q\""}) {
    EXPECT_EQ(full.AddPreposition(bad), -3) << WideToUtf8(bad);
  }
  EXPECT_EQ(driver_.LinesWith("A preposition \"O'Hara\" cannot be added - the name is invalid.").size(), 1u);
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(full.AddPreposition(L"P" + std::to_wstring(i)), 1);
    full.PositionChanged();
  }
  EXPECT_EQ(full.AddPreposition(L"Extra"), -26);
  EXPECT_EQ(
      driver_.LinesWith("\"Extra\" cannot be added. Camera supports saving not more than 32 prepositions.").size(), 1u);
  camera_.refuse = true;
  EXPECT_FALSE(full.GoTo(L"P3", 0));
  EXPECT_FALSE(full.GetCurrentName(current)) << "a refused go-to changes nothing";
}

}  // namespace
}  // namespace orbisan::test
