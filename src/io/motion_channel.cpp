#include "io/motion_channel.h"

#include <string_view>

#include "camera/cgi_path.h"
#include "camera/h_utils.h"

namespace orbisan {

CMotionChannel::CMotionChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink)
    : CBaseMotionChannel(channelIndex, driver, sink), CLoggerInstance(driver) {}

CMotionChannel::~CMotionChannel() { Stop(); }

// The sender is made for each start from the device record as it is then
// (the driver sets its time-outs at the end of its open).
bool CMotionChannel::Start() {
  Stop();
  device_ = *driver_->GetDeviceInfo();
  splitter_.Clear();
  overflowLogged_ = false;
  loginRefusedLogged_ = false;
  return CBaseMotionChannel::Start();
}

void CMotionChannel::CancelRequest() {
  std::shared_ptr<Web::CHttpSender> sender;
  {
    std::lock_guard<std::mutex> lock(senderMutex_);
    sender = sender_;
  }
  if (sender) sender->Shutdown();
}

void CMotionChannel::RunThread() {
  std::shared_ptr<Web::CHttpSender> sender;
  try {
    sender = std::make_shared<Web::CHttpSender>(device_);
  } catch (...) {
    LogUnhandledException();
    return;
  }
  // A Stop that looked for the sender before this has set the stop event
  // already, which the loop sees before its first request.
  {
    std::lock_guard<std::mutex> lock(senderMutex_);
    sender_ = sender;
  }
  RunWith(*sender);
  {
    std::lock_guard<std::mutex> lock(senderMutex_);
    sender_.reset();
  }
  // The last reference closes the connection: here, or in a CancelRequest
  // running at this moment, which Stop waits for.
  sender.reset();
}

void CMotionChannel::LogUnhandledException() {
  LogMessage(kLogError, "%s(): Unhandled exception during \"Motion detection\" thread processing.",
             "orbisan::CMotionChannel::ThreadFunction");
}

void CMotionChannel::RunWith(Web::CHttpSender& sender) {
  while (!IsStopping()) {
    try {
      ResetLog();
      RunStream(sender);
      if (StopEvent().Wait(kRetryMs)) break;
      CheckSignal();
    } catch (...) {
      LogUnhandledException();
      if (StopEvent().Wait(kRetryMs)) break;
    }
  }
}

void CMotionChannel::RunStream(Web::CHttpSender& sender) {
  // A "&" in the password would add items of its own to the request: such a
  // login is never sent, as on every other CGI path, and the signal is lost.
  if (!HUtils::CredentialsSendable(device_)) {
    if (!loginRefusedLogged_) {
      loginRefusedLogged_ = true;
      driver_->DebugMessage(kLogError,
                            "%s(): Cannot open the motion message stream of device %s: the user name or password "
                            "contains a blank, a control character, \"#\" or \"&\", which cannot be sent in the "
                            "camera's URLs",
                            "orbisan::CMotionChannel::RunStream", driver_->GetDeviceName().c_str());
    }
    return;
  }
  const std::string path = CCgiPath(cgi::kEncoder, device_).Item("GET_CTRL_MSG", "MD,3");
  std::vector<char> chunk;
  while (!IsStopping()) {
    // An answer other than 2xx (a refused login, say) is no stream: it counts
    // as a request that cannot be sent, so a lasting one ends in signal loss.
    if (!sender.Send(Web::CHttpRequest("GET", path)) || sender.GetStatusCode() / 100 != 2) {
      sender.Cancel();
      return;
    }
    for (;;) {
      const uint32_t available = sender.QueryDataAvailable();
      if (available == 0 || IsStopping()) break;
      if (sender.Read(chunk, std::min(available, kReadLimit), true) == 0) break;
      OnChunk(chunk);
    }
    sender.Cancel();
    if (StopEvent().Wait(kRetryMs)) return;
  }
}

void CMotionChannel::OnChunk(const std::vector<char>& chunk) {
  const bool kept = splitter_.Feed(std::string_view(chunk.data(), chunk.size()), [this](const std::string& message) {
    overflowLogged_ = false;
    const bool motion = ParseMotionMessage(message);
    NotifyMotionDataReceived();
    ReportMotion(motion);
  });
  if (!kept && !overflowLogged_) {
    overflowLogged_ = true;
    driver_->DebugMessage(kLogWarning,
                          "%s(): Motion message stream of device %s (channel %u) exceeds %u bytes "
                          "without a message end; dropped",
                          "orbisan::CMotionChannel::OnChunk", driver_->GetDeviceName().c_str(), GetChannelIndex(),
                          static_cast<unsigned>(CMotionMessageSplitter::kDefaultLimit));
  }
}

}  // namespace orbisan
