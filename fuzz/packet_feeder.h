#pragma once

// Turns a compact byte string into RTP packets for a depacketizer, so that
// fuzzing spends its effort on payloads rather than on RTP headers.
//
// Input: one option byte, then records of a 2-byte big-endian length L and
// L bytes: a control byte (bit 0 marker, bit 1 leave a gap in the sequence
// numbers, bit 2 keep the previous timestamp) and L - 1 payload bytes. A
// record cut short by the end of the input takes what is left.
//
// Option bits: 0 the first two records are description parameters (H.264
// sps and pps, MPEG-4 config, JPEG picture size as two 16-bit numbers);
// 1 the client refuses frames; 2 the host has no sample allocator;
// 3 the configured size is 128 x 96 instead of 640 x 480.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../tests/depacketizers/collecting_client.h"
#include "../tests/support/test_driver.h"
#include "../tests/support/test_samples.h"
#include "rtsp/rtp_media_parser.h"

namespace orbisan::test {

struct FeedRecord {
  uint8_t control = 0;
  std::vector<uint8_t> payload;
};

inline std::vector<FeedRecord> SplitRecords(const uint8_t* data, size_t size) {
  std::vector<FeedRecord> records;
  size_t pos = 0;
  while (pos + 2 < size) {
    size_t length = (size_t{data[pos]} << 8) | data[pos + 1];
    pos += 2;
    if (length > size - pos) length = size - pos;
    if (length == 0) continue;
    FeedRecord r;
    r.control = data[pos];
    r.payload.assign(data + pos + 1, data + pos + length);
    records.push_back(std::move(r));
    pos += length;
  }
  return records;
}

template <class Parser>
void FeedParser(const uint8_t* data, size_t size, char codec) {
  if (size == 0) return;
  const uint8_t options = data[0];
  std::vector<FeedRecord> records = SplitRecords(data + 1, size - 1);

  TestDriver driver;
  TestAllocator allocator;
  CollectingClient client;
  client.allocator = (options & 4) ? nullptr : &allocator;
  client.keepBytes = false;
  client.accept = (options & 2) == 0;
  if (options & 8) client.defaultResolution = {128, 96};
  Parser parser(&driver);
  parser.SetClient(&client);

  size_t first = 0;
  if ((options & 1) && records.size() >= 2) {
    const std::vector<uint8_t>& a = records[0].payload;
    const std::vector<uint8_t>& b = records[1].payload;
    if (codec == 'h') parser.SetSdpParameters(a, b, {}, 0, 0);
    if (codec == 'm') parser.SetSdpParameters({}, {}, a, 0, 0);
    if (codec == 'j') {
      const uint32_t w = a.size() >= 2 ? (a[0] << 8 | a[1]) : 0;
      const uint32_t h = a.size() >= 4 ? (a[2] << 8 | a[3]) : 0;
      parser.SetSdpParameters({}, {}, {}, w, h);
    }
    first = 2;
  }

  uint16_t sequence = 1000;
  uint32_t timestamp = 90000;
  CRTPPacket packet;
  std::vector<uint8_t> bytes;
  for (size_t i = first; i < records.size(); ++i) {
    const FeedRecord& r = records[i];
    if (r.control & 2) ++sequence;
    if (!(r.control & 4)) timestamp += 3000;
    bytes.assign({0x80, static_cast<uint8_t>(((r.control & 1) << 7) | 96), static_cast<uint8_t>(sequence >> 8),
                  static_cast<uint8_t>(sequence), static_cast<uint8_t>(timestamp >> 24),
                  static_cast<uint8_t>(timestamp >> 16), static_cast<uint8_t>(timestamp >> 8),
                  static_cast<uint8_t>(timestamp), 0x12, 0x34, 0x56, 0x78});
    bytes.insert(bytes.end(), r.payload.begin(), r.payload.end());
    ++sequence;
    if (packet.Parse(bytes.data(), bytes.size())) parser.ProcessPacket(packet);
  }
}

}  // namespace orbisan::test
