// Packet sequences through the mpeg4 depacketizer (input layout in
// tests/depacketizers/packet_feeder.h).
#include <cstddef>
#include <cstdint>

#include "../tests/depacketizers/packet_feeder.h"
#include "rtsp/mpeg4_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::test::FeedParser<orbisan::CMpeg4RTPMediaParser>(data, size, 'm');
  return 0;
}
