#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "xml/xml_parser.h"
#include "xml/xml_settings_api.h"

namespace orbisan {
namespace {

namespace fs = std::filesystem;

class XmlSettingsApiTest : public ::testing::Test {
 protected:
  // The directory without its trailing "/", as the host names it.
  test::ScratchDir scratch_;
  const std::string dir_ = scratch_.Path().substr(0, scratch_.Path().size() - 1);
};

TEST_F(XmlSettingsApiTest, ParserQueriesThenCreateSetSaveReloadDeleteAndRefusals) {
  CXMLParser parser;
  EXPECT_FALSE(parser.Load("/nonexistent/Strandline.xml"));
  EXPECT_FALSE(parser.NodeExists("Configuration"));
  EXPECT_EQ(parser.GetNodeText("Configuration"), "");

  const char* xml =
      "<Configuration><Device address=' 10.0.0.5 ' port='80'><A>\n  one <b>two</b> </A></Device>"
      "</Configuration>";
  ASSERT_TRUE(parser.LoadBuffer(xml, std::strlen(xml)));
  EXPECT_TRUE(parser.NodeExists("Configuration/Device[@port=\"80\"]"));
  EXPECT_FALSE(parser.NodeExists("Configuration/Device[@port=\"8080\"]"));
  EXPECT_EQ(parser.GetNodeText("Configuration/Device/A"), "one two");
  EXPECT_EQ(parser.GetNodeText("Configuration/Device/@port"), "80");
  EXPECT_FALSE(parser.NodeExists("Configuration/Device[@port="));  // does not compile
  EXPECT_EQ(parser.GetNodeText("]]"), "");

  parser.Close();
  EXPECT_FALSE(parser.IsLoaded());
  EXPECT_FALSE(parser.NodeExists("Configuration"));
  EXPECT_FALSE(parser.LoadBuffer("<a>", 3));
  EXPECT_FALSE(parser.IsLoaded());

  CXMLSettingsAPI store(dir_);
  ASSERT_TRUE(store.CreateDocumentFile("ACTi_000F7C0A1B2C.preset", "ACTi"));
  EXPECT_EQ(scratch_.Read("ACTi_000F7C0A1B2C.preset").rfind("<?xml version='1.0' encoding='utf-8'?>\n<ACTi />", 0), 0u);

  ASSERT_TRUE(store.LoadFile("ACTi_000F7C0A1B2C.preset"));  // no directory: the base directory
  EXPECT_EQ(store.GetFileName(), dir_ + "/ACTi_000F7C0A1B2C.preset");
  const std::string awkward = "  <Gate & \"Yard\" 'N' \xc3\xa9t\xc3\xa9>  ";
  EXPECT_TRUE(store.SetValue("ACTi/PtzChannel01/Preposition000/Name", "Door"));
  EXPECT_TRUE(store.SetValue("ACTi/PtzChannel01/Preposition000/Slot", "0"));
  EXPECT_TRUE(store.SetValue("ACTi/PtzChannel01/Preposition001/Name", awkward));
  EXPECT_TRUE(store.SetValue("ACTi/PtzChannel02/Preposition000/Name", " "));
  EXPECT_TRUE(store.SetValue("ACTi/PtzChannel01/Preposition000/Name", "Front door"));  // overwrite
  EXPECT_TRUE(store.Save());
  EXPECT_FALSE(fs::exists(store.GetFileName() + ".tmp"));
  store.Close();
  EXPECT_FALSE(store.IsLoaded());

  CXMLSettingsAPI reread(dir_);
  ASSERT_TRUE(reread.LoadFile(dir_ + "/ACTi_000F7C0A1B2C.preset"));
  EXPECT_EQ(reread.GetValue("ACTi/PtzChannel01/Preposition000/Name"), "Front door");
  EXPECT_EQ(reread.GetValue("/ACTi/PtzChannel01/Preposition000/Slot"), "0");
  EXPECT_EQ(reread.GetValue("ACTi/PtzChannel01/Preposition001/Name"), awkward);
  EXPECT_EQ(reread.GetValue("ACTi/PtzChannel02/Preposition000/Name"), " ");
  EXPECT_EQ(reread.GetValue("ACTi/PtzChannel01/Preposition002/Name"), "");
  EXPECT_TRUE(reread.NodeExists("ACTi/PtzChannel01/Preposition001"));

  EXPECT_TRUE(reread.DeleteNode("ACTi/PtzChannel01"));
  EXPECT_FALSE(reread.DeleteNode("ACTi/PtzChannel01"));
  EXPECT_FALSE(reread.NodeExists("ACTi/PtzChannel01/Preposition001"));
  EXPECT_TRUE(reread.NodeExists("ACTi/PtzChannel02"));
  EXPECT_TRUE(reread.Save());

  CXMLSettingsAPI third(dir_);
  ASSERT_TRUE(third.LoadFile("ACTi_000F7C0A1B2C.preset"));
  EXPECT_FALSE(third.NodeExists("ACTi/PtzChannel01"));
  EXPECT_EQ(third.GetValue("ACTi/PtzChannel02/Preposition000/Name"), " ");

  // What it cannot store or load is refused.
  CXMLSettingsAPI fresh(dir_);
  EXPECT_FALSE(fresh.CreateDocumentFile("bad.xml", "two words"));
  EXPECT_FALSE(fresh.CreateDocumentFile("bad.xml", ""));
  EXPECT_FALSE(fs::exists(dir_ + "/bad.xml"));
  EXPECT_FALSE(fresh.SetValue("Root/A", "no document"));
  EXPECT_FALSE(fresh.Save());

  ASSERT_TRUE(fresh.CreateDocumentFile("s.xml", "Root"));
  ASSERT_TRUE(fresh.LoadFile("s.xml"));
  EXPECT_FALSE(fresh.SetValue("Other/A", "x"));  // a second root element
  EXPECT_FALSE(fresh.SetValue("Root/1st", "x"));
  EXPECT_FALSE(fresh.SetValue("Root/a b", "x"));
  EXPECT_FALSE(fresh.SetValue("Root/a<b", "x"));
  EXPECT_FALSE(fresh.SetValue("", "x"));
  EXPECT_FALSE(fresh.SetValue("Root/A", std::string("a\0b", 3)));
  EXPECT_FALSE(fresh.DeleteNode("Root"));
  EXPECT_EQ(fresh.GetValue("Root/a b"), "");
  EXPECT_FALSE(fresh.NodeExists("Root/A"));
  EXPECT_TRUE(fresh.NodeExists("Root"));
  fresh.Close();

  // A failed load keeps the open document, which stays until its last user closes it.
  EXPECT_FALSE(fresh.LoadFile("missing.xml"));
  EXPECT_FALSE(fresh.IsLoaded());
  scratch_.Write("broken.xml", "<Root><A>1</A>");
  EXPECT_FALSE(fresh.LoadFile("broken.xml"));
  scratch_.Write("empty.xml", "");
  EXPECT_FALSE(fresh.LoadFile("empty.xml"));

  scratch_.Write("good.xml", "<Root><A>1</A></Root>");
  ASSERT_TRUE(fresh.LoadFile("good.xml"));
  EXPECT_FALSE(fresh.LoadFile("broken.xml"));
  EXPECT_EQ(fresh.GetValue("Root/A"), "1");
  ASSERT_TRUE(fresh.LoadFile("good.xml"));
  fresh.Close();
  EXPECT_EQ(fresh.GetValue("Root/A"), "1");
  fresh.Close();
  EXPECT_FALSE(fresh.IsLoaded());
  EXPECT_EQ(fresh.GetValue("Root/A"), "");
  fresh.Close();  // one close too many does no harm
}

}  // namespace
}  // namespace orbisan
