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
  int audio_hz = 0;  // tone of the microphone track (PCMU, 8000 Hz, mono); 0 = no audio track

  // Equal texts mean an already running encoder can serve a new session.
  std::string Signature() const;
};

// "H264", "MPEG4", "MJPEG" (the values of VIDEO_ENCODER).
const char* CodecName(VideoCodec codec);
bool ParseCodecName(const std::string& text, VideoCodec* codec);
// The microphone tone of a camera input (1-based): each input its own, so
// that a recording shows which input it came from.
int AudioToneHz(int input);

}  // namespace strandline::sim
