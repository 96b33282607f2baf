#include "sim/multicast_media.h"

namespace strandline::sim {
namespace {

struct MulticastMedia {
  GstRTSPMedia parent;
};

struct MulticastMediaClass {
  GstRTSPMediaClass parent_class;
};

GstRTSPMediaClass* g_parent_class = nullptr;

gboolean SetupSdp(GstRTSPMedia* media, GstSDPMessage* sdp, GstSDPInfo* info) {
  if (!g_parent_class->setup_sdp(media, sdp, info)) return FALSE;
  guint streams = gst_rtsp_media_n_streams(media);
  for (guint i = 0; i < gst_sdp_message_medias_len(sdp) && i < streams; ++i) {
    auto* section = const_cast<GstSDPMedia*>(gst_sdp_message_get_media(sdp, i));
    if (gst_sdp_media_get_port(section) != 0) continue;
    GstRTSPStream* stream = gst_rtsp_media_get_stream(media, i);
    if (!stream) continue;
    if (GstRTSPAddress* address = gst_rtsp_stream_get_multicast_address(stream, G_SOCKET_FAMILY_IPV4)) {
      gst_sdp_media_set_port_info(section, address->port, 1);
      gst_rtsp_address_free(address);
    }
  }
  return TRUE;
}

void ClassInit(gpointer klass, gpointer) {
  g_parent_class = static_cast<GstRTSPMediaClass*>(g_type_class_peek_parent(klass));
  static_cast<GstRTSPMediaClass*>(klass)->setup_sdp = SetupSdp;
}

}  // namespace

GType MulticastMediaType() {
  static GType type = 0;
  static gsize once = 0;
  if (g_once_init_enter(&once)) {
    GTypeInfo info{};
    info.class_size = sizeof(MulticastMediaClass);
    info.class_init = ClassInit;
    info.instance_size = sizeof(MulticastMedia);
    type = g_type_register_static(GST_TYPE_RTSP_MEDIA, "StrandlineSimMulticastMedia", &info, GTypeFlags(0));
    g_once_init_leave(&once, 1);
  }
  return type;
}

}  // namespace strandline::sim
