// Named presets: slots, the current preset, and the camera's preset file.
#include "ptz/preposition_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ptz/recording_ptz_comm.h"
#include "runtime/text_utils.h"
#include "support/temp_dir.h"
#include "support/test_driver.h"
#include "xml/xml_settings_api.h"

namespace orbisan::test {
namespace {

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

TEST_F(PrepositionListTest, NamesAndCapacity) {
  CPrepositionList list(0, false);
  EXPECT_EQ(list.AddPreposition(L"Gate"), -18) << "no camera yet";
  list.SetComm(&camera_, 32);
  for (const wchar_t* bad : {L"", L"O'Hara", L"a&b", L"x!", L"<y", L"y>", L"\"q\""}) {
    EXPECT_EQ(list.AddPreposition(bad), -3) << WideToUtf8(bad);
  }
  EXPECT_EQ(driver_.LinesWith("A preposition \"O'Hara\" cannot be added - the name is invalid.").size(), 1u);
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(list.AddPreposition(L"P" + std::to_wstring(i)), 1);
    list.PositionChanged();
  }
  EXPECT_EQ(list.AddPreposition(L"Extra"), -26);
  EXPECT_EQ(
      driver_.LinesWith("\"Extra\" cannot be added. Camera supports saving not more than 32 prepositions.").size(), 1u);
  camera_.refuse = true;
  EXPECT_FALSE(list.GoTo(L"P3", 0));
  std::wstring current;
  EXPECT_FALSE(list.GetCurrentName(current)) << "a refused go-to changes nothing";
}

TEST_F(PrepositionListTest, GoToRenameAndCaseSensitiveNames) {
  CPrepositionList list(0, false);
  list.SetComm(&camera_, 32);
  ASSERT_EQ(list.AddPreposition(L"Gate"), 1);
  list.PositionChanged();
  ASSERT_EQ(list.AddPreposition(L"Parking"), 1);
  EXPECT_FALSE(list.GoTo(L"gate", 0));
  EXPECT_TRUE(list.GoTo(L"Gate", 0));
  EXPECT_TRUE(list.GoTo(L"Gate", 0));
  EXPECT_EQ(camera_.Commands(), (std::vector<std::string>{Save(1), Save(2), "PTZ_PRESET_GO=1"}))
      << "second go-to is not sent";

  EXPECT_EQ(list.AddPreposition(L"Entrance"), 1) << "adding right after a go-to renames";
  EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"Entrance", L"Parking"}));
  EXPECT_EQ(driver_.LinesWith("index 0 was renamed from \"Gate\" to \"Entrance\".").size(), 1u);
  list.PositionChanged();
  EXPECT_EQ(list.AddPreposition(L"Dock"), 1) << "after a move, adding adds";
  EXPECT_EQ(list.GetCount(), 3u);
  std::wstring current;
  ASSERT_TRUE(list.GetCurrentName(current));
  EXPECT_EQ(current, L"Dock");
}

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

TEST_F(PrepositionListTest, TwoDriverObjectsOfOneCameraKeepEachOthersPresets) {
  auto first = Store();
  auto second = Store();  // the same camera's file, opened by another driver object
  auto gate = List(0, first);
  auto yard = List(1, second);
  ASSERT_EQ(gate->AddPreposition(L"Gate"), 1);
  ASSERT_EQ(yard->AddPreposition(L"Yard"), 1);
  auto reloaded = Store();
  EXPECT_EQ(Names(*List(0, reloaded)), (std::vector<std::wstring>{L"Gate"}));
  EXPECT_EQ(Names(*List(1, reloaded)), (std::vector<std::wstring>{L"Yard"}));
}

TEST_F(PrepositionListTest, DamagedFilesNeverCrashAndAreKept) {
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
}

TEST_F(PrepositionListTest, FailedSaveLeavesTheOldFileWhole) {
  auto store = Store();
  auto list = List(0, store);
  ASSERT_EQ(list->AddPreposition(L"Gate"), 1);
  list->PositionChanged();
  const std::string before = FileText();
  const std::string blocker = TemporaryName(dir_.File(kFile));
  std::filesystem::create_directory(blocker);
  EXPECT_EQ(list->AddPreposition(L"Dock"), -18) << "saved on the camera, not in the file";
  EXPECT_EQ(FileText(), before);
  std::filesystem::create_directory(blocker);
  EXPECT_FALSE(list->RemovePreposition(L"Gate"));
  EXPECT_EQ(FileText(), before);
}

}  // namespace
}  // namespace orbisan::test
