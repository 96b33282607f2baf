// What one encoder of the simulated camera produces when an RTSP session starts.
#pragma once

#include <string>

namespace strandline::sim {

enum class VideoCodec { kH264, kMpeg4, kMjpeg };

struct StreamSettings {
  VideoCodec codec = VideoCodec::kH264;
  int width = 320;
  int height = 240;
  int fps = 30;
  int kbps = 1000;   // target bit rate for H.264 and MPEG-4
  int quality = 50;  // JPEG quality 1..100
  int gop = 30;      // frames between key frames

  // Equal texts mean an already running encoder can serve a new session.
  std::string Signature() const;
};

// "H264", "MPEG4", "MJPEG" (the values of VIDEO_ENCODER).
const char* CodecName(VideoCodec codec);
bool ParseCodecName(const std::string& text, VideoCodec* codec);

}  // namespace strandline::sim
