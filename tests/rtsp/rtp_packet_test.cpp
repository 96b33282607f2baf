#include "rtsp/rtp_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "rtp_test_util.h"

namespace orbisan {
namespace {

using test::BuildRtp;
using test::Bytes;
using test::RtpFields;

TEST(RtpPacketTest, ReadsEveryHeaderField) {
  RtpFields fields;
  fields.marker = true;
  fields.payloadType = 97;
  fields.sequence = 0xBEEF;
  fields.timestamp = 0xDEADBEEF;
  fields.ssrc = 0x01020304;
  fields.csrc = {0xA1A2A3A4, 0xB1B2B3B4};
  fields.extension = true;
  fields.extensionProfile = 0xABAC;
  fields.extensionData = Bytes(8, 3);
  fields.payload = Bytes(100, 9);
  const std::vector<uint8_t> wire = BuildRtp(fields);

  CRTPPacket packet;
  ASSERT_TRUE(packet.Parse(wire.data(), wire.size()));
  EXPECT_EQ(packet.GetMarker(), 1);
  EXPECT_EQ(packet.GetPadding(), 0);
  EXPECT_EQ(packet.GetPayloadType(), 97);
  EXPECT_EQ(packet.GetSequenceNumber(), 0xBEEF);
  EXPECT_EQ(packet.GetTimestamp(), 0xDEADBEEFu);
  const uint8_t ssrcBytes[4] = {1, 2, 3, 4};
  const uint32_t ssrc = packet.GetSsrc();
  EXPECT_EQ(std::memcmp(&ssrc, ssrcBytes, 4), 0) << "SSRC stays in network order";
  EXPECT_EQ(packet.GetCsrcCount(), 2);
  EXPECT_EQ(packet.GetCsrcList(), std::vector<uint8_t>(wire.begin() + 12, wire.begin() + 20));
  EXPECT_EQ(packet.GetExtensionProfile(), 0xABAC);
  EXPECT_EQ(packet.GetExtensionLength(), 2);
  EXPECT_EQ(packet.GetExtensionData(), fields.extensionData);
  ASSERT_EQ(packet.GetPayloadLength(), 100u);
  EXPECT_EQ(std::vector<uint8_t>(packet.GetPayload(), packet.GetPayload() + 100), fields.payload);
}

TEST(RtpPacketTest, InPlacePayloadIsAViewAndACopyOwnsItsPayload) {
  RtpFields fields;
  fields.padding = 4;
  fields.payload = Bytes(50, 7);
  std::vector<uint8_t> wire = BuildRtp(fields);
  CRTPPacket view;
  ASSERT_TRUE(view.ParseInPlace(wire.data(), wire.size()));
  ASSERT_EQ(view.GetPayloadLength(), 50u);
  EXPECT_EQ(view.GetPayload(), wire.data() + 12) << "no copy of the payload";
  const CRTPPacket copy = view;
  CRTPPacket assigned;
  assigned = view;
  std::fill(wire.begin(), wire.end(), 0);  // the receive buffer is reused
  for (const CRTPPacket* owned : {&copy, static_cast<const CRTPPacket*>(&assigned)}) {
    ASSERT_EQ(owned->GetPayloadLength(), 50u);
    EXPECT_EQ(std::vector<uint8_t>(owned->GetPayload(), owned->GetPayload() + 50), fields.payload);
  }
  EXPECT_FALSE(view.ParseInPlace(wire.data(), wire.size()));
  EXPECT_EQ(view.GetPayload(), nullptr);
}

TEST(RtpPacketTest, MinimumSizeAndVersion) {
  RtpFields fields;
  fields.payload = {0x55};
  std::vector<uint8_t> wire = BuildRtp(fields);
  CRTPPacket packet;
  EXPECT_FALSE(packet.Parse(wire.data(), 12)) << "header alone";
  ASSERT_TRUE(packet.Parse(wire.data(), 13));
  EXPECT_EQ(packet.GetPayloadLength(), 1u);
  EXPECT_EQ(packet.GetPayload()[0], 0x55);
  for (uint8_t version : {0, 1, 3}) {
    wire[0] = static_cast<uint8_t>((wire[0] & 0x3F) | (version << 6));
    EXPECT_FALSE(packet.Parse(wire.data(), wire.size())) << "version " << int(version);
  }
  EXPECT_FALSE(packet.Parse(nullptr, 100));
}

TEST(RtpPacketTest, CsrcListMustLeaveRoomForPayload) {
  RtpFields fields;
  fields.csrc = {1, 2, 3};
  fields.payload = {};
  std::vector<uint8_t> wire = BuildRtp(fields);  // exactly 12 + 12 bytes
  CRTPPacket packet;
  EXPECT_FALSE(packet.Parse(wire.data(), wire.size()));
  wire.push_back(0x77);
  ASSERT_TRUE(packet.Parse(wire.data(), wire.size()));
  EXPECT_EQ(packet.GetPayloadLength(), 1u);
  EXPECT_EQ(packet.GetPayload()[0], 0x77);
}

TEST(RtpPacketTest, ExtensionBounds) {
  RtpFields fields;
  fields.extension = true;
  fields.extensionData = Bytes(12, 1);
  fields.payload = {};
  const std::vector<uint8_t> wire = BuildRtp(fields);  // 12 + 4 + 12, no payload
  CRTPPacket packet;
  ASSERT_TRUE(packet.Parse(wire.data(), wire.size())) << "extension filling the packet leaves an empty payload";
  EXPECT_EQ(packet.GetPayloadLength(), 0u);
  EXPECT_EQ(packet.GetPayload(), nullptr);
  EXPECT_FALSE(packet.Parse(wire.data(), wire.size() - 1)) << "extension longer than the packet";
  EXPECT_FALSE(packet.Parse(wire.data(), 15)) << "fewer than 4 extension header bytes";
}

TEST(RtpPacketTest, Padding) {
  RtpFields fields;
  fields.payload = Bytes(10, 0);
  fields.padding = 4;
  std::vector<uint8_t> wire = BuildRtp(fields);
  CRTPPacket packet;
  ASSERT_TRUE(packet.Parse(wire.data(), wire.size()));
  EXPECT_EQ(packet.GetPadding(), 1);
  EXPECT_EQ(packet.GetPayloadLength(), 10u);

  // Padding count equal to everything after the header: empty, valid.
  wire.back() = 14;
  ASSERT_TRUE(packet.Parse(wire.data(), wire.size()));
  EXPECT_EQ(packet.GetPayloadLength(), 0u);
  // One more than that: invalid.
  wire.back() = 15;
  EXPECT_FALSE(packet.Parse(wire.data(), wire.size()));
}

TEST(RtpPacketTest, ReparseReplacesEarlierContents) {
  RtpFields big;
  big.csrc = {7};
  big.extension = true;
  big.extensionData = Bytes(4, 2);
  big.payload = Bytes(300, 1);
  RtpFields small;
  small.payload = {9, 8, 7};
  const std::vector<uint8_t> a = BuildRtp(big);
  const std::vector<uint8_t> b = BuildRtp(small);
  CRTPPacket packet;
  ASSERT_TRUE(packet.Parse(a.data(), a.size()));
  ASSERT_TRUE(packet.Parse(b.data(), b.size()));
  EXPECT_EQ(packet.GetCsrcCount(), 0);
  EXPECT_TRUE(packet.GetCsrcList().empty());
  EXPECT_EQ(packet.GetExtensionLength(), 0);
  EXPECT_TRUE(packet.GetExtensionData().empty());
  EXPECT_EQ(std::vector<uint8_t>(packet.GetPayload(), packet.GetPayload() + packet.GetPayloadLength()), small.payload);
  // A failed parse leaves nothing behind.
  ASSERT_FALSE(packet.Parse(a.data(), 5));
  EXPECT_EQ(packet.GetPayloadLength(), 0u);
  EXPECT_EQ(packet.GetSequenceNumber(), 0);
}

}  // namespace
}  // namespace orbisan
