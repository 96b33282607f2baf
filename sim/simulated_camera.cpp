#include "sim/simulated_camera.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "sim/camera_clock.h"
#include "sim/camera_model.h"
#include "sim/cgi_handler.h"
#include "sim/cgi_query.h"
#include "sim/replay_clip.h"
#include "sim/self_signed_certificate.h"
#include "sim/settings_table.h"

namespace strandline::sim {
namespace {

constexpr std::string_view kCgiPrefix = "/cgi-bin/";

// The server's TCP path links its RTCP funnel before caps are known, and
// GStreamer warns about it once per client; harmless, and it buries a failing
// test's own report under hundreds of lines.
void DropStickyOrderWarning(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
  if (message && std::strstr(message, "Sticky event misordering")) return;
  g_log_default_handler(domain, level, message, data);
}

void InitGStreamer() {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_init(nullptr, nullptr);
    g_log_set_handler("GStreamer", G_LOG_LEVEL_WARNING, DropStickyOrderWarning, nullptr);
  });
}

// A locally administered address, stable per model.
std::string MacFor(const std::string& model) {
  uint32_t hash = static_cast<uint32_t>(std::hash<std::string>{}(model));
  char text[32];
  std::snprintf(text, sizeof(text), "02:53:4C:%02X:%02X:%02X", (hash >> 16) & 0xFF, (hash >> 8) & 0xFF, hash & 0xFF);
  return text;
}

const CameraModel& FallbackModel() {
  static const CameraModel* model = FindCameraModel(CameraModelIds().front());
  return *model;
}

}  // namespace

SimulatedCamera::SimulatedCamera() : SimulatedCamera(Options()) {}

SimulatedCamera::SimulatedCamera(Options options)
    : options_(std::move(options)), model_(FindCameraModel(options_.model)) {
  InitGStreamer();
  settings_ = std::make_unique<SettingsTable>(model_ ? *model_ : FallbackModel());
  clock_ = std::make_unique<CameraClock>();
  clock_->SetOffset(options_.clock_offset);
  cgi_ = std::make_unique<CgiHandler>(*settings_, *clock_, options_.user, options_.password);
  dio_ = std::make_unique<DioRegister>(settings_->model().channels);
  motion_ = std::make_unique<MotionStream>(settings_->model().channels);
  cgi_->SetDioRegister(dio_.get());
  card_ = std::make_shared<StorageCard>(settings_->model().storage, std::chrono::minutes(options_.storage_minutes));
  cgi_->SetDiskState([card = card_.get()] { return card->Mounted(); });
}

SimulatedCamera::~SimulatedCamera() { Stop(); }

std::vector<std::string> SimulatedCamera::Models() { return CameraModelIds(); }

const CameraModel& SimulatedCamera::Model() const { return settings_->model(); }

bool SimulatedCamera::Start(std::string* error) {
  Stop();
  if (!model_) {
    if (error) *error = "unknown model " + options_.model;
    return false;
  }
  if (!options_.source_file.empty() && !clip_) {
    std::string why;
    clip_ = ReplayClip::Load(options_.source_file, &why);
    if (!clip_) {
      if (error) *error = "cannot use clip: " + why;
      return false;
    }
  }
  if (options_.https && certificate_pem_.empty()) {
    SelfSignedCertificate certificate;
    if (!SelfSignedCertificate::Generate(&certificate, error)) return false;
    certificate_pem_ = certificate.certificate_pem;
    key_pem_ = certificate.key_pem;
  }
  {
    std::lock_guard<std::mutex> lock(services_mutex_);
    http_port_ = options_.http_port;
    rtsp_ports_.clear();
    for (int input = 0; input < model_->channels; ++input) {
      rtsp_ports_.push_back(options_.rtsp_port == 0 ? 0 : static_cast<uint16_t>(options_.rtsp_port + input));
    }
    multicast_port_ = options_.multicast_port;
    if (!StartServices(error)) {
      StopServices();
      return false;
    }
    running_ = true;
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    stop_requested_ = false;
    reboot_requested_ = false;
    rebooting_ = false;
    reboot_count_ = 0;
  }
  control_ = std::thread([this] { ControlLoop(); });
  return true;
}

// Called with services_mutex_ held. Ports chosen by the first start are kept,
// so that a rebooted camera comes back where it was.
bool SimulatedCamera::StartServices(std::string* error) {
  RtspServer::Config rtsp;
  rtsp.ports = rtsp_ports_;
  rtsp.one_channel_per_input = model_->channels > 1;
  rtsp.auth = options_.rtsp_auth;
  rtsp.user = options_.user;
  rtsp.password = options_.password;
  rtsp.settings = [settings = settings_.get()](int channel) { return settings->Stream(channel); };
  rtsp.clip = clip_;
  rtsp.replay = options_.replay;
  rtsp.multicast_group = options_.multicast_group;
  rtsp.multicast_port = multicast_port_;
  rtsp.with_clock = options_.clock_overlay;
  rtsp.card = card_;
  rtsp.quirks = options_.quirks;
  rtsp_.SetRefuseConnections(refuse_);
  rtsp_.SetDescribeFault(describe_fault_);
  rtsp_.SetRequestStatus(rtsp_request_status_);
  rtsp_.SetTrickleInterval(trickle_interval_);
  rtsp_.SetFrozen(frozen_);
  http_.SetFault(http_fault_, trickle_interval_);
  if (!rtsp_.Start(rtsp, error)) return false;
  if (!refuse_) rtsp_ports_ = rtsp_.Ports();
  multicast_port_ = rtsp_.MulticastPort();

  UnitAddress address;
  address.mac = MacFor(model_->production_id);
  address.rtsp_ports = rtsp_ports_;

  HttpServer::Config http;
  http.port = http_port_;
  http.auth = options_.http_auth;
  http.user = options_.user;
  http.password = options_.password;
  http.https = options_.https;
  http.certificate_pem = certificate_pem_;
  http.key_pem = key_pem_;
  auto handler = [this](std::string_view path, std::string_view query, bool header_ok) {
    HttpReply reply;
    if (!path.starts_with(kCgiPrefix)) {
      reply.status = 404;
      return reply;
    }
    CgiResponse response = cgi_->Handle(path.substr(kCgiPrefix.size()), query, header_ok);
    reply.status = response.status;
    reply.body = std::move(response.body);
    reply.after_sent = response.reboot;
    if (response.motion_channel != 0) reply.stream = motion_->Open(response.motion_channel);
    return reply;
  };
  auto observer = [this](std::string_view path, std::string_view query, int status) { Record(path, query, status); };
  if (model_->audio >= 2) {
    http_.SetUploadHandler([this](std::string_view path, std::string_view query, std::string_view body) {
      return Speak(path, query, body);
    });
  }
  if (!http_.Start(
          http, handler, [this] { RequestReboot(); }, observer, error))
    return false;
  http_port_ = http_.Port();
  address.http_port = http_port_;
  cgi_->SetUnitAddress(address);
  return true;
}

void SimulatedCamera::StopServices() {
  http_.Stop();
  rtsp_.Stop();
}

void SimulatedCamera::Stop() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    stop_requested_ = true;
  }
  state_changed_.notify_all();
  if (control_.joinable()) control_.join();
  std::lock_guard<std::mutex> lock(services_mutex_);
  StopServices();
  running_ = false;
}

bool SimulatedCamera::IsRunning() const {
  std::lock_guard<std::mutex> lock(services_mutex_);
  return running_;
}

void SimulatedCamera::RequestReboot() {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (stop_requested_) return;
    reboot_requested_ = true;
  }
  state_changed_.notify_all();
}

void SimulatedCamera::Reboot() { RequestReboot(); }

void SimulatedCamera::ControlLoop() {
  std::unique_lock<std::mutex> lock(state_mutex_);
  while (true) {
    state_changed_.wait(lock, [this] { return stop_requested_ || reboot_requested_; });
    if (stop_requested_) return;
    reboot_requested_ = false;
    rebooting_ = true;
    lock.unlock();
    {
      std::lock_guard<std::mutex> services(services_mutex_);
      StopServices();
    }
    lock.lock();
    if (state_changed_.wait_for(lock, options_.reboot_duration, [this] { return stop_requested_; })) return;
    lock.unlock();
    // The ports were just released; retry briefly should another socket linger on them.
    bool up = false;
    for (int attempt = 0; attempt < 40 && !up; ++attempt) {
      {
        std::lock_guard<std::mutex> services(services_mutex_);
        std::string error;
        up = StartServices(&error);
        if (!up) {
          StopServices();
          if (attempt == 39) std::fprintf(stderr, "simulated camera: restart failed: %s\n", error.c_str());
        }
      }
      if (!up) {
        std::unique_lock<std::mutex> wait(state_mutex_);
        if (state_changed_.wait_for(wait, std::chrono::milliseconds(250), [this] { return stop_requested_; })) return;
      }
    }
    lock.lock();
    rebooting_ = false;
    ++reboot_count_;
    state_changed_.notify_all();
  }
}

bool SimulatedCamera::IsRebooting() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return rebooting_ || reboot_requested_;
}

int SimulatedCamera::RebootCount() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return reboot_count_;
}

bool SimulatedCamera::WaitUntilUp(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(state_mutex_);
  return state_changed_.wait_for(lock, timeout, [this] { return !rebooting_ && !reboot_requested_; });
}

uint16_t SimulatedCamera::HttpPort() const {
  std::lock_guard<std::mutex> lock(services_mutex_);
  return http_port_;
}

uint16_t SimulatedCamera::RtspPort(int input) const {
  std::lock_guard<std::mutex> lock(services_mutex_);
  if (input < 1 || input > static_cast<int>(rtsp_ports_.size())) return 0;
  return rtsp_ports_[static_cast<size_t>(input - 1)];
}

std::vector<uint16_t> SimulatedCamera::RtspPorts() const {
  std::lock_guard<std::mutex> lock(services_mutex_);
  return rtsp_ports_;
}

uint16_t SimulatedCamera::MulticastPort(int input) const {
  std::lock_guard<std::mutex> lock(services_mutex_);
  return static_cast<uint16_t>(multicast_port_ + 2 * (input - 1));
}

std::string SimulatedCamera::HttpUrl() const {
  return std::string(options_.https ? "https" : "http") + "://127.0.0.1:" + std::to_string(HttpPort());
}

std::string SimulatedCamera::RtspUrl(std::string_view path, int input) const {
  return "rtsp://127.0.0.1:" + std::to_string(RtspPort(input)) + std::string(path);
}

void SimulatedCamera::Record(std::string_view path, std::string_view query, int status) {
  CgiRequest request{std::string(path), std::string(query), status};
  if (options_.log) {
    options_.log(std::to_string(status) + " " + request.path + (query.empty() ? "" : "?") + request.query);
  }
  std::lock_guard<std::mutex> lock(log_mutex_);
  requests_.push_back(std::move(request));
}

std::vector<CgiRequest> SimulatedCamera::CgiRequests() const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return requests_;
}

void SimulatedCamera::ClearCgiRequests() {
  std::lock_guard<std::mutex> lock(log_mutex_);
  requests_.clear();
}

std::optional<std::string> SimulatedCamera::GetSetting(const std::string& name, int channel) const {
  return settings_->Get(name, channel);
}

bool SimulatedCamera::SetSetting(const std::string& name, const std::string& value, int channel) {
  return settings_->Set(name, value, channel) == SetResult::kOk;
}

StreamSettings SimulatedCamera::CurrentStream(int channel) const { return settings_->Stream(channel); }

void SimulatedCamera::SetDigitalInputs(uint32_t mask, int channel) { dio_->SetInputs(mask, channel); }

uint32_t SimulatedCamera::DigitalOutputs(int channel) const { return dio_->Outputs(channel); }

MotionStream& SimulatedCamera::Motion() { return *motion_; }

std::chrono::seconds SimulatedCamera::ClockOffset() const { return clock_->Offset(); }

int SimulatedCamera::ClockSetCount() const { return clock_->SetCount(); }

void SimulatedCamera::SetClockRefusing(bool refusing) { clock_->SetRefusing(refusing); }

void SimulatedCamera::SetCgiAnswer(const std::string& item, std::optional<std::string> answer) {
  cgi_->SetAnswer(item, std::move(answer));
}

PtzState SimulatedCamera::Ptz() const { return cgi_->Ptz().State(); }

void SimulatedCamera::HoldPtzCommands(bool hold) { cgi_->HoldPtz(hold); }

DomeState SimulatedCamera::SerialDome(int channel) const { return cgi_->Serial().State(channel); }

void SimulatedCamera::SetRtspRefuseConnections(bool refuse) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  refuse_ = refuse;
  rtsp_.SetRefuseConnections(refuse);
}

void SimulatedCamera::SetDescribeFault(DescribeFault fault) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  describe_fault_ = fault;
  rtsp_.SetDescribeFault(fault);
}

void SimulatedCamera::SetRtspRequestStatus(int status) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  rtsp_request_status_ = status;
  rtsp_.SetRequestStatus(status);
}

void SimulatedCamera::SetHttpFault(HttpFault fault) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  http_fault_ = fault;
  http_.SetFault(fault, trickle_interval_);
}

void SimulatedCamera::SetTrickleInterval(std::chrono::milliseconds interval) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  trickle_interval_ = interval;
  rtsp_.SetTrickleInterval(interval);
  http_.SetFault(http_fault_, interval);
}

std::vector<long long> SimulatedCamera::PictureTimes() const { return rtsp_.PictureTimes(); }

void SimulatedCamera::SetStreamFrozen(bool frozen) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  frozen_ = frozen;
  rtsp_.SetFrozen(frozen);
}

void SimulatedCamera::DropRtspConnections() {
  std::lock_guard<std::mutex> lock(services_mutex_);
  rtsp_.DropConnections();
}

void SimulatedCamera::SendRtcpBye() {
  std::lock_guard<std::mutex> lock(services_mutex_);
  rtsp_.SendBye();
}

size_t SimulatedCamera::RtspClientCount() {
  std::lock_guard<std::mutex> lock(services_mutex_);
  return rtsp_.ClientCount();
}

HttpReply SimulatedCamera::Speak(std::string_view path, std::string_view query, std::string_view body) {
  HttpReply reply;
  if (path != "/cgi-bin/speaker") {
    reply.status = 404;
    return reply;
  }
  std::string user, password;
  int channel = 1;
  for (const CgiItem& item : ParseCgiQuery(query)) {
    if (!item.value) continue;
    if (item.name == "USER") user = *item.value;
    if (item.name == "PWD") password = *item.value;
    if (item.name == "CHANNEL") channel = std::atoi(item.value->c_str());
  }
  if (user != options_.user || password != options_.password) {
    reply.status = 401;
    return reply;
  }
  if (channel < 1 || channel > std::max(1, model_->channels) || body.size() % 2 != 0) {
    reply.body = "ERROR: CHANNEL\r\n";
    return reply;
  }
  std::lock_guard<std::mutex> lock(speaker_mutex_);
  if (speaker_.size() < static_cast<size_t>(channel)) speaker_.resize(static_cast<size_t>(channel));
  std::vector<int16_t>& samples = speaker_[static_cast<size_t>(channel - 1)];
  for (size_t i = 0; i + 1 < body.size(); i += 2) {
    samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(body[i]) | (static_cast<uint8_t>(body[i + 1]) << 8)));
  }
  reply.body = "OK: SPEAKER\r\n";
  return reply;
}

std::vector<int16_t> SimulatedCamera::SpeakerSamples(int channel) const {
  std::lock_guard<std::mutex> lock(speaker_mutex_);
  if (channel < 1 || speaker_.size() < static_cast<size_t>(channel)) return {};
  return speaker_[static_cast<size_t>(channel - 1)];
}

void SimulatedCamera::ClearSpeaker() {
  std::lock_guard<std::mutex> lock(speaker_mutex_);
  speaker_.clear();
}

}  // namespace strandline::sim
