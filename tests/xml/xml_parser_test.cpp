#include "xml/xml_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace orbisan {
namespace {

TEST(XmlParserTest, QueriesAndTheirFailures) {
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
}

}  // namespace
}  // namespace orbisan
