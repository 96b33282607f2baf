#include "sim/pipeline_description.h"

#include <algorithm>

namespace strandline::sim {

std::string LivePipeline(const StreamSettings& s, bool with_clock, bool sliced) {
  int width = std::max(16, s.width);
  int height = std::max(16, s.height);
  int fps = std::clamp(s.fps, 1, 120);
  int gop = std::clamp(s.gop, 1, 1000);
  int kbps = std::clamp(s.kbps, 16, 100000);
  const std::string caps = "video/x-raw,format=I420,width=" + std::to_string(width) +
                           ",height=" + std::to_string(height) + ",framerate=" + std::to_string(fps) + "/1";
  // A moving picture under a still layer of sensor-like noise: intra coding
  // pays for the noise, prediction mostly does not, so key frames come out
  // several times larger than the others, as a camera's do. The noise is made
  // once; blending it costs about what the test picture does.
  std::string text =
      "compositor name=" + std::string(kNoiseMixerName) + " " + kNoiseStillPad + "::alpha=0.3 ! " + caps + " ! ";
  if (with_clock) text += "timeoverlay font-desc=\"Sans 10\" ! ";
  switch (s.codec) {
    case VideoCodec::kH264: {
      int threads = width * height >= 1280 * 720 ? 2 : 1;
      text += "x264enc name=" + std::string(kEncoderName) +
              " tune=zerolatency speed-preset=ultrafast bframes=0 byte-stream=true bitrate=" + std::to_string(kbps) +
              " key-int-max=" + std::to_string(gop) + " threads=" + std::to_string(threads) +
              (sliced ? " option-string=slices=4" : "") +
              " ! video/x-h264,profile=constrained-baseline ! rtph264pay name=" + kPayloaderName +
              " pt=96 config-interval=-1";
      break;
    }
    case VideoCodec::kMpeg4:
      text += "avenc_mpeg4 name=" + std::string(kEncoderName) + " bitrate=" + std::to_string(kbps * 1000) +
              " gop-size=" + std::to_string(gop) + " max-bframes=0 ! rtpmp4vpay name=" + kPayloaderName +
              " pt=96 config-interval=-1";
      break;
    case VideoCodec::kMjpeg:
      text += "jpegenc name=" + std::string(kEncoderName) +
              " quality=" + std::to_string(std::clamp(s.quality, 1, 100)) + " ! rtpjpegpay name=" + kPayloaderName +
              " pt=26";
      break;
  }
  text += " videotestsrc is-live=true pattern=smpte horizontal-speed=4 ! " + caps + " ! " + kNoiseMixerName +
          ".sink_0 videotestsrc num-buffers=1 pattern=snow ! " + caps + " ! imagefreeze ! " + kNoiseMixerName + "." +
          kNoiseStillPad;
  return text;
}

std::string AudioBranch(int hz) {
  if (hz <= 0) return {};
  return " audiotestsrc is-live=true wave=sine volume=0.5 samplesperbuffer=160 freq=" + std::to_string(hz) +
         " ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! mulawenc ! rtppcmupay name=" + kAudioPayloaderName +
         " pt=0";
}

std::string ReplayPipeline(VideoCodec codec) {
  std::string text = "appsrc name=" + std::string(kReplaySourceName) +
                     " is-live=true format=time do-timestamp=false max-buffers=4 block=false ! ";
  switch (codec) {
    case VideoCodec::kH264:
      text +=
          "h264parse config-interval=-1 ! rtph264pay name=" + std::string(kPayloaderName) + " pt=96 config-interval=-1";
      break;
    case VideoCodec::kMpeg4:
      text += "mpeg4videoparse config-interval=-1 ! rtpmp4vpay name=" + std::string(kPayloaderName) +
              " pt=96 config-interval=-1";
      break;
    case VideoCodec::kMjpeg:
      text += "jpegparse ! rtpjpegpay name=" + std::string(kPayloaderName) + " pt=26";
      break;
  }
  return text;
}

}  // namespace strandline::sim
