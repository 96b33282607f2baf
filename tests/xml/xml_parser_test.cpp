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

TEST(XmlParserTest, LiteralsSelectExactlyTheirText) {
  const char* xml = "<r><e v='plain'/><e v='say \"hi\"'/><e v=\"it's\"/><e v='&quot;&apos;\"'/></r>";
  CXMLParser parser;
  ASSERT_TRUE(parser.LoadBuffer(xml, std::strlen(xml)));
  for (const char* value : {"plain", "say \"hi\"", "it's", "\"'\""}) {
    EXPECT_TRUE(parser.NodeExists("r/e[@v=" + XPathLiteral(value) + "]")) << value;
  }
  EXPECT_FALSE(parser.NodeExists("r/e[@v=" + XPathLiteral("plain\"] | r/e[@v=\"it's") + "]"));
  EXPECT_EQ(XPathLiteral("a\"b'c"), "concat(\"a\",'\"',\"b'c\")");
}

}  // namespace
}  // namespace orbisan
