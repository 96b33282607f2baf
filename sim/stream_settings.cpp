#include "sim/stream_settings.h"

#include <cstdio>

namespace strandline::sim {

std::string StreamSettings::Signature() const {
  char text[128];
  std::snprintf(text, sizeof(text), "%s:%dx%d@%d:%dk:q%d:g%d:a%d", CodecName(codec), width, height, fps, kbps, quality,
                gop, audio_hz);
  return text;
}

const char* CodecName(VideoCodec codec) {
  switch (codec) {
    case VideoCodec::kH264:
      return "H264";
    case VideoCodec::kMpeg4:
      return "MPEG4";
    case VideoCodec::kMjpeg:
      return "MJPEG";
  }
  return "H264";
}

int AudioToneHz(int input) { return 500 + 250 * (input > 0 ? input - 1 : 0); }

bool ParseCodecName(const std::string& text, VideoCodec* codec) {
  if (text == "H264") {
    *codec = VideoCodec::kH264;
  } else if (text == "MPEG4") {
    *codec = VideoCodec::kMpeg4;
  } else if (text == "MJPEG") {
    *codec = VideoCodec::kMjpeg;
  } else {
    return false;
  }
  return true;
}

}  // namespace strandline::sim
