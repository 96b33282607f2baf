#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "rtsp/rtp_packet.h"
#include "rtsp/rtsp_client_user.h"

namespace orbisan {

// Splits the byte stream of an RTSP connection into its units, whatever the
// block boundaries are: interleaved frames ("$", channel, 16-bit length,
// data), RTSP answers (status line, headers, Content-Length bytes of body)
// and requests the camera sends to the client (request line, headers, body).
// Frames of every channel are skipped by their length, so that data inside
// them (a "$" in an RTCP report) never starts a frame. Frames of the RTP
// channel go to the user as packets, frames of the channel after it (RTCP)
// to the RTCP sink, answers to the answer sink, requests to the request
// sink. Bytes that start no unit are skipped up to the next "$" or capital
// letter.
class CRTSPStreamParser {
 public:
  // An answer, or with complete false the start of one refused for its size
  // (more than CRTSPResponseParser::kMaxAnswerBytes).
  using AnswerSink = std::function<void(std::string_view answer, bool complete)>;
  using RtcpSink = std::function<void(const uint8_t* data, size_t length)>;
  using RequestSink = std::function<void(std::string_view request)>;

  CRTSPStreamParser(IRTSPClientUser* user, uint8_t channel);
  virtual ~CRTSPStreamParser() = default;

  void Feed(const uint8_t* data, size_t length);
  // Forgets a partly received unit.
  void Reset();
  uint8_t GetChannel() const { return channel_; }
  void SetChannel(uint8_t channel) { channel_ = channel; }
  void SetUser(IRTSPClientUser* user) { user_ = user; }
  void SetAnswerSink(AnswerSink sink) { answerSink_ = std::move(sink); }
  void SetRtcpSink(RtcpSink sink) { rtcpSink_ = std::move(sink); }
  void SetRequestSink(RequestSink sink) { requestSink_ = std::move(sink); }

 private:
  enum class Unit { kNeedMore, kFrame, kAnswer, kRefusedAnswer, kRequest, kRefusedRequest, kNone };
  // What starts at data (available bytes); size gets the unit's length (for
  // a refused answer: the bytes to drop).
  Unit Classify(const uint8_t* data, size_t available, size_t& size);
  // Headers and body of a text unit (answer or request) that starts at data.
  Unit ClassifyText(const uint8_t* data, size_t available, size_t& size, Unit whole);
  void Dispatch(Unit unit, const uint8_t* data, size_t size);
  // Handles the whole units at data; returns the bytes used.
  size_t Process(const uint8_t* data, size_t length);
  void DeliverRtp(const uint8_t* data, size_t length);

  IRTSPClientUser* user_;
  uint8_t channel_;
  AnswerSink answerSink_;
  RtcpSink rtcpSink_;
  RequestSink requestSink_;
  std::vector<uint8_t> pending_;  // a unit cut by the end of a block (bounded by the unit sizes)
  size_t scanned_ = 0;            // bytes of pending_ searched for an answer's end
  CRTPPacket packet_;
};

}  // namespace orbisan
