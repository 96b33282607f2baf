#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "camera/http_request.h"
#include "device/device_info.h"

// libcurl's list of header lines; the handles are plain pointers here so that
// only the implementation sees curl.h.
struct curl_slist;

namespace Web {

// Synchronous HTTP client for one device. It keeps one connection alive for
// all its requests, remembers whether HTTP or HTTPS worked last, answers the
// first authentication challenge once with the server's scheme and keeps the
// open response so that its body can be read whole or piece by piece.
//
// One owner thread uses it; only Cancel may be called from another thread.
class CHttpSender {
 public:
  explicit CHttpSender(const orbisan::DEVICE_INFO& device);
  virtual ~CHttpSender();
  CHttpSender(const CHttpSender&) = delete;
  CHttpSender& operator=(const CHttpSender&) = delete;

  // True when a response arrived; its body then waits to be read.
  virtual bool Send(const CHttpRequest& request);
  // Ends a send or read blocked on another thread and suppresses the scheme
  // fallback of the send under way. The next Send starts afresh, so a stop,
  // which must not be lost between two requests, uses Shutdown.
  virtual void Cancel();
  // Cancels the request under way and refuses every later one until Resume
  // (the owner is stopping; may be called from another thread).
  void Shutdown();
  void Resume() { shutdown_.store(false); }
  // Bytes readable now; waits (bounded by the time-out) when none are buffered.
  virtual uint32_t QueryDataAvailable();
  // The whole body: Content-Length bytes, or up to 1 MiB without one; never
  // more than 1 MiB, whatever length the server announces. Bounded like the
  // send: by the request's deadline.
  virtual uint32_t ReadAll(std::vector<char>& body);
  // Appends up to maxBytes from one read; 0 at the end, on error or cancel.
  // For endless answers read piece by piece: the deadline does not apply,
  // each read waits at most the time-out.
  virtual uint32_t Read(std::vector<char>& buffer, uint32_t maxBytes, bool clearFirst);

  uint32_t GetStatusCode() const { return statusCode_; }
  // Why the last send got no answer ("Couldn't connect to server",
  // "Timeout was reached" ...); empty when it got one.
  std::string GetLastErrorText() const;
  uint32_t GetContentLength() const { return contentLength_; }
  bool IsSecure() const { return secure_ != 0; }
  // libcurl authentication bit learnt from the first 401; 0 before.
  unsigned long GetAuthScheme() const { return authScheme_; }
  const orbisan::DEVICE_INFO& GetDeviceInfo() const { return device_; }

  static constexpr uint32_t kNoLengthBudget = 0x100000;
  // A request (connect, answer and ReadAll) ends at the latest this many
  // connect time-outs after it started: one to connect, the rest for the
  // answer and its body, so a camera that trickles cannot hold it forever.
  static constexpr uint32_t kDeadlineTimeouts = 6;

 private:
  enum class Drive { kReady, kDone, kTimedOut, kCancelled, kFailed };
  // 1 done, 0 failed in a way the other scheme may fix, -1 failed otherwise.
  int Attempt(const CHttpRequest& request, uint32_t scheme);
  bool ConfigureRequest(const CHttpRequest& request, uint32_t scheme, unsigned long authUsed);
  // Runs the transfer until ready() holds, it ends, stalls or is cancelled;
  // bounded: also until the deadline.
  template <typename Ready>
  Drive Run(Ready ready, bool bounded);
  void CloseRequest();
  uint32_t ReadSome(uint32_t maxBytes, bool bounded);
  uint32_t Take(std::vector<char>& buffer, uint32_t count);
  size_t Buffered() const { return pending_.size() - pendingOffset_; }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnProgress(void* self, int64_t, int64_t, int64_t, int64_t uploaded);

  orbisan::DEVICE_INFO device_;
  void* multi_ = nullptr;  // CURLM
  void* easy_ = nullptr;   // CURL
  curl_slist* headerList_ = nullptr;
  bool requestOpen_ = false;
  bool transferDone_ = false;
  int transferResult_ = 0;
  uint32_t statusCode_ = 0;
  uint32_t contentLength_ = 0;
  unsigned long authScheme_ = 0;
  uint32_t secure_ = 0;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> shutdown_{false};
  int lastError_ = 0;  // CURLcode of the last send's failure

  // Per-transfer state written by the callbacks.
  uint32_t pendingStatus_ = 0;
  bool headersComplete_ = false;
  bool waitPastChallenge_ = false;
  bool inChallenge_ = false;
  std::string pending_;
  size_t pendingOffset_ = 0;
  int64_t lastUpload_ = 0;
  std::chrono::steady_clock::time_point lastActivity_{};
  std::chrono::steady_clock::time_point deadline_{};
};

}  // namespace Web
