#include "sim/rtsp_mount.h"

#include "sim/multicast_media.h"
#include "sim/pipeline_description.h"
#include "sim/stream_probes.h"

namespace strandline::sim {
namespace {

using WeakMount = std::weak_ptr<RtspMount>;

// A media factory that asks its RtspMount for the key, the pipeline and the
// media set-up.
struct MountFactory {
  GstRTSPMediaFactory parent;
  WeakMount* mount;
};

struct MountFactoryClass {
  GstRTSPMediaFactoryClass parent_class;
};

GstRTSPMediaFactoryClass* g_factory_parent = nullptr;
GObjectClass* g_factory_object_parent = nullptr;

std::shared_ptr<RtspMount> MountOf(GstRTSPMediaFactory* factory) {
  auto* self = reinterpret_cast<MountFactory*>(factory);
  return self->mount ? self->mount->lock() : nullptr;
}

gchar* FactoryGenKey(GstRTSPMediaFactory* factory, const GstRTSPUrl* url) {
  gchar* base = g_factory_parent->gen_key(factory, url);
  auto mount = MountOf(factory);
  if (!mount || !base) return base;
  gchar* key = g_strconcat(base, mount->KeySuffix().c_str(), nullptr);
  g_free(base);
  return key;
}

GstElement* FactoryCreateElement(GstRTSPMediaFactory* factory, const GstRTSPUrl*) {
  auto mount = MountOf(factory);
  return mount ? mount->CreateElement() : nullptr;
}

void FactoryConfigure(GstRTSPMediaFactory* factory, GstRTSPMedia* media) {
  g_factory_parent->configure(factory, media);
  if (auto mount = MountOf(factory)) mount->Configure(media);
}

void FactoryFinalize(GObject* object) {
  auto* self = reinterpret_cast<MountFactory*>(object);
  delete self->mount;
  self->mount = nullptr;
  g_factory_object_parent->finalize(object);
}

void FactoryClassInit(gpointer klass, gpointer) {
  g_factory_parent = static_cast<GstRTSPMediaFactoryClass*>(g_type_class_peek_parent(klass));
  g_factory_object_parent = G_OBJECT_CLASS(g_factory_parent);
  auto* factory_class = static_cast<GstRTSPMediaFactoryClass*>(klass);
  factory_class->gen_key = FactoryGenKey;
  factory_class->create_element = FactoryCreateElement;
  factory_class->configure = FactoryConfigure;
  G_OBJECT_CLASS(klass)->finalize = FactoryFinalize;
}

void FactoryInit(GTypeInstance* instance, gpointer) { reinterpret_cast<MountFactory*>(instance)->mount = nullptr; }

GType MountFactoryType() {
  static GType type = 0;
  static gsize once = 0;
  if (g_once_init_enter(&once)) {
    GTypeInfo info{};
    info.class_size = sizeof(MountFactoryClass);
    info.class_init = FactoryClassInit;
    info.instance_size = sizeof(MountFactory);
    info.instance_init = FactoryInit;
    type = g_type_register_static(GST_TYPE_RTSP_MEDIA_FACTORY, "StrandlineSimMountFactory", &info, GTypeFlags(0));
    g_once_init_leave(&once, 1);
  }
  return type;
}

void DeleteWeak(gpointer data, GClosure*) { delete static_cast<WeakMount*>(data); }

GstElement* Child(GstElement* bin, const char* name) {
  return GST_IS_BIN(bin) ? gst_bin_get_by_name(GST_BIN(bin), name) : nullptr;
}

}  // namespace

struct RtspMount::WeakMedia {
  explicit WeakMedia(GstRTSPMedia* media) { g_weak_ref_init(&ref, media); }
  ~WeakMedia() { g_weak_ref_clear(&ref); }
  WeakMedia(const WeakMedia&) = delete;
  WeakMedia& operator=(const WeakMedia&) = delete;
  GWeakRef ref;
};

std::shared_ptr<RtspMount> RtspMount::Create(const MountConfig& mount_config, SettingsSource settings,
                                             std::shared_ptr<const ReplayClip> clip,
                                             std::shared_ptr<std::atomic<bool>> frozen, GstRTSPThreadPool* pool,
                                             GMainContext* context) {
  std::shared_ptr<RtspMount> mount(
      new RtspMount(mount_config, std::move(settings), std::move(clip), std::move(frozen), pool, context));
  auto* factory = static_cast<GstRTSPMediaFactory*>(g_object_new(MountFactoryType(), nullptr));
  reinterpret_cast<MountFactory*>(factory)->mount = new WeakMount(mount);
  gst_rtsp_media_factory_set_shared(factory, TRUE);
  if (mount_config.multicast) {
    gst_rtsp_media_factory_set_protocols(factory, GST_RTSP_LOWER_TRANS_UDP_MCAST);
    gst_rtsp_media_factory_set_media_gtype(factory, MulticastMediaType());
  } else {
    gst_rtsp_media_factory_set_protocols(
        factory, static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_UDP | GST_RTSP_LOWER_TRANS_TCP));
  }
  mount->factory_ = factory;
  return mount;
}

RtspMount::RtspMount(const MountConfig& mount_config, SettingsSource settings, std::shared_ptr<const ReplayClip> clip,
                     std::shared_ptr<std::atomic<bool>> frozen, GstRTSPThreadPool* pool, GMainContext* context)
    : config_(mount_config),
      settings_(std::move(settings)),
      clip_(std::move(clip)),
      frozen_(std::move(frozen)),
      pool_(GST_RTSP_THREAD_POOL(g_object_ref(pool))),
      context_(g_main_context_ref(context)) {}

RtspMount::~RtspMount() {
  if (held_) {
    gst_rtsp_media_unprepare(held_);
    g_object_unref(held_);
  }
  if (factory_) g_object_unref(factory_);
  g_object_unref(pool_);
  g_main_context_unref(context_);
}

std::string RtspMount::KeySuffix() {
  std::string suffix = "|g" + std::to_string(generation_);
  pending_ = settings_(config_.encoder);
  if (clip_) return suffix + "|replay|a" + std::to_string(pending_.audio_hz);
  return suffix + "|" + pending_.Signature();
}

GstElement* RtspMount::CreateElement() {
  std::string description =
      clip_ ? ReplayPipeline(clip_->codec()) : LivePipeline(pending_, config_.with_clock, config_.sliced);
  description += AudioBranch(pending_.audio_hz);
  GError* error = nullptr;
  GstElement* element = gst_parse_launch_full(description.c_str(), nullptr, GST_PARSE_FLAG_PLACE_IN_BIN, &error);
  if (error) {
    g_printerr("simulated camera: cannot build \"%s\": %s\n", description.c_str(), error->message);
    g_error_free(error);
  }
  if (element && clip_) {
    if (GstElement* src = Child(element, kReplaySourceName)) {
      FeedAppSource(src, clip_);
      gst_object_unref(src);
    }
  }
  return element;
}

void RtspMount::Configure(GstRTSPMedia* media) {
  GstElement* element = gst_rtsp_media_get_element(media);
  // A shared media answers every DESCRIBE with 503 once a client has set up
  // only some of its streams (the microphone alone, say): with the
  // microphone on, each unicast session gets a media of its own.
  if (pending_.audio_hz > 0 && !config_.multicast) gst_rtsp_media_set_shared(media, FALSE);
  for (const char* name : {kPayloaderName, kAudioPayloaderName}) {
    if (GstElement* pay = Child(element, name)) {
      if (GstPad* src = gst_element_get_static_pad(pay, "src")) {
        MakeUnseekable(src);
        InstallFreezeGate(src, frozen_);
        gst_object_unref(src);
      }
      gst_object_unref(pay);
    }
  }
  if (pictures_) {
    if (GstElement* pay = Child(element, kPayloaderName)) {
      if (GstPad* sink = gst_element_get_static_pad(pay, "sink")) {
        InstallPictureLog(sink, pictures_);
        gst_object_unref(sink);
      }
      gst_object_unref(pay);
    }
  }
  if (card_ && !config_.multicast && config_.encoder == 1) {
    if (GstElement* pay = Child(element, kPayloaderName)) {
      card_->Tap(pay);
      gst_object_unref(pay);
    }
  }
  if (GstElement* encoder = Child(element, kEncoderName)) {
    GstElementFactory* kind = gst_element_get_factory(encoder);
    if (kind && g_strcmp0(GST_OBJECT_NAME(kind), "avenc_mpeg4") == 0) RestampEncoderOutput(encoder);
    gst_object_unref(encoder);
  }
  if (config_.multicast) {
    // A pool of its own for every media: an ended media that someone still
    // holds keeps its reservation of the group, and the next media of this
    // path needs the same group and port.
    GstRTSPAddressPool* pool = gst_rtsp_address_pool_new();
    gst_rtsp_address_pool_add_range(pool, config_.group.c_str(), config_.group.c_str(), config_.group_port,
                                    static_cast<uint16_t>(config_.group_port + 1), 1);
    // The microphone track takes the pair kAudioGroupPortOffset above it.
    if (pending_.audio_hz > 0) {
      const auto audio_port = static_cast<uint16_t>(config_.group_port + kAudioGroupPortOffset);
      gst_rtsp_address_pool_add_range(pool, config_.group.c_str(), config_.group.c_str(), audio_port,
                                      static_cast<uint16_t>(audio_port + 1), 1);
    }
    gst_rtsp_media_set_address_pool(media, pool);
    g_object_unref(pool);
    SetFreeGroupPorts(media, [weak = weak_from_this()](GstRTSPMedia* keep) {
      if (auto mount = weak.lock()) mount->FreeGroupPorts(keep);
    });
  }
  if (config_.multicast && element) {
    // The server joins its own group and would hear its own RTCP reports;
    // the UDP sources it adds for the group must not pass them on.
    if (GstObject* pipeline = gst_object_get_parent(GST_OBJECT(element))) {
      if (GST_IS_BIN(pipeline)) {
        g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(+[](GstBin*, GstBin*, GstElement* added, gpointer) {
                           GstElementFactory* kind = gst_element_get_factory(added);
                           if (kind && g_strcmp0(GST_OBJECT_NAME(kind), "udpsrc") == 0) DropSenderReports(added);
                         }),
                         nullptr);
      }
      gst_object_unref(pipeline);
    }
  }
  if (element) gst_object_unref(element);
  g_signal_connect_data(media, "prepared", G_CALLBACK(OnPreparedSignal), new WeakMount(weak_from_this()), DeleteWeak,
                        GConnectFlags(0));
  g_signal_connect_data(media, "unprepared", G_CALLBACK(OnUnpreparedSignal), new WeakMount(weak_from_this()),
                        DeleteWeak, GConnectFlags(0));
}

void RtspMount::OnPreparedSignal(GstRTSPMedia* media, gpointer data) {
  if (auto mount = static_cast<WeakMount*>(data)->lock()) mount->OnPrepared(media);
}

void RtspMount::OnUnpreparedSignal(GstRTSPMedia* media, gpointer data) {
  if (auto mount = static_cast<WeakMount*>(data)->lock()) mount->OnUnprepared(media);
}

void RtspMount::OnPrepared(GstRTSPMedia* media) {
  if (shutdown_ || held_ == media || !gst_rtsp_media_is_shared(media)) return;
  // One more prepare of our own keeps the encoder running between sessions.
  GstRTSPThread* thread = gst_rtsp_thread_pool_get_thread(pool_, GST_RTSP_THREAD_TYPE_MEDIA, nullptr);
  if (!thread || !gst_rtsp_media_prepare(media, thread)) return;
  GstRTSPMedia* old = held_;
  held_ = GST_RTSP_MEDIA(g_object_ref(media));
  if (old) ReleaseLater(old);
}

void RtspMount::OnUnprepared(GstRTSPMedia* media) {
  MarkEnded(media);
  // An encoder that failed and was taken down is no longer ours to keep.
  if (held_ == media) {
    held_ = nullptr;
    ReleaseLater(media);
  }
}

void RtspMount::ReleaseLater(GstRTSPMedia* media) {
  // Not from inside the server's own call chain: the factory may hold its locks.
  GSource* idle = g_idle_source_new();
  g_source_set_callback(
      idle,
      [](gpointer data) -> gboolean {
        auto* m = static_cast<GstRTSPMedia*>(data);
        gst_rtsp_media_unprepare(m);
        return G_SOURCE_REMOVE;
      },
      media, g_object_unref);
  g_source_attach(idle, context_);
  g_source_unref(idle);
}

void RtspMount::SendBye() {
  ++generation_;
  if (!held_) return;
  if (GstElement* element = gst_rtsp_media_get_element(held_)) {
    // End of stream makes the RTP session send BYE for its source.
    gst_element_send_event(element, gst_event_new_eos());
    // The still noise layer never ends by itself; the mixer ends once all its inputs have.
    if (GstElement* mixer = Child(element, kNoiseMixerName)) {
      if (GstPad* still = gst_element_get_static_pad(mixer, kNoiseStillPad)) {
        gst_pad_send_event(still, gst_event_new_eos());
        gst_object_unref(still);
      }
      gst_object_unref(mixer);
    }
    gst_object_unref(element);
  }
  GstRTSPMedia* old = held_;
  held_ = nullptr;
  MarkEnded(old);
  ReleaseLater(old);
}

void RtspMount::MarkEnded(GstRTSPMedia* media) {
  if (!config_.multicast) return;
  std::erase_if(ended_, [](const std::unique_ptr<WeakMedia>& weak) {
    GObject* alive = static_cast<GObject*>(g_weak_ref_get(&weak->ref));
    if (alive) g_object_unref(alive);
    return alive == nullptr;
  });
  ended_.push_back(std::make_unique<WeakMedia>(media));
}

void RtspMount::FreeGroupPorts(GstRTSPMedia* keep) {
  for (auto& weak : ended_) {
    auto* media = static_cast<GstRTSPMedia*>(g_weak_ref_get(&weak->ref));
    if (!media) continue;
    if (media != keep) CloseGroupSockets(media);
    g_object_unref(media);
  }
}

void RtspMount::Shutdown() {
  shutdown_ = true;
  if (held_) {
    GstRTSPMedia* media = held_;
    held_ = nullptr;
    gst_rtsp_media_unprepare(media);
    g_object_unref(media);
  }
}

}  // namespace strandline::sim
