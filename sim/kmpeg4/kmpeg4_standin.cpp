// The stand-in vendor library. Streaming: an RTSP session to the simulated
// camera (GStreamer), whose MPEG-4 pictures go to the raw-data callback as
// they arrive, configuration header in front of each key frame. Audio: the
// 16-bit samples go to the camera's loudspeaker over HTTP.
#include <curl/curl.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kmpeg4_api.h"
#include "sim/kmpeg4/standin_faults.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using strandline::standin::CurrentFaults;
using strandline::standin::MaybeBlock;

std::atomic<int> gStreams{0};  // streams started by this process, for the stall fault

struct Interface {
  std::mutex mutex;
  std::string address, user, password;
  uint32_t httpPort = 80;
  uint32_t input = 1;
  uint32_t rtspPort = 0;
  int32_t tcpType = 1;
  bool configured = false;
  void* context = nullptr;
  KRawDataCallback callback = nullptr;
  GstElement* pipeline = nullptr;
  std::atomic<bool> streaming{false};
  // Set before streaming starts, read on GStreamer's thread.
  std::atomic<uint32_t> stallAfterMs{0};
  std::atomic<int64_t> streamingSinceMs{0};
  CURL* audio = nullptr;
  bool token = false;
};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

std::string Escape(CURL* curl, const std::string& text) {
  char* escaped = curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size()));
  std::string out = escaped ? escaped : "";
  curl_free(escaped);
  return out;
}

// GET or POST to the camera; true on status 200 with an answer free of "ERROR".
bool Http(CURL* curl, const std::string& address, uint32_t port, const std::string& target, const std::string* body,
          std::string* answer) {
  std::string text;
  const std::string url = "http://" + address + ":" + std::to_string(port) + target;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &text);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (body != nullptr) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  long status = 0;
  const bool ok = curl_easy_perform(curl) == CURLE_OK &&
                  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200 &&
                  text.find("ERROR") == std::string::npos;
  if (answer != nullptr) *answer = text;
  return ok;
}

std::string Login(CURL* curl, const std::string& user, const std::string& password) {
  return "USER=" + Escape(curl, user) + "&PWD=" + Escape(curl, password);
}

bool HasSequenceHeader(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 4 <= size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB0) return true;
  }
  return false;
}

bool IsIntraPicture(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 4 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) return data[i + 4] < 64;
  }
  return false;
}

GstFlowReturn OnSample(GstAppSink* sink, gpointer self) {
  auto* k = static_cast<Interface*>(self);
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (sample == nullptr) return GST_FLOW_OK;
  const uint32_t stallAfter = k->stallAfterMs.load();
  const bool stalled = stallAfter != 0 && NowMs() - k->streamingSinceMs.load() > stallAfter;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  if (k->streaming.load() && !stalled && buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    std::vector<uint8_t> block;
    // The camera sends its configuration out of band; the library hands it
    // over in front of every key frame that lacks it.
    if (IsIntraPicture(map.data, map.size) && !HasSequenceHeader(map.data, map.size)) {
      const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
      const GValue* value = caps ? gst_structure_get_value(caps, "codec_data") : nullptr;
      if (value != nullptr && GST_VALUE_HOLDS_BUFFER(value)) {
        GstMapInfo config;
        GstBuffer* configBuffer = gst_value_get_buffer(value);
        if (gst_buffer_map(configBuffer, &config, GST_MAP_READ)) {
          block.assign(config.data, config.data + config.size);
          gst_buffer_unmap(configBuffer, &config);
        }
      }
    }
    block.insert(block.end(), map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    if (k->callback != nullptr) k->callback(k->context, 1, block.data(), static_cast<uint32_t>(block.size()));
  }
  gst_sample_unref(sample);
  return GST_FLOW_OK;
}

void ClosePipeline(Interface* k) {
  GstElement* pipeline = nullptr;
  {
    std::lock_guard<std::mutex> guard(k->mutex);
    std::swap(pipeline, k->pipeline);
  }
  if (pipeline == nullptr) return;
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

// Waits for the stream to run, an error, or the time limit.
bool WaitPlaying(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  bool playing = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!playing && std::chrono::steady_clock::now() < end) {
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 200 * GST_MSECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_STATE_CHANGED));
    if (message == nullptr) continue;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
      gst_message_unref(message);
      break;
    }
    if (GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline)) {
      GstState state;
      gst_message_parse_state_changed(message, nullptr, &state, nullptr);
      playing = state == GST_STATE_PLAYING;
    }
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  return playing;
}

}  // namespace

STANDIN_EXPORT KHandle KOpenInterface(void) {
  MaybeBlock("KOpenInterface");
  static std::once_flag once;
  std::call_once(once, [] {
    gst_init(nullptr, nullptr);
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
  return new Interface;
}

STANDIN_EXPORT int KGetPortInfoByHTTP(KHandle handle, uint8_t* result, const char* address, uint32_t httpPort,
                                      const char* user, const char* password, uint32_t input) {
  MaybeBlock("KGetPortInfoByHTTP");
  if (handle == nullptr || result == nullptr || address == nullptr) return 0;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return 0;
  std::string answer;
  const bool ok = Http(curl, address, httpPort,
                       "/cgi-bin/update?" + Login(curl, user ? user : "", password ? password : "") + "&CONFIG_GET",
                       nullptr, &answer);
  curl_easy_cleanup(curl);
  if (!ok) return 0;
  // A video server names one RTSP port per input, a camera just one.
  char key[32];
  std::snprintf(key, sizeof key, "%02u_V2_PORT_RTSP='", input);
  size_t at = answer.find(key);
  if (at == std::string::npos) {
    at = answer.find("V2_PORT_RTSP='");
    std::snprintf(key, sizeof key, "V2_PORT_RTSP='");
  }
  if (at == std::string::npos) return 0;
  const uint32_t port = static_cast<uint32_t>(std::strtoul(answer.c_str() + at + std::strlen(key), nullptr, 10));
  if (port == 0 || port > 65535) return 0;
  for (size_t offset : {12, 16, 20}) std::memcpy(result + offset, &port, 4);
  return 1;
}

STANDIN_EXPORT int32_t KGetTCPTypeByHTTP(KHandle, const char*, uint32_t, const char*, const char*, uint32_t) {
  MaybeBlock("KGetTCPTypeByHTTP");
  return 1;  // interleaved over the RTSP connection
}

STANDIN_EXPORT void KSetTCPType(KHandle handle, int32_t type) {
  MaybeBlock("KSetTCPType");
  if (handle != nullptr) static_cast<Interface*>(handle)->tcpType = type;
}

STANDIN_EXPORT int KSetMediaConfig(KHandle handle, const uint8_t* record) {
  MaybeBlock("KSetMediaConfig");
  if (handle == nullptr || record == nullptr) return 0;
  auto* k = static_cast<Interface*>(handle);
  auto u32 = [record](size_t at) {
    uint32_t value;
    std::memcpy(&value, record + at, 4);
    return value;
  };
  auto text = [record](size_t at, size_t size) {
    return std::string(reinterpret_cast<const char*>(record + at),
                       strnlen(reinterpret_cast<const char*>(record + at), size));
  };
  if (u32(0) != 5) return 0;
  std::lock_guard<std::mutex> guard(k->mutex);
  k->input = static_cast<uint32_t>(record[4]) | (static_cast<uint32_t>(record[5]) << 8);
  k->address = text(8, 16);
  k->user = text(296, 64);
  k->password = text(360, 64);
  k->rtspPort = u32(424);
  k->httpPort = u32(448) & 0xFFFFu;
  k->configured = !k->address.empty() && k->httpPort != 0;
  return k->configured ? 1 : 0;
}

STANDIN_EXPORT void KSetRawDataCallback(KHandle handle, void* context, KRawDataCallback callback) {
  MaybeBlock("KSetRawDataCallback");
  if (handle == nullptr) return;
  auto* k = static_cast<Interface*>(handle);
  std::lock_guard<std::mutex> guard(k->mutex);
  k->context = context;
  k->callback = callback;
}

STANDIN_EXPORT int KConnect(KHandle handle) {
  MaybeBlock("KConnect");
  if (handle == nullptr || CurrentFaults().refuseConnect) return 0;
  auto* k = static_cast<Interface*>(handle);
  ClosePipeline(k);
  std::string description;
  {
    std::lock_guard<std::mutex> guard(k->mutex);
    if (!k->configured || k->rtspPort == 0 || k->rtspPort > 65535) return 0;
    description = "rtspsrc name=src latency=0 location=rtsp://" + k->address + ":" + std::to_string(k->rtspPort) +
                  "/ protocols=" + (k->tcpType == 1 ? "tcp" : "udp") +
                  " ! rtpmp4vdepay ! appsink name=sink sync=false max-buffers=60 drop=true";
  }
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr || error != nullptr) {
    if (error != nullptr) g_error_free(error);
    if (pipeline != nullptr) gst_object_unref(pipeline);
    return 0;
  }
  GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  if (source != nullptr) {
    if (!k->user.empty()) g_object_set(source, "user-id", k->user.c_str(), "user-pw", k->password.c_str(), nullptr);
    gst_object_unref(source);
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &OnSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, k, nullptr);
  gst_object_unref(sink);
  {
    std::lock_guard<std::mutex> guard(k->mutex);
    k->pipeline = pipeline;
  }
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE || !WaitPlaying(pipeline)) {
    ClosePipeline(k);
    return 0;
  }
  return 1;
}

STANDIN_EXPORT int KStartStreaming(KHandle handle) {
  MaybeBlock("KStartStreaming");
  if (handle == nullptr) return 0;
  auto* k = static_cast<Interface*>(handle);
  {
    std::lock_guard<std::mutex> guard(k->mutex);
    if (k->pipeline == nullptr) return 0;
  }
  k->stallAfterMs = gStreams.fetch_add(1) == 0 ? CurrentFaults().stallAfterMs : 0;
  k->streamingSinceMs.store(NowMs());
  k->streaming.store(true);
  return 1;
}

STANDIN_EXPORT void KStop(KHandle handle) {
  MaybeBlock("KStop");
  if (handle != nullptr) static_cast<Interface*>(handle)->streaming.store(false);
}

STANDIN_EXPORT void KStopStreaming(KHandle handle) {
  MaybeBlock("KStopStreaming");
  if (handle != nullptr) static_cast<Interface*>(handle)->streaming.store(false);
}

STANDIN_EXPORT void KDisconnect(KHandle handle) {
  MaybeBlock("KDisconnect");
  if (handle != nullptr) ClosePipeline(static_cast<Interface*>(handle));
}

STANDIN_EXPORT void KCloseInterface(KHandle handle) {
  MaybeBlock("KCloseInterface");
  if (handle == nullptr) return;
  auto* k = static_cast<Interface*>(handle);
  ClosePipeline(k);
  if (k->audio != nullptr) curl_easy_cleanup(k->audio);
  delete k;
}

STANDIN_EXPORT int KGetAudioToken(KHandle handle, uint8_t* token) {
  MaybeBlock("KGetAudioToken");
  if (handle == nullptr || token == nullptr) return 0;
  auto* k = static_cast<Interface*>(handle);
  std::lock_guard<std::mutex> guard(k->mutex);
  if (!k->configured) return 0;
  if (k->audio == nullptr) k->audio = curl_easy_init();
  if (k->audio == nullptr) return 0;
  // The loudspeaker must answer before the session counts as open.
  const std::string target = "/cgi-bin/system?" + Login(k->audio, k->user, k->password) + "&V2_AUDIO_ENABLED";
  if (!Http(k->audio, k->address, k->httpPort, target, nullptr, nullptr)) return 0;
  static constexpr uint8_t kSpeakerToken[] = {'S', 'P', 'E', 'A', 'K', 'E', 'R'};  // bytes, not a string
  std::memcpy(token, kSpeakerToken, sizeof kSpeakerToken);
  k->token = true;
  return 1;
}

STANDIN_EXPORT int KSendAudio(KHandle handle, const uint8_t* data, uint32_t length) {
  MaybeBlock("KSendAudio");
  if (handle == nullptr || data == nullptr || length == 0) return 0;
  auto* k = static_cast<Interface*>(handle);
  std::lock_guard<std::mutex> guard(k->mutex);
  if (!k->token || k->audio == nullptr) return 0;
  const std::string body(reinterpret_cast<const char*>(data), length);
  const std::string target =
      "/cgi-bin/speaker?" + Login(k->audio, k->user, k->password) + "&CHANNEL=" + std::to_string(k->input);
  return Http(k->audio, k->address, k->httpPort, target, &body, nullptr) ? 1 : 0;
}

STANDIN_EXPORT void KFreeAudioToken(KHandle handle, uint8_t* token) {
  MaybeBlock("KFreeAudioToken");
  if (handle == nullptr) return;
  auto* k = static_cast<Interface*>(handle);
  std::lock_guard<std::mutex> guard(k->mutex);
  k->token = false;
  if (token != nullptr) std::memset(token, 0, kKAudioTokenSize);
}
