// Pad probes that make GStreamer's pipelines behave like a camera's encoder.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

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

// Wall-clock times (milliseconds since the epoch) at which an encoder handed
// on its latest pictures: what a recording of the stream is held against.
class PictureLog {
 public:
  void Add(long long ms);
  std::vector<long long> Times() const;

 private:
  static constexpr size_t kKept = 8192;  // minutes of pictures, a few tens of KiB
  mutable std::mutex mutex_;
  std::deque<long long> times_;
};

// Logs every buffer (one encoded picture) arriving at the payloader.
void InstallPictureLog(GstPad* payloader_sink, std::shared_ptr<PictureLog> log);

// Drops RTCP sender reports arriving on this source's output. The server joins
// its own multicast group, hears its own reports and would take them for an
// SSRC collision.
void DropSenderReports(GstElement* udp_source);

}  // namespace strandline::sim
