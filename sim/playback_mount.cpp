#include "sim/playback_mount.h"

#include <gst/app/gstappsrc.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "sim/pipeline_description.h"
#include "sim/stream_probes.h"

namespace strandline::sim {
namespace {

struct PlaybackFactory {
  GstRTSPMediaFactory parent;
  std::shared_ptr<StorageCard>* card;
};

struct PlaybackFactoryClass {
  GstRTSPMediaFactoryClass parent_class;
};

GObjectClass* g_object_parent = nullptr;

// Pushes the recording's frames stamped with their recorded spacing, then
// ends the stream.
class PlaybackFeeder {
 public:
  explicit PlaybackFeeder(std::shared_ptr<const StorageCard::Recording> recording) : recording_(std::move(recording)) {}

  void Push(GstAppSrc* src) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& frames = recording_->frames;
    if (base_ == GST_CLOCK_TIME_NONE) base_ = RunningTime(GST_ELEMENT(src));
    for (int i = 0; i < 2; ++i) {
      if (next_ >= frames.size()) {
        gst_app_src_end_of_stream(src);
        return;
      }
      GstBuffer* buffer = gst_buffer_copy(frames[next_].buffer);
      const auto offset = frames[next_].time - frames.front().time;
      GST_BUFFER_PTS(buffer) = base_ + std::chrono::duration_cast<std::chrono::nanoseconds>(offset).count();
      GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
      if (next_ == 0) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
      ++next_;
      if (gst_app_src_push_buffer(src, buffer) != GST_FLOW_OK) return;
    }
  }

 private:
  static GstClockTime RunningTime(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (!clock) return 0;
    GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    GstClockTime base = gst_element_get_base_time(element);
    return now > base ? now - base : 0;
  }

  std::mutex mutex_;
  std::shared_ptr<const StorageCard::Recording> recording_;
  GstClockTime base_ = GST_CLOCK_TIME_NONE;
  size_t next_ = 0;
};

std::optional<VideoCodec> CodecOf(GstCaps* caps) {
  if (!caps || gst_caps_get_size(caps) == 0) return std::nullopt;
  const std::string name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
  if (name == "video/x-h264") return VideoCodec::kH264;
  if (name == "video/mpeg") return VideoCodec::kMpeg4;
  if (name == "image/jpeg") return VideoCodec::kMjpeg;
  return std::nullopt;
}

GstElement* CreatePlayback(GstRTSPMediaFactory* factory, const GstRTSPUrl* url) {
  auto* self = reinterpret_cast<PlaybackFactory*>(factory);
  const auto from = ParsePlaybackTime(url && url->abspath ? url->abspath : "");
  if (!from || !self->card) return nullptr;
  auto recording = (*self->card)->From(*from);
  const auto codec = recording ? CodecOf(recording->caps) : std::nullopt;
  if (!codec) return nullptr;
  GError* error = nullptr;
  GstElement* bin = gst_parse_launch_full(ReplayPipeline(*codec).c_str(), nullptr, GST_PARSE_FLAG_PLACE_IN_BIN, &error);
  if (error) g_error_free(error);
  if (!bin) return nullptr;
  if (GstElement* src = gst_bin_get_by_name(GST_BIN(bin), kReplaySourceName)) {
    gst_app_src_set_caps(GST_APP_SRC(src), recording->caps);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = [](GstAppSrc* appsrc, guint, gpointer data) {
      static_cast<PlaybackFeeder*>(data)->Push(appsrc);
    };
    gst_app_src_set_callbacks(GST_APP_SRC(src), &callbacks, new PlaybackFeeder(std::move(recording)),
                              [](gpointer data) { delete static_cast<PlaybackFeeder*>(data); });
    gst_object_unref(src);
  }
  if (GstElement* pay = gst_bin_get_by_name(GST_BIN(bin), kPayloaderName)) {
    if (GstPad* src = gst_element_get_static_pad(pay, "src")) {
      MakeUnseekable(src);
      gst_object_unref(src);
    }
    gst_object_unref(pay);
  }
  return bin;
}

void FinalizePlayback(GObject* object) {
  auto* self = reinterpret_cast<PlaybackFactory*>(object);
  delete self->card;
  self->card = nullptr;
  g_object_parent->finalize(object);
}

GType PlaybackFactoryType() {
  static GType type = 0;
  static gsize once = 0;
  if (g_once_init_enter(&once)) {
    GTypeInfo info{};
    info.class_size = sizeof(PlaybackFactoryClass);
    info.class_init = [](gpointer klass, gpointer) {
      g_object_parent = G_OBJECT_CLASS(g_type_class_peek_parent(klass));
      static_cast<GstRTSPMediaFactoryClass*>(klass)->create_element = CreatePlayback;
      G_OBJECT_CLASS(klass)->finalize = FinalizePlayback;
    };
    info.instance_size = sizeof(PlaybackFactory);
    info.instance_init = [](GTypeInstance* instance, gpointer) {
      reinterpret_cast<PlaybackFactory*>(instance)->card = nullptr;
    };
    type = g_type_register_static(GST_TYPE_RTSP_MEDIA_FACTORY, "StrandlineSimPlaybackFactory", &info, GTypeFlags(0));
    g_once_init_leave(&once, 1);
  }
  return type;
}

GstRTSPMountPointsClass* g_mounts_parent = nullptr;

// The server finds a description's media by its exact path: every playback
// time is taken for the one playback path, which reads the time from the URL.
gchar* MakePlaybackPath(GstRTSPMountPoints* mounts, const GstRTSPUrl* url) {
  gchar* path = g_mounts_parent->make_path(mounts, url);
  const std::string prefix = std::string(kPlaybackPath) + "/datetime=";
  if (!path || std::strncmp(path, prefix.c_str(), prefix.size()) != 0) return path;
  const char* rest = std::strchr(path + prefix.size(), '/');
  gchar* shorter = g_strconcat(kPlaybackPath, rest ? rest : "", nullptr);
  g_free(path);
  return shorter;
}

GType PlaybackMountPointsType() {
  static GType type = 0;
  static gsize once = 0;
  if (g_once_init_enter(&once)) {
    GTypeInfo info{};
    info.class_size = sizeof(GstRTSPMountPointsClass);
    info.class_init = [](gpointer klass, gpointer) {
      g_mounts_parent = static_cast<GstRTSPMountPointsClass*>(g_type_class_peek_parent(klass));
      static_cast<GstRTSPMountPointsClass*>(klass)->make_path = MakePlaybackPath;
    };
    info.instance_size = sizeof(GstRTSPMountPoints);
    type = g_type_register_static(GST_TYPE_RTSP_MOUNT_POINTS, "StrandlineSimPlaybackMountPoints", &info, GTypeFlags(0));
    g_once_init_leave(&once, 1);
  }
  return type;
}

}  // namespace

GstRTSPMountPoints* NewPlaybackMountPoints() {
  return static_cast<GstRTSPMountPoints*>(g_object_new(PlaybackMountPointsType(), nullptr));
}

std::optional<StorageCard::Clock::time_point> ParsePlaybackTime(std::string_view path) {
  const std::string_view key = "datetime=";
  const size_t at = path.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string text(path.substr(at + key.size()));
  std::tm tm{};
  char rest = 0;
  if (std::sscanf(text.c_str(), "%4d.%2d.%2d.%2d.%2d.%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec, &rest) < 6 ||
      (rest != 0 && rest != '/')) {
    return std::nullopt;
  }
  if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 60) {
    return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return StorageCard::Clock::from_time_t(::timegm(&tm));
}

GstRTSPMediaFactory* NewPlaybackFactory(std::shared_ptr<StorageCard> card) {
  auto* factory = static_cast<GstRTSPMediaFactory*>(g_object_new(PlaybackFactoryType(), nullptr));
  reinterpret_cast<PlaybackFactory*>(factory)->card = new std::shared_ptr<StorageCard>(std::move(card));
  gst_rtsp_media_factory_set_shared(factory, FALSE);
  gst_rtsp_media_factory_set_protocols(
      factory, static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_UDP | GST_RTSP_LOWER_TRANS_TCP));
  return factory;
}

}  // namespace strandline::sim
