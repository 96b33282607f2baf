#pragma once

// RTSP authentication that offers Digest with SHA-256 and qop=auth ahead of
// GStreamer's own MD5 Digest, as cameras with recent firmware do. GStreamer's
// server only knows MD5, so SHA-256 answers are checked here and everything
// else goes to the stock implementation.

#include <gst/rtsp-server/rtsp-auth.h>

#include <string>

namespace strandline::sim {

// A new auth object (owned by the caller) accepting user/password with
// either algorithm; a client that passes gets token.
GstRTSPAuth* NewSha256DigestAuth(const std::string& user, const std::string& password, GstRTSPToken* token);

}  // namespace strandline::sim
