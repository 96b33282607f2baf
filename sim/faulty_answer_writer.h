// Writes the RTSP answers of one client connection itself, past the server's
// own writer, to send them slowly or with a Content-Length that lies.
#pragma once

#include <gst/rtsp/gstrtspmessage.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace strandline::sim {

// The answer as it would go on the wire: status line, headers, a
// Content-Length (the given one when set, else the body's) and the body.
std::string SerializeAnswer(GstRTSPMessage* message, std::optional<uint64_t> content_length = std::nullopt);

class FaultyAnswerWriter {
 public:
  enum class Mode {
    kTrickle,            // every answer a byte at a time, interval apart
    kHugeContentLength,  // the first answer claims 4000000000 bytes, then filler follows at full speed
  };

  // fd: the connection's socket; the writer works on a copy of its own.
  FaultyAnswerWriter(int fd, Mode mode, std::chrono::milliseconds interval);
  ~FaultyAnswerWriter();  // stops writing and waits for its thread
  FaultyAnswerWriter(const FaultyAnswerWriter&) = delete;
  FaultyAnswerWriter& operator=(const FaultyAnswerWriter&) = delete;

  // Queues an answer; interleaved data and, after an oversized answer, everything is dropped.
  void Send(GstRTSPMessage* message);
  // Stops writing and lets the connection go; the peer then sees it close.
  void Close();

 private:
  void Run();
  bool WriteAll(const char* data, size_t size);  // false when the peer is gone or on Close

  const Mode mode_;
  const std::chrono::milliseconds interval_;
  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  bool oversized_sent_ = false;
  bool closed_ = false;
  std::thread thread_;
};

}  // namespace strandline::sim
