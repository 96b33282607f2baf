// The media class of the camera's "/multicast" path.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

#include <functional>

namespace strandline::sim {

// A GstRTSPMedia whose description names the multicast group's port in each
// "m=" line (the library writes port 0 there when only multicast is offered).
// Clients of this camera family listen on exactly the group and port that the
// description announces.
GType MulticastMediaType();

// Called when a new media of the path finds its group ports still taken by an
// earlier one of the same path (ended, but still referenced): it should let
// go of the earlier media's group sockets. Its argument is the new media.
using FreeGroupPorts = std::function<void(GstRTSPMedia* keep)>;
void SetFreeGroupPorts(GstRTSPMedia* media, FreeGroupPorts free_ports);

// Closes the group sockets of a media that no longer streams.
void CloseGroupSockets(GstRTSPMedia* media);

}  // namespace strandline::sim
