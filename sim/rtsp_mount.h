// One RTSP path of the simulated camera and the encoder behind it.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/replay_clip.h"
#include "sim/storage_card.h"
#include "sim/stream_probes.h"
#include "sim/stream_settings.h"

namespace strandline::sim {

// Builds the media of one path. Sessions that start while the settings stay
// the same share one running encoder, and the encoder keeps running when its
// last session ends (as a camera's does), so that a client reconnecting at
// once finds it ready. A session that starts after a settings change gets a
// new encoder with the new settings; the old one stops when its last session
// ends. Everything except the constructor runs on the server's main loop.
class RtspMount : public std::enable_shared_from_this<RtspMount> {
 public:
  // Multicast: the microphone's group ports lie this far above the video's.
  static constexpr uint16_t kAudioGroupPortOffset = 100;
  struct MountConfig {
    std::string path;  // "/", "/track1", "/multicast"
    int encoder = 1;   // channel whose settings this path streams
    bool multicast = false;
    std::string group;        // multicast only: the group and its even port
    uint16_t group_port = 0;  // (the RTCP port is the one after it)
    bool with_clock = false;  // draw the running time over the test picture
    bool sliced = false;      // H.264 pictures in four slices
  };
  using SettingsSource = std::function<StreamSettings(int encoder)>;

  // pool: the server's thread pool; context: the server's main context.
  static std::shared_ptr<RtspMount> Create(const MountConfig& mount_config, SettingsSource settings,
                                           std::shared_ptr<const ReplayClip> clip,
                                           std::shared_ptr<std::atomic<bool>> frozen, GstRTSPThreadPool* pool,
                                           GMainContext* context);
  ~RtspMount();
  RtspMount(const RtspMount&) = delete;
  RtspMount& operator=(const RtspMount&) = delete;

  const MountConfig& config() const { return config_; }
  // The factory to put into the server's mount points (owned by this object).
  GstRTSPMediaFactory* factory() const { return factory_; }

  // The card that records what this path's first stream encodes (unicast paths only).
  void SetStorageCard(std::shared_ptr<StorageCard> card) { card_ = std::move(card); }
  // The log of the pictures this path's encoder hands on.
  void SetPictureLog(std::shared_ptr<PictureLog> log) { pictures_ = std::move(log); }

  // Ends the running stream with an RTCP BYE; the next session gets a new encoder.
  void SendBye();
  // Stops keeping the encoder running (camera shutting down).
  void Shutdown();

  // Called by the factory class.
  std::string KeySuffix();
  GstElement* CreateElement();
  void Configure(GstRTSPMedia* media);

 private:
  RtspMount(const MountConfig& mount_config, SettingsSource settings, std::shared_ptr<const ReplayClip> clip,
            std::shared_ptr<std::atomic<bool>> frozen, GstRTSPThreadPool* pool, GMainContext* context);
  void OnPrepared(GstRTSPMedia* media);
  void OnUnprepared(GstRTSPMedia* media);
  void ReleaseLater(GstRTSPMedia* media);
  // Multicast: remembers a media that streams no more, and lets every such
  // media other than keep go of the group's ports.
  void MarkEnded(GstRTSPMedia* media);
  void FreeGroupPorts(GstRTSPMedia* keep);
  static void OnPreparedSignal(GstRTSPMedia* media, gpointer data);
  static void OnUnpreparedSignal(GstRTSPMedia* media, gpointer data);

  const MountConfig config_;
  SettingsSource settings_;
  std::shared_ptr<const ReplayClip> clip_;
  std::shared_ptr<std::atomic<bool>> frozen_;
  std::shared_ptr<StorageCard> card_;
  std::shared_ptr<PictureLog> pictures_;
  GstRTSPThreadPool* pool_;
  GMainContext* context_;
  GstRTSPMediaFactory* factory_ = nullptr;
  StreamSettings pending_;        // settings the next media is built with
  unsigned generation_ = 0;       // raised by SendBye: forces a new media
  GstRTSPMedia* held_ = nullptr;  // the media kept prepared between sessions
  bool shutdown_ = false;
  struct WeakMedia;
  std::vector<std::unique_ptr<WeakMedia>> ended_;  // multicast medias that no longer stream
};

}  // namespace strandline::sim
