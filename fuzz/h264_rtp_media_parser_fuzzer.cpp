// Packet sequences through the h264 depacketizer (input layout in
// fuzz/packet_feeder.h).
#include <cstddef>
#include <cstdint>

#include "packet_feeder.h"
#include "rtsp/h264_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::test::FeedParser<orbisan::CH264RTPMediaParser>(data, size, 'h');
  return 0;
}
