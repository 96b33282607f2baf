#include "channels/mpeg4_block_assembler.h"

#include <gtest/gtest.h>

#include <vector>

using orbisan::CMpeg4BlockAssembler;

TEST(Mpeg4BlockAssembler, BlockOfStartCodesWithoutAPictureIsReadInOnePass) {
  // 16 MiB of configuration start codes: a search begun anew at each of them
  // would not end in any reasonable time.
  const std::vector<uint8_t> code = {0, 0, 1, 0xB0};
  std::vector<uint8_t> block;
  for (int i = 0; i < 4 << 20; ++i) block.insert(block.end(), code.begin(), code.end());
  CMpeg4BlockAssembler assembler;
  EXPECT_FALSE(assembler.Feed(block.data(), static_cast<uint32_t>(block.size())));
  EXPECT_TRUE(assembler.ConfigHeader().empty());
  // An intra picture after them: the header is the last configuration only.
  block.insert(block.end(), {0, 0, 1, 0xB6, 0x10, 0x55});
  ASSERT_TRUE(assembler.Feed(block.data(), static_cast<uint32_t>(block.size())));
  EXPECT_TRUE(assembler.IsKeyFrame());
  EXPECT_EQ(assembler.ConfigHeader(), code);
  EXPECT_EQ(assembler.Frame(), (std::vector<uint8_t>{0, 0, 1, 0xB0, 0, 0, 1, 0xB6, 0x10, 0x55}));
}
