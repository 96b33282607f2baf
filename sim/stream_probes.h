// Pad probes that make GStreamer's pipelines behave like a camera's encoder.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <memory>

namespace strandline::sim {

// Answers SEEKING queries at this pad with "not seekable": a camera's live
// stream has no position, and a seek (the server does one for a PLAY with a
// Range) would restart the running time under the clients already playing.
void MakeUnseekable(GstPad* payloader_src);

// Drops every buffer leaving the pad while *frozen is true: the encoder
// "hangs" and no RTP goes out.
void InstallFreezeGate(GstPad* payloader_src, std::shared_ptr<std::atomic<bool>> frozen);

// The MPEG-4 encoder of gst-libav stamps its output with an invalid time and
// moves its segment far into the future, so the server's sinks would wait for
// ever. Copies each input buffer's time stamps and the input segment onto the
// output (the encoder makes no B-frames, so output order is input order).
void RestampEncoderOutput(GstElement* encoder);

// Drops RTCP sender reports arriving on this source's output. The server joins
// its own multicast group, hears its own reports and would take them for an
// SSRC collision.
void DropSenderReports(GstElement* udp_source);

}  // namespace strandline::sim
