#include "sim/replay_clip.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <fstream>
#include <mutex>

namespace strandline::sim {
namespace {

constexpr size_t kMaxFrames = 200000;
constexpr size_t kMaxBytes = size_t{1} << 30;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool EndsWith(const std::string& text, const char* suffix) {
  std::string s(suffix);
  return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

std::string ErrorFromBus(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  std::string text;
  while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    if (error && text.empty()) text = error->message;
    if (error) g_error_free(error);
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  return text;
}

// Pushes the clip's frames for ever, one need-data at a time.
class Feeder {
 public:
  explicit Feeder(std::shared_ptr<const ReplayClip> clip)
      : clip_(std::move(clip)), duration_(static_cast<GstClockTime>(GST_SECOND / clip_->fps())) {}

  void Push(GstAppSrc* src) {
    std::lock_guard<std::mutex> lock(mutex_);
    GstClockTime now = RunningTime(GST_ELEMENT(src));
    if (now != GST_CLOCK_TIME_NONE) {
      // Start at the current running time, and catch up after a stall instead of bursting.
      if (next_pts_ == GST_CLOCK_TIME_NONE || next_pts_ + 3 * duration_ < now || next_pts_ > now + 2 * GST_SECOND) {
        next_pts_ = now;
      }
    } else if (next_pts_ == GST_CLOCK_TIME_NONE) {
      next_pts_ = 0;
    }
    for (int i = 0; i < 2; ++i) {
      GstBuffer* buffer = gst_buffer_copy(clip_->frame(next_frame_));
      GST_BUFFER_PTS(buffer) = next_pts_;
      GST_BUFFER_DTS(buffer) = next_pts_;
      GST_BUFFER_DURATION(buffer) = duration_;
      if (next_frame_ == 0) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
      next_pts_ += duration_;
      next_frame_ = (next_frame_ + 1) % clip_->frame_count();
      if (gst_app_src_push_buffer(src, buffer) != GST_FLOW_OK) break;
    }
  }

 private:
  static GstClockTime RunningTime(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (!clock) return GST_CLOCK_TIME_NONE;
    GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    GstClockTime base = gst_element_get_base_time(element);
    return now > base ? now - base : 0;
  }

  std::mutex mutex_;
  std::shared_ptr<const ReplayClip> clip_;
  GstClockTime duration_;
  GstClockTime next_pts_ = GST_CLOCK_TIME_NONE;
  size_t next_frame_ = 0;
};

void OnNeedData(GstAppSrc* src, guint, gpointer data) { static_cast<Feeder*>(data)->Push(src); }

void DeleteFeeder(gpointer data) { delete static_cast<Feeder*>(data); }

}  // namespace

bool DetectClipCodec(const std::string& path, const std::string& head, VideoCodec* codec) {
  std::string name = Lower(path);
  if (EndsWith(name, ".h264") || EndsWith(name, ".264") || EndsWith(name, ".avc")) {
    *codec = VideoCodec::kH264;
    return true;
  }
  if (EndsWith(name, ".m4v") || EndsWith(name, ".mpeg4") || EndsWith(name, ".mp4v")) {
    *codec = VideoCodec::kMpeg4;
    return true;
  }
  if (EndsWith(name, ".mjpeg") || EndsWith(name, ".mjpg") || EndsWith(name, ".jpg") || EndsWith(name, ".jpeg")) {
    *codec = VideoCodec::kMjpeg;
    return true;
  }
  auto byte = [&head](size_t i) { return static_cast<unsigned char>(head[i]); };
  if (head.size() >= 3 && byte(0) == 0xFF && byte(1) == 0xD8 && byte(2) == 0xFF) {
    *codec = VideoCodec::kMjpeg;
    return true;
  }
  // The first start code's next byte: MPEG-4 Visual uses 0x00-0x2F and 0xB0-0xB6, H.264 a NAL header.
  for (size_t i = 0; i + 3 < head.size(); ++i) {
    if (byte(i) == 0 && byte(i + 1) == 0 && byte(i + 2) == 1) {
      unsigned char code = byte(i + 3);
      bool mpeg4 = code <= 0x2F || (code >= 0xB0 && code <= 0xB6);
      bool h264 = (code & 0x80) == 0 && (code & 0x1F) >= 1 && (code & 0x1F) <= 12;
      if (code == 0x00 || code >= 0x20) {
        *codec = mpeg4 ? VideoCodec::kMpeg4 : VideoCodec::kH264;
        return mpeg4 || h264;
      }
      // 0x01..0x1F: an MPEG-4 video object or an H.264 NAL of the same value; H.264
      // streams begin with parameter sets (0x67) or AUD/SEI, never a VO code alone.
      *codec = (code == 0x09 || code == 0x06) ? VideoCodec::kH264 : VideoCodec::kMpeg4;
      return true;
    }
  }
  return false;
}

ReplayClip::~ReplayClip() {
  for (GstBuffer* frame : frames_) gst_buffer_unref(frame);
  if (caps_) gst_caps_unref(caps_);
}

std::shared_ptr<const ReplayClip> ReplayClip::Load(const std::string& path, std::string* error) {
  auto fail = [error](const std::string& why) -> std::shared_ptr<const ReplayClip> {
    if (error) *error = why;
    return nullptr;
  };
  std::string head(64, '\0');
  {
    std::ifstream file(path, std::ios::binary);
    if (!file) return fail("cannot open " + path);
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(file.gcount()));
  }
  std::shared_ptr<ReplayClip> clip(new ReplayClip);
  if (!DetectClipCodec(path, head, &clip->codec_)) return fail("unknown clip format: " + path);

  const char* parser = "h264parse ! video/x-h264,stream-format=byte-stream,alignment=au";
  if (clip->codec_ == VideoCodec::kMpeg4) parser = "mpeg4videoparse";
  if (clip->codec_ == VideoCodec::kMjpeg) parser = "jpegparse";
  std::string description =
      std::string("filesrc name=file ! ") + parser + " ! appsink name=sink sync=false max-buffers=64";
  GError* parse_error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &parse_error);
  if (!pipeline) {
    std::string why = parse_error ? parse_error->message : "parse failed";
    if (parse_error) g_error_free(parse_error);
    return fail(why);
  }
  if (parse_error) g_error_free(parse_error);
  GstElement* file = gst_bin_get_by_name(GST_BIN(pipeline), "file");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_object_set(file, "location", path.c_str(), nullptr);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);

  size_t bytes = 0;
  std::string why;
  while (true) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND);
    if (!sample) {
      if (gst_app_sink_is_eos(GST_APP_SINK(sink))) break;
      why = ErrorFromBus(pipeline);
      if (!why.empty()) break;
      continue;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer && gst_buffer_get_size(buffer) > 0) {
      bytes += gst_buffer_get_size(buffer);
      clip->frames_.push_back(gst_buffer_ref(buffer));
    }
    if (GstCaps* caps = gst_sample_get_caps(sample)) gst_caps_replace(&clip->caps_, caps);
    gst_sample_unref(sample);
    if (clip->frames_.size() >= kMaxFrames || bytes >= kMaxBytes) break;
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(file);
  gst_object_unref(sink);
  gst_object_unref(pipeline);

  if (clip->frames_.empty()) return fail(why.empty() ? "no frames in " + path : why);
  if (clip->caps_) {
    const GstStructure* s = gst_caps_get_structure(clip->caps_, 0);
    gst_structure_get_int(s, "width", &clip->width_);
    gst_structure_get_int(s, "height", &clip->height_);
    int num = 0;
    int den = 1;
    if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0) {
      clip->fps_ = static_cast<double>(num) / den;
    }
  }
  return clip;
}

void FeedAppSource(GstElement* appsrc, std::shared_ptr<const ReplayClip> clip) {
  GstAppSrc* src = GST_APP_SRC(appsrc);
  if (clip->caps()) gst_app_src_set_caps(src, clip->caps());
  GstAppSrcCallbacks callbacks{};
  callbacks.need_data = OnNeedData;
  gst_app_src_set_callbacks(src, &callbacks, new Feeder(std::move(clip)), DeleteFeeder);
}

std::shared_ptr<const ReplayPackets> PrepareReplayPackets(const ReplayClip& clip) {
  if (clip.codec() != VideoCodec::kH264) return nullptr;
  std::vector<GstMapInfo> maps(clip.frame_count());
  std::vector<std::string_view> units;
  units.reserve(clip.frame_count());
  for (size_t i = 0; i < clip.frame_count(); ++i) {
    if (!gst_buffer_map(clip.frame(i), &maps[i], GST_MAP_READ)) maps[i] = GstMapInfo{};
    units.emplace_back(reinterpret_cast<const char*>(maps[i].data), maps[i].size);
  }
  std::shared_ptr<const ReplayPackets> packets = ReplayPackets::FromAccessUnits(units, clip.fps());
  for (size_t i = 0; i < clip.frame_count(); ++i) {
    if (maps[i].memory) gst_buffer_unmap(clip.frame(i), &maps[i]);
  }
  return packets;
}

}  // namespace strandline::sim
