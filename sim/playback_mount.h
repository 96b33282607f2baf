// The camera's "/playback/datetime=YYYY.MM.DD.hh.mm.ss" path: its storage
// card played from that second (UTC) on.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include "sim/storage_card.h"

namespace strandline::sim {

inline constexpr const char* kPlaybackPath = "/playback";

// The time a playback path names; none when it names no valid time.
std::optional<StorageCard::Clock::time_point> ParsePlaybackTime(std::string_view path);

// A factory for the server's mount points (a new reference): every session
// gets a media of its own that sends the recorded frames from the time its
// path names at the pace they were recorded, with RTP time stamps that follow
// the recorded times, and ends with the last frame the card held when the
// session was described. A card without frames from then on answers 503.
GstRTSPMediaFactory* NewPlaybackFactory(std::shared_ptr<StorageCard> card);

// Mount points (a new reference) under which every playback time reaches the
// playback factory mounted at kPlaybackPath.
GstRTSPMountPoints* NewPlaybackMountPoints();

}  // namespace strandline::sim
