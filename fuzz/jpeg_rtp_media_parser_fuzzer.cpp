// Packet sequences through the jpeg depacketizer (input layout in
// tests/depacketizers/packet_feeder.h).
#include <cstddef>
#include <cstdint>

#include "../tests/depacketizers/packet_feeder.h"
#include "rtsp/jpeg_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::test::FeedParser<orbisan::CJpegRTPMediaParser>(data, size, 'j');
  return 0;
}
