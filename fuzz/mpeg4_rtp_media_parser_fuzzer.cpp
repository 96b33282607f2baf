// Packet sequences through the mpeg4 depacketizer (input layout in
// fuzz/packet_feeder.h).
#include <cstddef>
#include <cstdint>

#include "packet_feeder.h"
#include "rtsp/mpeg4_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::test::FeedParser<orbisan::CMpeg4RTPMediaParser>(data, size, 'm');
  return 0;
}
