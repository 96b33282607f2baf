// Packet sequences through the jpeg depacketizer (input layout in
// fuzz/packet_feeder.h).
#include <cstddef>
#include <cstdint>

#include "packet_feeder.h"
#include "rtsp/jpeg_rtp_media_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::test::FeedParser<orbisan::CJpegRTPMediaParser>(data, size, 'j');
  return 0;
}
