#include "channels/sdk_channel.h"

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "camera/h_utils.h"
#include "camera/stream_configurator.h"
#include "device/stream_params.h"
#include "platform/abandonable_call.h"
#include "platform/kmpeg4_media_config.h"
#include "rtsp/mpeg4_vol_parser.h"
#include "rtsp/resolution_class.h"
#include "runtime/format.h"

namespace orbisan {

namespace {

// Connections by key. The library gets the key as its callback context, so a
// callback that comes late, after its connection was torn down or abandoned,
// finds nothing instead of a channel that may be gone. A block is handled
// under its connection's own lock only: a host sink that holds one delivery
// holds neither the connects nor the tear-downs of other channels.
struct Connection {
  std::mutex delivering;
  CSDKChannel* channel;
};

std::shared_mutex gConnectionsMutex;
std::unordered_map<uintptr_t, std::shared_ptr<Connection>> gConnections;
std::atomic<uintptr_t> gNextKey{1};

uintptr_t Register(CSDKChannel* channel) {
  const uintptr_t key = gNextKey.fetch_add(1);
  auto connection = std::make_shared<Connection>();
  connection->channel = channel;
  std::unique_lock<std::shared_mutex> guard(gConnectionsMutex);
  gConnections[key] = std::move(connection);
  return key;
}

// Returns once no callback of the connection runs any more.
void Unregister(uintptr_t key) {
  std::shared_ptr<Connection> connection;
  {
    std::unique_lock<std::shared_mutex> guard(gConnectionsMutex);
    auto it = gConnections.find(key);
    if (it == gConnections.end()) return;
    connection = std::move(it->second);
    gConnections.erase(it);
  }
  std::lock_guard<std::mutex> guard(connection->delivering);
  connection->channel = nullptr;
}

uint32_t ReadU32(const uint8_t* data) {
  return static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
         (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

void CloseConnection(const KMpeg4Library* lib, KHandle handle) {
  lib->KStop(handle);
  lib->KStopStreaming(handle);
  lib->KDisconnect(handle);
  lib->KCloseInterface(handle);
}

// One connect sequence through the library, run on a thread of its own.
struct ConnectJob {
  const KMpeg4Library* lib = nullptr;
  KMediaConfigFields fields;
  uint32_t channelIndex = 0;
  uint32_t channelCount = 1;
  uintptr_t key = 0;
  KHandle handle = nullptr;
  bool ok = false;
  std::atomic<const char*> step{"KOpenInterface"};

  void Run() {
    handle = lib->KOpenInterface();
    if (handle == nullptr) return;
    step = "KGetPortInfoByHTTP";
    uint8_t ports[kKPortInfoSize] = {};
    const char* address = fields.address.c_str();
    const char* user = fields.user.c_str();
    const char* password = fields.password.c_str();
    if (lib->KGetPortInfoByHTTP(handle, ports, address, fields.httpPort, user, password, channelIndex + 1) != 0) {
      fields.ports[0] = ReadU32(ports + 12);
      fields.ports[1] = ReadU32(ports + 20);
      fields.ports[2] = ReadU32(ports + 16);
    } else {
      CSDKChannel::DefaultPorts(channelIndex, channelCount, fields.ports);
    }
    step = "KGetTCPTypeByHTTP";
    const int32_t type = lib->KGetTCPTypeByHTTP(handle, address, fields.httpPort, user, password, 0);
    step = "KSetTCPType";
    lib->KSetTCPType(handle, type);
    KMediaConfig record;
    std::string tooLong;
    BuildKMediaConfig(fields, record, tooLong);  // lengths were checked before the job
    step = "KSetMediaConfig";
    if (lib->KSetMediaConfig(handle, record.data()) == 0) return;
    step = "KSetRawDataCallback";
    lib->KSetRawDataCallback(handle, reinterpret_cast<void*>(key), &CSDKChannel::OnRawData);
    step = "KConnect";
    if (lib->KConnect(handle) == 0) return;
    step = "KStartStreaming";
    ok = lib->KStartStreaming(handle) != 0;
  }
};

}  // namespace

CSDKChannel::CSDKChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink,
                         const KMpeg4Library* library)
    : CBaseCameraChannel(channelIndex, driver, sink),
      library_(library),
      deviceInfo_(*driver->GetDeviceInfo()),
      http_(deviceInfo_) {}

CSDKChannel::~CSDKChannel() {
  StopFromDestructor();
  TearDown();
}

std::string CSDKChannel::GetStreamName() { return StreamName(Driver()->GetDriverName(), Params().streamKind); }

void CSDKChannel::DefaultPorts(uint32_t channelIndex, uint32_t channelCount, uint32_t ports[3]) {
  ports[0] = 6000;
  if (channelCount <= 2) {
    ports[1] = 6002 + 2 * channelIndex;
    ports[2] = 6001 + 2 * channelIndex;
  } else {
    ports[1] = 6050 + channelIndex;
    ports[2] = 6010 + channelIndex;
  }
}

void CSDKChannel::OnStopThread() { http_.Shutdown(); }

void CSDKChannel::OnStartThread() { http_.Resume(); }

uint32_t CSDKChannel::ThreadFunction() {
  SetState(Connecting);
  bool needConnect = true;
  for (;;) {
    try {
      if (needConnect) {
        if (Connect()) {
          SetCameraState(true);
          SetState(Streaming);
          needConnect = false;
        } else if (!IsStopRequested()) {
          SetState(SignalLost);
          NotifySignalLost();
          TearDown();
        }
      } else {
        const uint32_t elapsed = LastFrameTime().ElapsedMs();
        const uint32_t timeout = deviceInfo_.signalTimeoutMs;
        if (elapsed >= timeout / 2) {
          needConnect = true;
          SetState(SignalLost);
          if (elapsed >= timeout) {
            NotifySignalLost();
            SetCameraState(false);
          }
        }
      }
    } catch (...) {
      Driver()->DebugMessage(kLogError, "%s: Unexpected exception, device %s", "orbisan::CSDKChannel::ThreadFunction",
                             Driver()->GetDeviceName().c_str());
    }
    if (StopEvent().Wait(1000)) break;
  }
  TearDown();
  return 0;
}

const KMpeg4Library* CSDKChannel::Library() {
  if (library_ != nullptr) return library_;
  std::string error;
  const KMpeg4Library* lib = LoadKMpeg4Library(Driver()->GetHostDirectory(), error);
  if (lib == nullptr) {
    // No retry mends this: say it at every attempt, once.
    ReportFailureEachTime(kFailureLibrary, error + "; MPEG-4 of camera group 3 cannot stream");
    return nullptr;
  }
  library_ = lib;
  return lib;
}

bool CSDKChannel::ConfigureCamera() {
  if (CStreamConfigurator(Driver(), http_, GetChannelIndex(), Params(), nullptr).ConfigureSdkStream()) return true;
  if (IsStopRequested()) return false;
  const std::string where = Format("%s:%u", deviceInfo_.address.c_str(), static_cast<unsigned>(deviceInfo_.port));
  if (http_.GetStatusCode() == 401) {
    ReportFailure(kFailureHttpCredentials, "the camera refused the user name or password over HTTP (401) at " + where);
  } else {
    ReportFailure(kFailureHttpConnection,
                  "no HTTP answer from " + where +
                      (http_.GetLastErrorText().empty() ? std::string() : " (" + http_.GetLastErrorText() + ")"));
  }
  return false;
}

bool CSDKChannel::Connect() {
  TearDown();
  if (calls_.Busy()) {
    // Another connection would cost one more thread, handle and sockets for
    // as long as the camera stalls; wait for the one left running.
    if (!reportedBusy_) {
      reportedBusy_ = true;
      Driver()->DebugMessage(kLogWarning,
                             "%s: the vendor streaming library has not yet returned from the call left running; no "
                             "new connection until it has, device %s",
                             "orbisan::CSDKChannel::Connect", Driver()->GetDeviceName().c_str());
    }
    return false;
  }
  reportedBusy_ = false;
  if (!ConfigureCamera()) return false;
  const KMpeg4Library* lib = Library();
  if (lib == nullptr) return false;

  auto job = std::make_shared<ConnectJob>();
  job->lib = lib;
  job->channelIndex = GetChannelIndex();
  job->channelCount = Driver()->GetChannelCount();
  job->fields.input = static_cast<uint16_t>(GetChannelIndex() + 1);
  job->fields.address = deviceInfo_.address;
  job->fields.user = deviceInfo_.user;
  job->fields.password = deviceInfo_.password;
  job->fields.httpPort = deviceInfo_.port;
  job->fields.maxAddress = 14;
  job->fields.maxText = 14;
  KMediaConfig unused;
  std::string tooLong;
  if (!BuildKMediaConfig(job->fields, unused, tooLong)) {
    ReportFailureEachTime(kFailureLibrary,
                          "the " + tooLong + " is longer than the vendor streaming library takes (14 characters)");
    return false;
  }

  width_ = Params().width;
  height_ = Params().height;
  assembler_.WaitForKeyFrame();
  job->key = Register(this);
  const uint32_t bound = 2 * deviceInfo_.connectTimeoutMs;
  const auto outcome = calls_.Run([job] { job->Run(); },
                                  [job] {
                                    Unregister(job->key);
                                    if (job->handle != nullptr) CloseConnection(job->lib, job->handle);
                                  },
                                  &StopEvent(), bound);
  if (outcome != CAbandonableCall::kDone) {
    Unregister(job->key);
    if (outcome == CAbandonableCall::kTimedOut) {
      ReportFailureEachTime(kFailureLibrary, Format("the vendor streaming library did not return from %s within %u ms; "
                                                    "that connection is left to end on its own",
                                                    job->step.load(), bound));
    }
    return false;
  }
  connectionKey_.store(job->key);
  libraryHandle_.store(job->handle);
  if (!job->ok) {
    ReportFailure(kFailureLibrary, std::string("the vendor streaming library refused ") + job->step.load());
    return false;
  }
  // The stream has half the signal time-out to bring its first frame.
  LastFrameTime().Touch();
  EndOutage();
  return true;
}

void CSDKChannel::TearDown() {
  if (const uintptr_t key = connectionKey_.exchange(0)) Unregister(key);
  KHandle handle = libraryHandle_.exchange(nullptr);
  if (handle == nullptr) return;
  const KMpeg4Library* lib = library_;
  const uint32_t bound = deviceInfo_.connectTimeoutMs;
  if (calls_.Run([lib, handle] { CloseConnection(lib, handle); }, nullptr, nullptr, bound) != CAbandonableCall::kDone) {
    Driver()->DebugMessage(kLogWarning,
                           "%s: the vendor streaming library did not close its connection within %u ms; it is left to "
                           "end on its own, device %s",
                           "orbisan::CSDKChannel::TearDown", bound, Driver()->GetDeviceName().c_str());
  }
}

void CSDKChannel::OnRawData(void* context, uint32_t dataType, const uint8_t* data, uint32_t length) {
  if (context == nullptr || dataType == 2) return;
  std::shared_ptr<Connection> connection;
  {
    std::shared_lock<std::shared_mutex> guard(gConnectionsMutex);
    auto it = gConnections.find(reinterpret_cast<uintptr_t>(context));
    if (it == gConnections.end()) return;
    connection = it->second;
  }
  std::lock_guard<std::mutex> guard(connection->delivering);
  if (connection->channel == nullptr) return;
  try {
    connection->channel->HandleBlock(data, length);
  } catch (...) {
    // Whatever the data, the library's thread goes on.
  }
}

void CSDKChannel::HandleBlock(const uint8_t* data, uint32_t length) {
  if (!assembler_.Feed(data, length)) return;
  DeliverFrame();
}

void CSDKChannel::DeliverFrame() {
  const std::vector<uint8_t>& frame = assembler_.Frame();
  if (frame.empty()) return;
  ipcapture::IMediaSampleAllocator* allocator = Driver()->GetSampleAllocator();
  if (allocator == nullptr) return;
  uint32_t fourcc = ipcapture::kFourCC_DIVI;
  const uint32_t size = static_cast<uint32_t>(frame.size());
  if (assembler_.IsKeyFrame()) {
    uint32_t width = 0, height = 0;
    if (ParseMpegHeader(frame.data(), size, &width, &height) <= 0) {
      assembler_.WaitForKeyFrame();
      return;
    }
    width_ = width;
    height_ = height;
    fourcc = ipcapture::kFourCC_DIVX;
  } else if (assembler_.WaitingForKeyFrame()) {
    return;
  }
  ipcapture::IMediaSample* sample = allocator->CreateSample(fourcc, size, Driver()->GetDriverName().c_str());
  if (sample == nullptr) return;
  if (sample->GetSize() < size) {
    allocator->ReleaseSample(sample);
    return;
  }
  sample->SetWidth(width_);
  sample->SetHeight(height_);
  sample->SetResolutionClass(ResolutionClass(width_, height_));
  sample->SetDataSize(size);
  sample->SetFourCC(fourcc);
  sample->SetTimeNow();
  std::copy(frame.begin(), frame.end(), sample->GetBuffer());
  if (SendFrameCallback(sample)) {
    LastFrameTime().Touch();
    EndOutage();
  } else {
    assembler_.WaitForKeyFrame();
  }
  allocator->ReleaseSample(sample);
}

}  // namespace orbisan
