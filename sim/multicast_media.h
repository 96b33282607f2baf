// The media class of the camera's "/multicast" path.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

namespace strandline::sim {

// A GstRTSPMedia whose description names the multicast group's port in each
// "m=" line (the library writes port 0 there when only multicast is offered).
// Clients of this camera family listen on exactly the group and port that the
// description announces.
GType MulticastMediaType();

}  // namespace strandline::sim
