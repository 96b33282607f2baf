#pragma once

// Shared pieces of the depacketizer tests: RTP packets from bytes and the
// captured streams under tests/data/depacketizers.

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "../support/run_command.h"
#include "../support/temp_dir.h"
#include "../support/test_driver.h"
#include "../support/test_samples.h"
#include "collecting_client.h"
#include "rtsp/rtp_packet.h"

namespace orbisan::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Writes the low `count` bytes of value at `at`, most significant first.
inline void StoreBigEndian(uint8_t* at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) at[i] = static_cast<uint8_t>(value >> (8 * (count - 1 - i)));
}

// Payload type 96, SSRC 0x01020304.
inline CRTPPacket MakePacket(uint16_t sequence, uint32_t timestamp, bool marker, const Bytes& payload) {
  Bytes bytes = Cat({{0x80, static_cast<uint8_t>((marker ? 0x80 : 0) | 96), 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}, payload});
  StoreBigEndian(&bytes[2], sequence, 2);
  StoreBigEndian(&bytes[4], timestamp, 4);
  CRTPPacket packet;
  EXPECT_TRUE(packet.Parse(bytes.data(), bytes.size()));
  return packet;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string DataFile(const std::string& name) {
  return std::string(STRANDLINE_TEST_DATA_DIR) + "/depacketizers/" + name;
}

// The configuration header the encoder wrote for the captured MPEG-4 stream (in hex).
inline Bytes CapturedMpeg4Config() {
  const std::string hex = ReadText(DataFile("mpeg4_176x144_60.config"));
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The packets of a captured stream (RFC 4571 framing), as raw datagrams.
inline std::vector<Bytes> LoadStream(const std::string& name) {
  const std::string text = ReadText(DataFile(name));
  EXPECT_FALSE(text.empty()) << name;
  const Bytes data(text.begin(), text.end());
  std::vector<Bytes> packets;
  size_t pos = 0;
  while (pos + 2 <= data.size()) {
    const size_t n = (size_t{data[pos]} << 8) | data[pos + 1];
    if (pos + 2 + n > data.size()) break;
    packets.emplace_back(data.begin() + pos + 2, data.begin() + pos + 2 + n);
    pos += 2 + n;
  }
  return packets;
}

// JPEG main header: fragment offset, type, Q, width and height in 8-pixel units.
inline Bytes JpegMainHeader(uint32_t offset, uint8_t type, uint8_t q, uint8_t width8, uint8_t height8) {
  Bytes header = {0, 0, 0, 0, type, q, width8, height8};
  StoreBigEndian(&header[1], offset, 3);
  return header;
}

// One depacketizer wired to a client with an allocator, and a driver for
// the log; every sample taken from the allocator must be back by the end.
// Send numbers and stamps packets as a sender would: the timestamp moves on
// after each marker, and the stream pauses there (the receiver's idle call)
// until the next frame.
template <typename Parser>
class ParserTest : public ::testing::Test {
 protected:
  ParserTest() {
    client.allocator = &allocator;
    parser.SetClient(&client);
  }
  void TearDown() override { EXPECT_EQ(allocator.created.load(), allocator.released.load()) << "samples leaked"; }
  void Send(bool marker, const Bytes& payload) {
    parser.ProcessPacket(MakePacket(sequence++, timestamp, marker, payload));
    if (!marker) return;
    parser.FinishHeld(1000);
    timestamp += 3000;
  }
  // Datagrams as captured, numbering and all.
  void Feed(const std::vector<Bytes>& packets) {
    CRTPPacket packet;
    for (const Bytes& p : packets) {
      ASSERT_TRUE(packet.Parse(p.data(), p.size()));
      parser.ProcessPacket(packet);
    }
  }
  TestDriver driver;
  TestAllocator allocator;
  CollectingClient client;
  Parser parser{&driver};
  uint16_t sequence = 100;
  uint32_t timestamp = 9000;
};

}  // namespace orbisan::test
