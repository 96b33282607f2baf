#include "sim/multicast_media.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace strandline::sim {
namespace {

struct MulticastMedia {
  GstRTSPMedia parent;
};

struct MulticastMediaClass {
  GstRTSPMediaClass parent_class;
};

GstRTSPMediaClass* g_parent_class = nullptr;
constexpr const char* kFreeGroupPortsKey = "strandline-free-group-ports";

// Binds the stream's group sockets now, before any client can learn the group
// port, and lets receivers on this host bind the same port next to them.
//
// Left to itself the server binds them only at the first SETUP, without
// address reuse: a client that (as this camera family's clients do) binds the
// announced port before it sends SETUP then makes that bind fail, SETUP is
// refused, and the stream keeps a group address the failed attempt already
// freed, so every later description comes out without a connection line.
// Binding here, before the group address is taken for the description, keeps
// a failure clean: the address goes back to the pool and DESCRIBE fails.
//
// The packets also leave from the address the client reached the camera at, as
// a camera's do (clients drop packets from other senders); on a host whose
// group route has no address of its own they would otherwise carry 0.0.0.0.
bool BindGroupSockets(GstRTSPStream* stream, const char* camera_address) {
  GstRTSPTransport* transport = nullptr;
  if (gst_rtsp_transport_new(&transport) != GST_RTSP_OK) return false;
  transport->trans = GST_RTSP_TRANS_RTP;
  transport->profile = GST_RTSP_PROFILE_AVP;
  transport->lower_transport = GST_RTSP_LOWER_TRANS_UDP_MCAST;
  transport->ttl = 1;
  bool bound = gst_rtsp_stream_allocate_udp_sockets(stream, G_SOCKET_FAMILY_IPV4, transport, FALSE);
  gst_rtsp_transport_free(transport);
  if (!bound) return false;
  GSocket* sockets[] = {gst_rtsp_stream_get_rtp_multicast_socket(stream, G_SOCKET_FAMILY_IPV4),
                        gst_rtsp_stream_get_rtcp_multicast_socket(stream, G_SOCKET_FAMILY_IPV4)};
  in_addr sender{};
  bool have_sender = camera_address && inet_pton(AF_INET, camera_address, &sender) == 1;
  for (GSocket* socket : sockets) {
    if (!socket) continue;
    int fd = g_socket_get_fd(socket);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (have_sender) setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &sender, sizeof(sender));
    g_object_unref(socket);
  }
  return true;
}

bool BindAllGroupSockets(GstRTSPMedia* media, const char* camera_address) {
  for (guint i = 0; i < gst_rtsp_media_n_streams(media); ++i) {
    GstRTSPStream* stream = gst_rtsp_media_get_stream(media, i);
    if (stream && !BindGroupSockets(stream, camera_address)) return false;
  }
  return true;
}

gboolean SetupSdp(GstRTSPMedia* media, GstSDPMessage* sdp, GstSDPInfo* info) {
  const char* camera_address = info->is_ipv6 ? nullptr : info->server_ip;
  if (!BindAllGroupSockets(media, camera_address)) {
    // An ended media of this path may still hold the ports (a client that
    // has not let go of it yet); it sends nothing more, so take them over.
    auto* free_ports = static_cast<FreeGroupPorts*>(g_object_get_data(G_OBJECT(media), kFreeGroupPortsKey));
    if (free_ports) (*free_ports)(media);
    if (!free_ports || !BindAllGroupSockets(media, camera_address)) {
      g_printerr("simulated camera: the multicast group's ports are taken\n");
      return FALSE;
    }
  }
  guint streams = gst_rtsp_media_n_streams(media);
  if (!g_parent_class->setup_sdp(media, sdp, info)) return FALSE;
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

void SetFreeGroupPorts(GstRTSPMedia* media, FreeGroupPorts free_ports) {
  g_object_set_data_full(G_OBJECT(media), kFreeGroupPortsKey, new FreeGroupPorts(std::move(free_ports)),
                         [](gpointer data) { delete static_cast<FreeGroupPorts*>(data); });
}

void CloseGroupSockets(GstRTSPMedia* media) {
  // The group's receiving elements first: a socket that a thread still polls
  // stays bound after it was closed.
  GstElement* element = gst_rtsp_media_get_element(media);
  GstObject* pipeline = element ? gst_object_get_parent(GST_OBJECT(element)) : nullptr;
  if (pipeline && GST_IS_BIN(pipeline)) {
    GstIterator* children = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    for (GstIteratorResult step = gst_iterator_next(children, &item); step != GST_ITERATOR_DONE;
         step = gst_iterator_next(children, &item)) {
      if (step == GST_ITERATOR_RESYNC) {
        gst_iterator_resync(children);
        continue;
      }
      if (step == GST_ITERATOR_ERROR) break;
      auto* child = GST_ELEMENT(g_value_get_object(&item));
      GstElementFactory* kind = gst_element_get_factory(child);
      if (kind && g_strcmp0(GST_OBJECT_NAME(kind), "udpsrc") == 0) {
        gst_element_set_locked_state(child, TRUE);
        gst_element_set_state(child, GST_STATE_NULL);
      }
      g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(children);
  }
  if (pipeline) gst_object_unref(pipeline);
  if (element) gst_object_unref(element);
  for (guint i = 0; i < gst_rtsp_media_n_streams(media); ++i) {
    GstRTSPStream* stream = gst_rtsp_media_get_stream(media, i);
    if (!stream) continue;
    GSocket* sockets[] = {gst_rtsp_stream_get_rtp_multicast_socket(stream, G_SOCKET_FAMILY_IPV4),
                          gst_rtsp_stream_get_rtcp_multicast_socket(stream, G_SOCKET_FAMILY_IPV4)};
    for (GSocket* socket : sockets) {
      if (!socket) continue;
      g_socket_close(socket, nullptr);
      g_object_unref(socket);
    }
  }
}

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
