// A pre-encoded clip held in memory as whole frames, for streaming in a loop.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/replay_packets.h"
#include "sim/stream_settings.h"

namespace strandline::sim {

class ReplayClip {
 public:
  ~ReplayClip();
  ReplayClip(const ReplayClip&) = delete;
  ReplayClip& operator=(const ReplayClip&) = delete;

  // Reads an H.264 Annex B stream, an MPEG-4 Visual elementary stream or
  // concatenated JPEG pictures and splits it into frames with the matching
  // GStreamer parser. The codec comes from the file name's extension (.h264
  // .264, .m4v .mpeg4, .mjpeg .mjpg .jpg) or else from the first bytes. Null
  // with a reason when the file cannot be read or holds no frame.
  static std::shared_ptr<const ReplayClip> Load(const std::string& path, std::string* error);

  VideoCodec codec() const { return codec_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Frames per second the clip is played at (its own rate, 25 when it has none).
  double fps() const { return fps_; }
  size_t frame_count() const { return frames_.size(); }
  // Shared, read-only frame; never null for index < frame_count().
  GstBuffer* frame(size_t index) const { return frames_[index]; }
  // Caps of the parsed stream, for the appsrc.
  GstCaps* caps() const { return caps_; }

 private:
  ReplayClip() = default;

  VideoCodec codec_ = VideoCodec::kH264;
  int width_ = 0;
  int height_ = 0;
  double fps_ = 25.0;
  std::vector<GstBuffer*> frames_;
  GstCaps* caps_ = nullptr;
};

// Detects the codec of an elementary stream from its name and first bytes.
bool DetectClipCodec(const std::string& path, const std::string& head, VideoCodec* codec);

// Attaches an endless feed of the clip to an appsrc: frames in order, looped,
// stamped at the clip's frame rate against the pipeline's running time.
void FeedAppSource(GstElement* appsrc, std::shared_ptr<const ReplayClip> clip);

// The clip's RTP packets for the replay sender; null unless it is H.264.
std::shared_ptr<const ReplayPackets> PrepareReplayPackets(const ReplayClip& clip);

}  // namespace strandline::sim
