#include "rtsp/rtp_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>

#include "rtp_test_util.h"

namespace orbisan {
namespace {

using test::BuildRtp;
using test::Bytes;
using test::RtpFields;

TEST(RtpPacketTest, ReadsEveryHeaderFieldInPlaceOrCopied) {
  // Version, marker, type, sequence, timestamp, SSRC, CSRCs, extension (profile, data), payload.
  const RtpFields fields = {2,    true,   97,          0xBEEF,       0xDEADBEEF, 0x01020304, {0xA1A2A3A4, 0xB1B2B3B4},
                            true, 0xABAC, Bytes(8, 3), Bytes(100, 9)};
  const std::vector<uint8_t> wire = BuildRtp(fields);

  CRTPPacket packet;
  ASSERT_TRUE(packet.Parse(wire.data(), wire.size()));
  EXPECT_EQ(std::make_tuple(packet.GetMarker(), packet.GetPadding(), packet.GetPayloadType(),
                            packet.GetSequenceNumber(), packet.GetTimestamp()),
            std::make_tuple(1, 0, 97, 0xBEEF, 0xDEADBEEFu));
  const uint8_t ssrcBytes[4] = {1, 2, 3, 4};
  const uint32_t ssrc = packet.GetSsrc();
  EXPECT_EQ(std::memcmp(&ssrc, ssrcBytes, 4), 0) << "SSRC stays in network order";
  EXPECT_EQ(std::make_tuple(packet.GetCsrcCount(), packet.GetExtensionProfile(), packet.GetExtensionLength()),
            std::make_tuple(2, 0xABAC, 2));
  EXPECT_EQ(packet.GetCsrcList(), std::vector<uint8_t>(wire.begin() + 12, wire.begin() + 20));
  EXPECT_EQ(packet.GetExtensionData(), fields.extensionData);
  ASSERT_EQ(packet.GetPayloadLength(), 100u);
  EXPECT_EQ(std::vector<uint8_t>(packet.GetPayload(), packet.GetPayload() + 100), fields.payload);

  // The same packet parsed again replaces all of it; a failed parse leaves nothing behind.
  const RtpFields small = {.payload = {9, 8, 7}};
  const std::vector<uint8_t> b = BuildRtp(small);
  ASSERT_TRUE(packet.Parse(b.data(), b.size()));
  EXPECT_EQ(std::make_tuple(packet.GetCsrcCount(), packet.GetExtensionLength()), std::make_tuple(0, 0));
  EXPECT_TRUE(packet.GetCsrcList().empty() && packet.GetExtensionData().empty());
  EXPECT_EQ(std::vector<uint8_t>(packet.GetPayload(), packet.GetPayload() + packet.GetPayloadLength()), small.payload);
  ASSERT_FALSE(packet.Parse(wire.data(), 5));
  EXPECT_EQ(std::make_tuple(packet.GetPayloadLength(), packet.GetSequenceNumber()), std::make_tuple(0u, 0));

  // A payload parsed in place is a view; a copy owns its payload.
  const RtpFields padded = {.payload = Bytes(50, 7), .padding = 4};
  std::vector<uint8_t> padWire = BuildRtp(padded);
  ASSERT_TRUE(packet.ParseInPlace(padWire.data(), padWire.size()));
  ASSERT_EQ(packet.GetPayloadLength(), 50u);
  EXPECT_EQ(packet.GetPadding(), 1);
  EXPECT_EQ(packet.GetPayload(), padWire.data() + 12) << "no copy of the payload";
  const CRTPPacket copy = packet;
  CRTPPacket assigned;
  assigned = packet;
  std::fill(padWire.begin(), padWire.end(), 0);  // the receive buffer is reused
  for (const CRTPPacket* owned : {&copy, static_cast<const CRTPPacket*>(&assigned)}) {
    ASSERT_EQ(owned->GetPayloadLength(), 50u);
    EXPECT_EQ(std::vector<uint8_t>(owned->GetPayload(), owned->GetPayload() + 50), padded.payload);
  }
  EXPECT_FALSE(packet.ParseInPlace(padWire.data(), padWire.size()));
  EXPECT_EQ(packet.GetPayload(), nullptr);
}

std::vector<uint8_t> Wire(const RtpFields& fields, size_t cut = 0) {
  std::vector<uint8_t> wire = BuildRtp(fields);
  wire.resize(wire.size() - cut);
  return wire;
}

// What a packet must hold beyond the fixed header: at least one byte, its
// CSRC list and extension whole; padding may take everything after the header.
TEST(RtpPacketTest, LengthAndVersionRules) {
  const RtpFields oneByte = {.payload = {0x55}};
  const RtpFields csrc = {.csrc = {1, 2, 3}, .payload = {0x77}};
  const RtpFields extension = {.extension = true, .extensionData = Bytes(12, 1)};  // 12 + 4 + 12, no payload
  const RtpFields padded = {.payload = Bytes(10, 0), .padding = 4};
  auto withByte = [](std::vector<uint8_t> wire, size_t at, uint8_t value) {
    wire[at] = value;
    return wire;
  };
  const std::vector<uint8_t> pad = Wire(padded);
  const uint8_t headerByte = Wire(oneByte)[0];
  struct Case {
    const char* name;
    std::vector<uint8_t> wire;
    std::optional<std::vector<uint8_t>> payload;  // none: invalid
  };
  const Case cases[] = {
      {"header alone", Wire(oneByte, 1), std::nullopt},
      {"one payload byte", Wire(oneByte), std::vector<uint8_t>{0x55}},
      {"CSRC list filling the packet", Wire(csrc, 1), std::nullopt},
      {"CSRC list and one byte", Wire(csrc), std::vector<uint8_t>{0x77}},
      {"extension filling the packet", Wire(extension), std::vector<uint8_t>{}},
      {"extension longer than the packet", Wire(extension, 1), std::nullopt},
      {"fewer than 4 extension header bytes", Wire(extension, 13), std::nullopt},
      {"padding", pad, Bytes(10, 0)},
      {"padding all after the header", withByte(pad, pad.size() - 1, 14), std::vector<uint8_t>{}},
      {"padding beyond the header", withByte(pad, pad.size() - 1, 15), std::nullopt},
      {"version 0", withByte(Wire(oneByte), 0, headerByte & 0x3F), std::nullopt},
      {"version 3", withByte(Wire(oneByte), 0, headerByte | 0xC0), std::nullopt},
  };
  for (const Case& c : cases) {
    CRTPPacket packet;
    ASSERT_EQ(packet.Parse(c.wire.data(), c.wire.size()), c.payload.has_value()) << c.name;
    if (!c.payload) continue;
    const uint8_t* payload = packet.GetPayload();
    EXPECT_EQ(std::vector<uint8_t>(payload, payload + packet.GetPayloadLength()), *c.payload) << c.name;
    EXPECT_EQ(payload == nullptr, c.payload->empty()) << c.name;
  }
  CRTPPacket packet;
  EXPECT_FALSE(packet.Parse(nullptr, 100));
}

}  // namespace
}  // namespace orbisan
