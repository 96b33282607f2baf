#include <gtest/gtest.h>

#include "runtime/logger_instance.h"
#include "support/test_driver.h"

using namespace orbisan;

TEST(LoggerInstance, RepeatsAreDroppedAndPercentSignsSurvive) {
  test::TestDriver driver;
  CLoggerInstance logger(&driver);
  logger.LogMessage(1, "%s", "A");
  logger.LogMessage(1, "%s", "A");
  logger.LogMessage(1, "%s", "B");
  logger.LogMessage(1, "%s", "A");
  logger.LogMessage(3, "%s", "100% done %d %s");
  logger.LogMessage(1, "%s", "");
  const auto lines = driver.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "A");
  EXPECT_EQ(lines[1].text, "B");
  EXPECT_EQ(lines[2].text, "A");
  EXPECT_EQ(lines[3].text, "100% done %d %s");
  EXPECT_EQ(lines[3].level, 3u);
}

TEST(LoggerInstance, ThinningBoundaries) {
  test::TestDriver driver;
  CLoggerInstance logger(&driver);
  // Distinct message n (1-based) carries its own number.
  std::vector<int> passed;
  for (int n = 1; n <= 70000; ++n) logger.LogMessage(1, "message %d", n);
  for (const auto& line : driver.Lines()) passed.push_back(std::stoi(line.text.substr(8)));
  std::vector<int> expected;
  for (int c = 1; c <= 14; ++c) expected.push_back(c);
  for (int c = 16; c < 255; c += 16) expected.push_back(c);
  for (int c = 256; c < 4095; c += 256) expected.push_back(c);
  for (int c = 4096; c < 65535; c += 4096) expected.push_back(c);
  // At 65535 the counter drops back to 4095 without passing; message 65536
  // then counts as 4096 and passes, and so on every 4096.
  for (int n = 65536; n <= 70000; n += 4096) expected.push_back(n);
  EXPECT_EQ(passed, expected);
}

TEST(LoggerInstance, ResetLetsTheNextMessageThroughAtOnce) {
  test::TestDriver driver;
  CLoggerInstance logger(&driver);
  for (int n = 1; n <= 20; ++n) logger.LogMessage(1, "m%d", n);
  EXPECT_EQ(driver.Lines().size(), 15u);  // 14 plus the 16th
  logger.ResetLog();
  logger.LogMessage(1, "m20");  // the 20th, held back before the reset
  logger.LogMessage(1, "m20");
  EXPECT_EQ(driver.Lines().size(), 16u);
  EXPECT_EQ(driver.Lines().back().text, "m20");
}
