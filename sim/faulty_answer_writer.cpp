#include "sim/faulty_answer_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "sim/http_server.h"

namespace strandline::sim {
namespace {

constexpr std::chrono::milliseconds kPollSlice{100};

}  // namespace

std::string SerializeAnswer(GstRTSPMessage* message, std::optional<uint64_t> content_length) {
  GstRTSPStatusCode code = GST_RTSP_STS_OK;
  const gchar* reason = nullptr;
  std::string text = "RTSP/1.0 ";
  if (gst_rtsp_message_parse_response(message, &code, &reason, nullptr) == GST_RTSP_OK) {
    text += std::to_string(static_cast<int>(code)) + " " + (reason ? reason : "");
  } else {
    text += "500 Internal Server Error";
  }
  text += "\r\n";
  for (int field = GST_RTSP_HDR_ACCEPT; field < GST_RTSP_HDR_LAST; ++field) {
    auto header = static_cast<GstRTSPHeaderField>(field);
    if (header == GST_RTSP_HDR_CONTENT_LENGTH) continue;
    gchar* value = nullptr;
    for (gint index = 0; gst_rtsp_message_get_header(message, header, &value, index) == GST_RTSP_OK; ++index) {
      text += std::string(gst_rtsp_header_as_text(header)) + ": " + value + "\r\n";
    }
  }
  guint8* body = nullptr;
  guint size = 0;
  gst_rtsp_message_get_body(message, &body, &size);
  uint64_t length = content_length.value_or(size);
  if (length > 0) text += "Content-Length: " + std::to_string(length) + "\r\n";
  text += "\r\n";
  if (body && size > 0) text.append(reinterpret_cast<const char*>(body), size);
  return text;
}

FaultyAnswerWriter::FaultyAnswerWriter(int fd, Mode mode, std::chrono::milliseconds interval)
    : mode_(mode), interval_(interval), fd_(fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1) {
  thread_ = std::thread([this] { Run(); });
}

FaultyAnswerWriter::~FaultyAnswerWriter() {
  Close();
  thread_.join();
}

void FaultyAnswerWriter::Send(GstRTSPMessage* message) {
  if (gst_rtsp_message_get_type(message) != GST_RTSP_MESSAGE_RESPONSE) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || oversized_sent_) return;
    if (mode_ == Mode::kHugeContentLength) {
      pending_ += SerializeAnswer(message, kHugeContentLength);
      oversized_sent_ = true;
    } else {
      pending_ += SerializeAnswer(message);
    }
  }
  wake_.notify_all();
}

void FaultyAnswerWriter::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  wake_.notify_all();
}

bool FaultyAnswerWriter::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
    }
    pollfd ready{fd_, POLLOUT, 0};
    int polled = poll(&ready, 1, static_cast<int>(kPollSlice.count()));
    if (polled < 0 && errno != EINTR) return false;
    if (polled <= 0) continue;
    ssize_t sent = send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

void FaultyAnswerWriter::Run() {
  static const std::string kFiller = "a=x-filler:0123456789abcdefghijklmnopqrstuvwxyz\r\n";
  std::string chunk;
  uint64_t written = 0;
  while (fd_ >= 0 && written < kHugeContentLength) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (mode_ == Mode::kTrickle) {
        wake_.wait(lock, [this] { return closed_ || !pending_.empty(); });
        if (closed_) break;
        // The pause comes before each byte, so even the first one is late.
        if (wake_.wait_for(lock, interval_, [this] { return closed_; })) break;
        chunk.assign(1, pending_.front());
        pending_.erase(0, 1);
      } else {
        wake_.wait(lock, [this] { return closed_ || oversized_sent_; });
        if (closed_) break;
        chunk.swap(pending_);
        pending_.clear();
        while (chunk.size() < 16 * 1024) chunk += kFiller;
      }
    }
    if (!WriteAll(chunk.data(), chunk.size())) break;
    written += chunk.size();
  }
  if (fd_ >= 0) close(fd_);
}

}  // namespace strandline::sim
