// GStreamer launch texts for the camera's encoders.
#pragma once

#include <string>

#include "sim/stream_settings.h"

namespace strandline::sim {

// Element names the rest of the server relies on.
inline constexpr const char* kPayloaderName = "pay0";
inline constexpr const char* kAudioPayloaderName = "pay1";
inline constexpr const char* kEncoderName = "enc";
inline constexpr const char* kReplaySourceName = "src";
// The live picture's mixer and its input pad for the still noise layer.
inline constexpr const char* kNoiseMixerName = "noise";
inline constexpr const char* kNoiseStillPad = "sink_1";

// A moving test picture with sensor-like noise encoded live with the given
// settings (key frames of a camera's size), ending in the RTP payloader "pay0". H.264 repeats SPS and PPS before every
// IDR picture and MPEG-4 its configuration before every key frame, as a camera does. with_clock draws the running time
// over the picture.
std::string LivePipeline(const StreamSettings& settings, bool with_clock, bool sliced = false);

// An appsrc named "src" fed with whole frames of a pre-encoded clip, a parser
// and the payloader "pay0".
std::string ReplayPipeline(VideoCodec codec);
// The microphone track to append to either pipeline: a sine tone as G.711
// mu-law, 8000 Hz mono, payload type 0; empty for hz 0.
std::string AudioBranch(int hz);

}  // namespace strandline::sim
