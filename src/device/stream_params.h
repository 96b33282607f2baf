#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// Video codec numbers, as the host requests them and as the capability
// records of a camera's streams hold them.
enum VideoCodec : uint32_t { kCodecMjpeg = 1, kCodecMpeg4 = 2, kCodecH264 = 3 };
// The order in which codecs are listed to the host (not their numbers' order).
inline constexpr VideoCodec kCodecListOrder[] = {kCodecH264, kCodecMpeg4, kCodecMjpeg};

// A stream request as the channels see it.
struct STREAM_PARAMS {
  uint32_t frameRate = 0;  // 0x7000|fps, or a frame interval in ms
  uint32_t bitrate = 0;    // selector code of the camera's bit-rate table
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t codec = 0;       // a VideoCodec; 0 and 5 the driver's default
  uint32_t streamKind = 0;  // 0 recording, 1 live, 2 remote
};

enum StreamKind : uint32_t { kStreamRecording = 0, kStreamLive = 1, kStreamRemote = 2 };

enum ChannelState : uint32_t { Streaming = 0, Connecting = 1, SignalLost = 2, Stopped = 3 };

// Frames per second of the request (0 means 1).
uint32_t DecodeFrameRate(uint32_t frameRate);
// Driver name plus "::RecStream", "::LiveStream" or "::RemoteStream".
std::string StreamName(const std::string& driverName, uint32_t streamKind);

}  // namespace orbisan
