#include "sim/stream_probes.h"

#include <chrono>

namespace strandline::sim {
namespace {

GstPadProbeReturn OnSeekingQuery(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (!query || GST_QUERY_TYPE(query) != GST_QUERY_SEEKING) return GST_PAD_PROBE_OK;
  GstFormat format;
  gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
  gst_query_set_seeking(query, format, FALSE, 0, -1);
  return GST_PAD_PROBE_HANDLED;
}

GstPadProbeReturn OnFreezeGate(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* frozen = static_cast<std::shared_ptr<std::atomic<bool>>*>(data);
  return (*frozen)->load() ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// Time stamps and segment seen at the encoder's input, waiting for the output.
struct RestampState {
  std::mutex mutex;
  std::deque<std::pair<GstClockTime, GstClockTime>> times;  // PTS, duration
  GstSegment segment;
  bool have_segment = false;
};

using SharedRestamp = std::shared_ptr<RestampState>;

GstPadProbeReturn OnEncoderInput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  RestampState* state = static_cast<SharedRestamp*>(data)->get();
  std::lock_guard<std::mutex> lock(state->mutex);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    state->times.emplace_back(GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer));
    // A frame the encoder swallowed must not shift every later one for ever.
    while (state->times.size() > 64) state->times.pop_front();
  } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info)) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      gst_segment_copy_into(segment, &state->segment);
      state->have_segment = true;
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
      state->times.clear();
    }
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnEncoderOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  RestampState* state = static_cast<SharedRestamp*>(data)->get();
  std::lock_guard<std::mutex> lock(state->mutex);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
    if (state->times.empty()) return GST_PAD_PROBE_OK;
    auto [pts, duration] = state->times.front();
    state->times.pop_front();
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = duration;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
  } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info)) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT && state->have_segment) {
      GstEvent* replacement = gst_event_new_segment(&state->segment);
      gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
      gst_event_unref(event);
      GST_PAD_PROBE_INFO_DATA(info) = replacement;
    }
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnRtcpInput(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!buffer) return GST_PAD_PROBE_OK;
  guint8 header[2];
  if (gst_buffer_extract(buffer, 0, header, sizeof(header)) == sizeof(header) && header[1] == 200) {
    return GST_PAD_PROBE_DROP;
  }
  return GST_PAD_PROBE_OK;
}

template <typename T>
void DeleteData(gpointer data) {
  delete static_cast<T*>(data);
}

}  // namespace

void MakeUnseekable(GstPad* payloader_src) {
  gst_pad_add_probe(payloader_src, GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, OnSeekingQuery, nullptr, nullptr);
}

void InstallFreezeGate(GstPad* payloader_src, std::shared_ptr<std::atomic<bool>> frozen) {
  gst_pad_add_probe(payloader_src,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    OnFreezeGate, new std::shared_ptr<std::atomic<bool>>(std::move(frozen)),
                    DeleteData<std::shared_ptr<std::atomic<bool>>>);
}

void PictureLog::Add(long long ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  times_.push_back(ms);
  if (times_.size() > kKept) times_.pop_front();
}

std::vector<long long> PictureLog::Times() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {times_.begin(), times_.end()};
}

void InstallPictureLog(GstPad* payloader_sink, std::shared_ptr<PictureLog> log) {
  gst_pad_add_probe(
      payloader_sink, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer data) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        (*static_cast<std::shared_ptr<PictureLog>*>(data))
            ->Add(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
        return GST_PAD_PROBE_OK;
      },
      new std::shared_ptr<PictureLog>(std::move(log)), DeleteData<std::shared_ptr<PictureLog>>);
}

void RestampEncoderOutput(GstElement* encoder) {
  GstPad* sink = gst_element_get_static_pad(encoder, "sink");
  GstPad* src = gst_element_get_static_pad(encoder, "src");
  if (sink && src) {
    auto state = std::make_shared<RestampState>();
    gst_segment_init(&state->segment, GST_FORMAT_TIME);
    auto both = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
    gst_pad_add_probe(sink, both, OnEncoderInput, new SharedRestamp(state), DeleteData<SharedRestamp>);
    gst_pad_add_probe(src, both, OnEncoderOutput, new SharedRestamp(state), DeleteData<SharedRestamp>);
  }
  if (sink) gst_object_unref(sink);
  if (src) gst_object_unref(src);
}

void DropSenderReports(GstElement* udp_source) {
  GstPad* src = gst_element_get_static_pad(udp_source, "src");
  if (!src) return;
  gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, OnRtcpInput, nullptr, nullptr);
  gst_object_unref(src);
}

}  // namespace strandline::sim
