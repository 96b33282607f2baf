#include "camera/http_sender.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "runtime/text_utils.h"

namespace Web {

namespace {

// The header declares the handles and the progress callback without curl.h.
static_assert(std::is_same_v<curl_off_t, int64_t>);
static_assert(std::is_same_v<CURL, void> && std::is_same_v<CURLM, void>);

using Clock = std::chrono::steady_clock;

// libcurl's global set-up is not thread-safe; do it once for the process.
void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The request's authentication mode as a libcurl scheme: bit 2 Negotiate,
// both low bits Digest, bit 1 Passport (not offered by libcurl: Basic),
// bit 0 NTLM, else Basic.
unsigned long SchemeForMode(uint32_t mode) {
  if (mode & 4) return CURLAUTH_NEGOTIATE;
  if ((mode & 3) == 3) return CURLAUTH_DIGEST;
  if (mode & 2) return CURLAUTH_BASIC;
  if (mode & 1) return CURLAUTH_NTLM;
  return CURLAUTH_BASIC;
}

// The server's preferred scheme among those of its challenge.
unsigned long PreferredScheme(long offered) {
  const unsigned long order[] = {CURLAUTH_NEGOTIATE, CURLAUTH_DIGEST, CURLAUTH_NTLM, CURLAUTH_BASIC};
  for (unsigned long scheme : order) {
    if (static_cast<unsigned long>(offered) & scheme) return scheme;
  }
  return 0;
}

// A path goes on the request line as it stands, so anything that would end
// or split that line (blanks, control characters) or cut the query short
// ("#") makes it unsendable.
bool PathSendable(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (unsigned char c : path) {
    if (c <= 0x20 || c == 0x7F || c == '#') return false;
  }
  return true;
}

bool CredentialSendable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string HeaderName(const std::string& line) { return orbisan::ToLower(line.substr(0, line.find(':'))); }

}  // namespace

CHttpSender::CHttpSender(const orbisan::DEVICE_INFO& device) : device_(device) {
  GlobalInit();
  secure_ = device_.port == 443 ? 1 : 0;
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
  if (multi_ == nullptr || easy_ == nullptr) {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    easy_ = nullptr;
    multi_ = nullptr;
    return;
  }
  // Options that hold for every request of this client.
  const long timeout = static_cast<long>(device_.connectTimeoutMs);
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, "Orbisan::HttpSender");
  curl_easy_setopt(easy_, CURLOPT_PROXY, "");
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, timeout);
  curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CHttpSender::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CHttpSender::OnBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CHttpSender::OnProgress);
  curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
  curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
}

CHttpSender::~CHttpSender() {
  CloseRequest();
  if (headerList_ != nullptr) curl_slist_free_all(headerList_);
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

bool CHttpSender::Send(const CHttpRequest& request) {
  cancelled_.store(false);
  lastError_ = CURLE_OK;
  // Checked after the reset above, so a Shutdown racing with it still wins.
  if (shutdown_.load()) {
    lastError_ = CURLE_ABORTED_BY_CALLBACK;
    return false;
  }
  uint32_t scheme = secure_;
  int result = Attempt(request, scheme);
  if (result == 0 && !cancelled_.load()) {
    scheme = scheme ? 0 : 1;
    result = Attempt(request, scheme);
  }
  if (result == 1) {
    secure_ = scheme;
    return true;
  }
  return false;
}

void CHttpSender::Shutdown() {
  shutdown_.store(true);
  Cancel();
}

std::string CHttpSender::GetLastErrorText() const {
  return lastError_ == CURLE_OK ? std::string() : curl_easy_strerror(static_cast<CURLcode>(lastError_));
}

void CHttpSender::Cancel() {
  cancelled_.store(true);
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

int CHttpSender::Attempt(const CHttpRequest& request, uint32_t scheme) {
  CloseRequest();
  statusCode_ = 0;
  contentLength_ = 0;
  if (easy_ == nullptr) return -1;
  if (!PathSendable(request.path)) return -1;

  const bool withCredentials = !device_.user.empty() && request.authMode != 5;
  const unsigned long authUsed =
      !withCredentials ? 0 : (authScheme_ != 0 ? authScheme_ : SchemeForMode(request.authMode));
  if (withCredentials && (!CredentialSendable(device_.user) || !CredentialSendable(device_.password))) return -1;
  if (!ConfigureRequest(request, scheme, authUsed)) return -1;

  pending_.clear();
  pendingOffset_ = 0;
  pendingStatus_ = 0;
  headersComplete_ = false;
  inChallenge_ = false;
  // Schemes other than Basic start with a challenge round that libcurl
  // answers by itself; its 401 is not the response.
  waitPastChallenge_ = authUsed != 0 && authUsed != CURLAUTH_BASIC;
  transferDone_ = false;
  transferResult_ = CURLE_OK;
  lastUpload_ = 0;
  // Connecting has its own time-out; the wait for the answer starts after it.
  const auto now = Clock::now();
  const std::chrono::milliseconds timeout(device_.connectTimeoutMs);
  lastActivity_ = now + timeout;
  deadline_ = now + timeout * kDeadlineTimeouts;
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return -1;
  requestOpen_ = true;

  const Drive outcome = Run([this] { return headersComplete_; }, true);
  if (outcome == Drive::kCancelled || outcome == Drive::kTimedOut) {
    lastError_ = outcome == Drive::kCancelled ? CURLE_ABORTED_BY_CALLBACK : CURLE_OPERATION_TIMEDOUT;
    CloseRequest();
    return -1;
  }
  if (outcome == Drive::kDone && transferResult_ != CURLE_OK) {
    const int code = transferResult_;
    lastError_ = code;
    CloseRequest();
    switch (code) {
      case CURLE_OPERATION_TIMEDOUT:
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_URL_MALFORMAT:
      case CURLE_ABORTED_BY_CALLBACK:
        return -1;
      default:
        return 0;
    }
  }
  if (outcome == Drive::kFailed) {
    lastError_ = CURLE_RECV_ERROR;
    CloseRequest();
    return 0;
  }

  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  if (status <= 0) status = pendingStatus_;
  if (status <= 0) {
    lastError_ = CURLE_WEIRD_SERVER_REPLY;
    CloseRequest();
    return 0;
  }
  lastError_ = CURLE_OK;
  statusCode_ = static_cast<uint32_t>(status);
  if (statusCode_ != 204) {
    curl_off_t length = -1;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    contentLength_ = length > 0 ? static_cast<uint32_t>(std::min<curl_off_t>(length, UINT32_MAX)) : 0;
  }

  if (statusCode_ == 401 && authScheme_ == 0 && withCredentials) {
    long offered = 0;
    const bool queried = curl_easy_getinfo(easy_, CURLINFO_HTTPAUTH_AVAIL, &offered) == CURLE_OK;
    authScheme_ = queried ? PreferredScheme(offered) : 0;
    // The credentials were refused under the server's own scheme (or it named
    // none we know): the 401 is the answer, and the caller learns that the
    // credentials are wrong rather than that nothing could be sent.
    if (!queried || authScheme_ == 0 || authScheme_ == authUsed) return 1;
    CloseRequest();
    secure_ = scheme;
    return Send(request) ? 1 : 0;
  }
  return 1;
}

bool CHttpSender::ConfigureRequest(const CHttpRequest& request, uint32_t scheme, unsigned long authUsed) {
  std::string host = device_.address;
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const std::string url =
      std::string(scheme ? "https://" : "http://") + host + ":" + std::to_string(device_.port) + request.path;
  if (curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) != CURLE_OK) return false;
  // Bypass any cache on the way, as a camera's answers change all the time.
  if (headerList_ != nullptr) curl_slist_free_all(headerList_);
  headerList_ = nullptr;
  std::vector<std::string> lines = {"Cache-Control: no-cache", "Pragma: no-cache"};
  for (const std::string& line : request.headers) {
    const std::string name = HeaderName(line);
    auto same = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return HeaderName(l) == name; });
    if (same != lines.end()) {
      *same = line;
    } else {
      lines.push_back(line);
    }
  }
  for (const std::string& line : lines) {
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    curl_slist* next = curl_slist_append(headerList_, line.c_str());
    if (next == nullptr) return false;
    headerList_ = next;
  }
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);

  if (request.method == "GET" && request.body.empty()) {
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(easy_, CURLOPT_COPYPOSTFIELDS, request.body.empty() ? "" : request.body.data());
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  if (authUsed != 0) {
    curl_easy_setopt(easy_, CURLOPT_USERNAME, device_.user.c_str());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, device_.password.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<long>(authUsed));
  } else {
    curl_easy_setopt(easy_, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, nullptr);
    curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  }
  const bool ignoreCertificate = scheme != 0 && (request.flags & 2) != 0;
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, ignoreCertificate ? 0L : 1L);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, ignoreCertificate ? 0L : 2L);
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, (request.flags & 4) ? 0L : 1L);
  return true;
}

template <typename Ready>
CHttpSender::Drive CHttpSender::Run(Ready ready, bool bounded) {
  const auto stall = std::chrono::milliseconds(device_.connectTimeoutMs);
  while (true) {
    if (cancelled_.load()) return Drive::kCancelled;
    if (ready()) return Drive::kReady;
    if (transferDone_) return Drive::kDone;
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) return Drive::kFailed;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
        transferDone_ = true;
        transferResult_ = message->data.result;
      }
    }
    if (cancelled_.load()) return Drive::kCancelled;
    if (ready()) return Drive::kReady;
    if (transferDone_) {
      if (transferResult_ == CURLE_OK) headersComplete_ = true;
      return Drive::kDone;
    }
    const auto now = Clock::now();
    if (now - lastActivity_ > stall) return Drive::kTimedOut;
    auto until = lastActivity_ + stall;
    if (bounded) {
      if (now >= deadline_) return Drive::kTimedOut;
      until = std::min(until, deadline_);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::clamp<long long>(wait, 1, 1000)), nullptr);
  }
}

void CHttpSender::CloseRequest() {
  if (requestOpen_) {
    curl_multi_remove_handle(multi_, easy_);
    requestOpen_ = false;
  }
  pending_.clear();
  pendingOffset_ = 0;
}

uint32_t CHttpSender::ReadSome(uint32_t maxBytes, bool bounded) {
  if (!requestOpen_ || maxBytes == 0) return 0;
  if (Buffered() == 0) {
    const Drive outcome = Run([this] { return Buffered() > 0; }, bounded);
    if (outcome == Drive::kCancelled || outcome == Drive::kFailed || (bounded && outcome == Drive::kTimedOut)) {
      CloseRequest();
      return 0;
    }
    if (Buffered() == 0) return 0;
  }
  return static_cast<uint32_t>(std::min<size_t>(maxBytes, Buffered()));
}

uint32_t CHttpSender::QueryDataAvailable() {
  if (!requestOpen_) return 0;
  const uint32_t ready = ReadSome(UINT32_MAX, false);
  return ready;
}

uint32_t CHttpSender::Read(std::vector<char>& buffer, uint32_t maxBytes, bool clearFirst) {
  if (clearFirst) buffer.clear();
  return Take(buffer, ReadSome(maxBytes, false));
}

uint32_t CHttpSender::Take(std::vector<char>& buffer, uint32_t count) {
  if (count == 0) return 0;
  buffer.insert(buffer.end(), pending_.begin() + pendingOffset_, pending_.begin() + pendingOffset_ + count);
  pendingOffset_ += count;
  if (pendingOffset_ == pending_.size()) {
    pending_.clear();
    pendingOffset_ = 0;
  }
  return count;
}

uint32_t CHttpSender::ReadAll(std::vector<char>& body) {
  body.clear();
  // A server's Content-Length is a claim, not a budget: a broken or hostile
  // one must not make the driver hold gigabytes.
  uint32_t budget = contentLength_ != 0 ? std::min(contentLength_, kNoLengthBudget) : kNoLengthBudget;
  while (requestOpen_ && budget > 0) {
    const uint32_t got = Take(body, ReadSome(std::min<uint32_t>(budget, 8192), true));
    if (got == 0) break;
    budget -= got;
  }
  return static_cast<uint32_t>(body.size());
}

size_t CHttpSender::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* sender = static_cast<CHttpSender*>(self);
  const size_t bytes = size * count;
  sender->lastActivity_ = Clock::now();
  const std::string line(data, bytes);
  if (line.rfind("HTTP/", 0) == 0) {
    const size_t space = line.find(' ');
    sender->pendingStatus_ =
        space == std::string::npos ? 0 : static_cast<uint32_t>(std::atoi(line.c_str() + space + 1));
    sender->inChallenge_ = false;
  } else if (line == "\r\n" || line == "\n") {
    const uint32_t status = sender->pendingStatus_;
    // Interim answers (100 Continue) and the challenge that libcurl answers
    // itself are followed by the real response.
    if (status == 401 && sender->waitPastChallenge_) {
      sender->waitPastChallenge_ = false;
      sender->inChallenge_ = true;
    } else if (status >= 200) {
      sender->headersComplete_ = true;
    }
  }
  return bytes;
}

size_t CHttpSender::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* sender = static_cast<CHttpSender*>(self);
  const size_t bytes = size * count;
  sender->lastActivity_ = Clock::now();
  if (sender->inChallenge_) return bytes;  // the body of a challenge libcurl answers itself
  sender->headersComplete_ = true;
  if (sender->pendingOffset_ > 0 && sender->pendingOffset_ == sender->pending_.size()) {
    sender->pending_.clear();
    sender->pendingOffset_ = 0;
  }
  sender->pending_.append(data, bytes);
  return bytes;
}

int CHttpSender::OnProgress(void* self, int64_t, int64_t, int64_t, int64_t uploaded) {
  auto* sender = static_cast<CHttpSender*>(self);
  if (uploaded != sender->lastUpload_) {
    sender->lastUpload_ = uploaded;
    sender->lastActivity_ = Clock::now();
  }
  return sender->cancelled_.load() ? 1 : 0;
}

}  // namespace Web
