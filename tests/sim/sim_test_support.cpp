#include "sim_test_support.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <utility>

// Font configuration loaded for the clock overlay is kept for the life of the
// process on purpose; LeakSanitizer (when present) should not count it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace simtest {
namespace {

using Clock = std::chrono::steady_clock;

size_t AppendTo(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  size_t end = text.find_last_not_of(" \t\r\n");
  return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

}  // namespace

HttpResult HttpGet(const std::string& url, HttpAuthKind auth, const std::string& user, const std::string& password) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
  HttpResult result;
  CURL* curl = curl_easy_init();
  if (!curl) return result;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendTo);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, AppendTo);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  if (auth != HttpAuthKind::kNone) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, auth == HttpAuthKind::kBasic ? CURLAUTH_BASIC : CURLAUTH_DIGEST);
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
  }
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_cleanup(curl);
  return result;
}

std::string Cgi(const strandline::sim::SimulatedCamera& camera, const std::string& family, const std::string& items,
                const std::string& user, const std::string& password) {
  return camera.HttpUrl() + "/cgi-bin/" + family + "?USER=" + user + "&PWD=" + password + items;
}

strandline::sim::SimulatedCamera::Options OptionsFor(const std::string& model) {
  strandline::sim::SimulatedCamera::Options options;
  options.model = model;
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::optional<ProbedStream> Probe(const std::string& url, const std::string& transport, std::string* error_text) {
  // A small probe: one or two frames tell codec and size, which keeps each run short.
  auto result = orbisan::test::RunCommand(
      {"ffprobe", "-v", "error", "-probesize", "65536", "-analyzeduration", "1000000", "-rtsp_transport", transport,
       "-show_entries", "stream=codec_name,width,height", "-of", "default=noprint_wrappers=1", url},
      std::chrono::seconds(25));
  if (error_text) *error_text = result.err;
  if (result.exit_code != 0) return std::nullopt;
  ProbedStream stream;
  for (const auto& line : Lines(result.out)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (key == "codec_name") stream.codec = value;
    if (key == "width") stream.width = std::atoi(value.c_str());
    if (key == "height") stream.height = std::atoi(value.c_str());
  }
  if (stream.codec.empty()) return std::nullopt;
  return stream;
}

RawRtspClient::~RawRtspClient() { Close(); }

bool RawRtspClient::Connect(uint16_t port) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return true;
  Close();
  return false;
}

void RawRtspClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  pending_.clear();
  session_.clear();
}

bool RawRtspClient::SendText(const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

int RawRtspClient::Fill(Clock::time_point deadline, size_t limit) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd wait{fd_, POLLIN, 0};
  if (left <= 0 || poll(&wait, 1, static_cast<int>(left)) <= 0) return 0;
  char buffer[65536];
  ssize_t n = recv(fd_, buffer, std::min(sizeof(buffer), limit), 0);
  if (n <= 0) return -1;
  pending_.append(buffer, static_cast<size_t>(n));
  return 1;
}

std::string RawRtspClient::ReadRaw(size_t max_bytes, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (pending_.size() < max_bytes && Fill(deadline, max_bytes - pending_.size()) > 0) {
  }
  return std::exchange(pending_, {});
}

RawRtspClient::Response RawRtspClient::ReadResponse(std::chrono::milliseconds timeout) {
  Response response;
  auto deadline = Clock::now() + timeout;
  while (true) {
    // Interleaved data may stand before the answer; skip it.
    while (!pending_.empty() && pending_[0] == '$') {
      if (pending_.size() < 4) break;
      size_t length = (static_cast<unsigned char>(pending_[2]) << 8) | static_cast<unsigned char>(pending_[3]);
      if (pending_.size() < 4 + length) break;
      pending_.erase(0, 4 + length);
    }
    size_t end = pending_.find("\r\n\r\n");
    if (end != std::string::npos && !pending_.empty() && pending_[0] != '$') {
      std::string head = pending_.substr(0, end);
      size_t length = 0;
      std::istringstream lines(head);
      std::string line;
      std::getline(lines, line);
      if (line.rfind("RTSP/1.0 ", 0) == 0) response.status = std::atoi(line.c_str() + 9);
      while (std::getline(lines, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = Lower(Trim(line.substr(0, colon)));
        std::string value = Trim(line.substr(colon + 1));
        auto& slot = response.headers[name];
        slot = slot.empty() ? value : slot + "\n" + value;
      }
      if (response.headers.count("content-length")) length = std::stoul(response.headers["content-length"]);
      if (pending_.size() >= end + 4 + length) {
        response.body = pending_.substr(end + 4, length);
        pending_.erase(0, end + 4 + length);
        return response;
      }
      response = Response();
    }
    if (Fill(deadline) <= 0) return Response();
  }
}

RawRtspClient::Response RawRtspClient::Request(const std::string& method, const std::string& url,
                                               const std::string& extra, std::chrono::milliseconds timeout) {
  std::string text =
      method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) + "\r\nUser-Agent: simtest\r\n";
  if (!session_.empty()) text += "Session: " + session_ + "\r\n";
  return SendVerbatim(text + extra + "\r\n", timeout);
}

RawRtspClient::Response RawRtspClient::SendVerbatim(const std::string& text, std::chrono::milliseconds timeout) {
  if (fd_ < 0 || !SendText(text)) return Response();
  Response response = ReadResponse(timeout);
  if (response.headers.count("session")) {
    std::string value = response.headers["session"];
    session_ = value.substr(0, value.find(';'));
  }
  return response;
}

bool RawRtspClient::PlayInterleaved(const std::string& base_url, const std::string& play_extra) {
  Response describe = Request("DESCRIBE", base_url, "Accept: application/sdp\r\n");
  if (describe.status != 200) return false;
  std::string base = describe.headers.count("content-base") ? describe.headers["content-base"] : base_url;
  std::string control;
  size_t media = describe.body.find("m=video");
  size_t at = describe.body.find("a=control:", media == std::string::npos ? 0 : media);
  if (at != std::string::npos) {
    size_t end = describe.body.find_first_of("\r\n", at);
    control = describe.body.substr(at + 10, end - at - 10);
  }
  std::string setup_url = control.find("://") != std::string::npos ? control : base + control;
  Response setup = Request("SETUP", setup_url, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
  if (setup.status != 200) return false;
  Response play = Request("PLAY", base_url, play_extra.empty() ? "Range: npt=0.000-\r\n" : play_extra);
  return play.status == 200;
}

RawRtspClient::Traffic RawRtspClient::Receive(std::chrono::milliseconds duration) {
  Traffic traffic;
  auto deadline = Clock::now() + duration;
  while (true) {
    // Consume whole interleaved frames; skip any text (answers) between them.
    while (!pending_.empty()) {
      if (pending_[0] != '$') {
        size_t next = pending_.find('$');
        pending_.erase(0, next == std::string::npos ? pending_.size() : next);
        continue;
      }
      if (pending_.size() < 4) break;
      int channel = static_cast<unsigned char>(pending_[1]);
      size_t length = (static_cast<unsigned char>(pending_[2]) << 8) | static_cast<unsigned char>(pending_[3]);
      if (pending_.size() < 4 + length) break;
      const auto* data = reinterpret_cast<const unsigned char*>(pending_.data() + 4);
      if (channel == 0 && length >= 12) {
        ++traffic.rtp_packets;
        traffic.rtp_timestamps.push_back((uint32_t{data[4]} << 24) | (uint32_t{data[5]} << 16) |
                                         (uint32_t{data[6]} << 8) | data[7]);
      }
      pending_.erase(0, 4 + length);
    }
    const int got = Fill(deadline);
    traffic.closed = got < 0;
    if (got <= 0) return traffic;
  }
}

}  // namespace simtest
