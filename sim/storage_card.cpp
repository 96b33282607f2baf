#include "sim/storage_card.h"

#include <algorithm>

namespace strandline::sim {

StorageCard::Recording::~Recording() {
  for (Frame& frame : frames) gst_buffer_unref(frame.buffer);
  if (caps) gst_caps_unref(caps);
}

StorageCard::StorageCard(bool mounted, std::chrono::seconds keep, size_t max_bytes)
    : mounted_(mounted), keep_(keep), max_bytes_(max_bytes), self_(std::make_shared<StorageCard*>(this)) {}

StorageCard::~StorageCard() {
  std::lock_guard<std::mutex> lock(mutex_);
  *self_ = nullptr;
  for (Frame& frame : frames_) gst_buffer_unref(frame.buffer);
  if (caps_) gst_caps_unref(caps_);
}

void StorageCard::SetMounted(bool mounted) {
  mounted_ = mounted;
  if (mounted) return;
  std::lock_guard<std::mutex> lock(mutex_);
  while (!frames_.empty()) DropOldest();
}

size_t StorageCard::FrameCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

void StorageCard::DropOldest() {
  bytes_ -= gst_buffer_get_size(frames_.front().buffer);
  gst_buffer_unref(frames_.front().buffer);
  frames_.pop_front();
}

void StorageCard::Tap(GstElement* payloader) {
  GstPad* sink = gst_element_get_static_pad(payloader, "sink");
  if (!sink) return;
  auto* link = new std::weak_ptr<StorageCard*>(self_);
  gst_pad_add_probe(
      sink, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad* pad, GstPadProbeInfo* info, gpointer data) -> GstPadProbeReturn {
        auto card = static_cast<std::weak_ptr<StorageCard*>*>(data)->lock();
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!card || !*card || !buffer) return GST_PAD_PROBE_OK;
        GstCaps* caps = gst_pad_get_current_caps(pad);
        (*card)->Record(buffer, caps, Clock::now(), pad);
        if (caps) gst_caps_unref(caps);
        return GST_PAD_PROBE_OK;
      },
      link, [](gpointer data) { delete static_cast<std::weak_ptr<StorageCard*>*>(data); });
  gst_object_unref(sink);
}

void StorageCard::Record(GstBuffer* buffer, GstCaps* caps, Clock::time_point time, const void* source) {
  if (!mounted_ || !buffer || gst_buffer_get_size(buffer) == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (source != source_) {
    if (source_ && time - source_seen_ < std::chrono::seconds(1)) return;
    source_ = source;
  }
  source_seen_ = time;
  if (caps && (!caps_ || !gst_caps_is_equal(caps, caps_))) gst_caps_replace(&caps_, caps);
  frames_.push_back({time, gst_buffer_ref(buffer)});
  bytes_ += gst_buffer_get_size(buffer);
  while (!frames_.empty() && (bytes_ > max_bytes_ || time - frames_.front().time > keep_.load())) DropOldest();
}

std::shared_ptr<const StorageCard::Recording> StorageCard::From(Clock::time_point from) const {
  if (!mounted_) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  auto first = std::lower_bound(frames_.begin(), frames_.end(), from,
                                [](const Frame& frame, Clock::time_point t) { return frame.time < t; });
  if (first == frames_.end() || !caps_) return nullptr;
  auto recording = std::make_shared<Recording>();
  recording->caps = gst_caps_ref(caps_);
  for (auto it = first; it != frames_.end(); ++it) recording->frames.push_back({it->time, gst_buffer_ref(it->buffer)});
  return recording;
}

}  // namespace strandline::sim
