#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// Everything the owner decides about one RTSP session.
struct RTSP_SESSION_PARAMS {
  uint16_t serverPort = 554;
  uint16_t clientRtpPort = 0;
  uint16_t clientRtcpPort = 0;
  std::string host;
  std::string userName;
  std::string password;
  uint32_t connectTimeoutMs = 5000;
  uint32_t receiveTimeoutMs = 5000;
  uint32_t receiveBufferSize = 65536;
  uint32_t sendTimeoutMs = 1000;
  uint32_t keepAlivePeriodSec = 60;  // when the server gives no session timeout
  uint32_t authScheme = 0;           // 0 none, 1 Basic, 2 Digest
  std::string path;                  // request path while no content base is known
  uint32_t mediaKind = 1;            // 1 video, 2 audio, 3 metadata
  std::string range;                 // empty: "npt=0.000-"
  uint32_t urlForm = 0;              // 1: the path is "track%u"
  uint32_t trackIndex = 1;
  uint32_t blockSize = 0;  // sent when above 100
};

// RTSP request kinds, numbered as the client composes them.
enum RTSPRequest : uint32_t {
  kRtspConnect = 0,  // not a request: the connection before the first
  kRtspDescribe = 1,
  kRtspSetup = 2,
  kRtspPlay = 3,
  kRtspTeardown = 4,
  kRtspOptions = 5,
  kRtspPause = 6,
  kRtspGetParameter = 7,  // the other keep-alive
};

// Authorization schemes.
enum RTSPAuthScheme : uint32_t { kAuthNone = 0, kAuthBasic = 1, kAuthDigest = 2 };

}  // namespace orbisan
