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

inline CRTPPacket MakePacket(uint16_t sequence, uint32_t timestamp, bool marker, const Bytes& payload) {
  Bytes bytes = {0x80,
                 static_cast<uint8_t>((marker ? 0x80 : 0) | 96),
                 static_cast<uint8_t>(sequence >> 8),
                 static_cast<uint8_t>(sequence),
                 static_cast<uint8_t>(timestamp >> 24),
                 static_cast<uint8_t>(timestamp >> 16),
                 static_cast<uint8_t>(timestamp >> 8),
                 static_cast<uint8_t>(timestamp),
                 1,
                 2,
                 3,
                 4};
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  CRTPPacket packet;
  EXPECT_TRUE(packet.Parse(bytes.data(), bytes.size()));
  return packet;
}

// The packets of a captured stream (RFC 4571 framing), as raw datagrams.
inline std::vector<Bytes> LoadStream(const std::string& name) {
  const std::string path = std::string(STRANDLINE_TEST_DATA_DIR) + "/depacketizers/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Driver (the log), allocator and client wired up for one depacketizer.
class DepacketizerTest : public ::testing::Test {
 protected:
  DepacketizerTest() { client.allocator = &allocator; }
  TestDriver driver;
  TestAllocator allocator;
  CollectingClient client;
};

}  // namespace orbisan::test
