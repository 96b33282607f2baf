#include "io/acti_digital_io.h"

#include <cstdio>
#include <map>

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "device/host_parameter.h"
#include "runtime/format.h"

namespace orbisan {

namespace {

// "0x.." with the apostrophes of the answer removed; false when unreadable.
bool ReadMask(const std::string& value, unsigned& mask) {
  const std::string text = HUtils::RemoveChars(value, "'");
  return std::sscanf(text.c_str(), "0x%x", &mask) == 1;
}

}  // namespace

CActiDigitalIO::CActiDigitalIO(IDriver* driver) : CIOBase(driver) {
  const int32_t override = driver->GetIntParameter(kParamDeviceType);
  singleChannelOverride_ = override == kNoIntParameter ? 0 : static_cast<uint32_t>(override);
  const int32_t group = driver->GetIntParameter(kParamCameraGroup);
  cgiName_ = std::string((group == 2 || group == kNoIntParameter) ? cgi::kEncoder : cgi::kMpeg4);
}

CActiDigitalIO::~CActiDigitalIO() { StopIO(); }

// The senders are made at start from the device record as it is then: the
// driver sets its time-outs only at the end of its open.
void CActiDigitalIO::OnIOStarted() {
  outputSender_ = std::make_unique<Web::CHttpSender>(*driver_->GetDeviceInfo());
  inputSender_ = std::make_unique<Web::CHttpSender>(*driver_->GetDeviceInfo());
}

// Sticky: a request that a thread starts after this is refused as well.
void CActiDigitalIO::CancelRequests() {
  if (outputSender_) outputSender_->Shutdown();
  if (inputSender_) inputSender_->Shutdown();
}

bool CActiDigitalIO::SingleUnit() const { return driver_->GetChannelCount() <= 1 || singleChannelOverride_ == 1; }

std::string CActiDigitalIO::Path(uint32_t channel, bool withChannel, const std::string& name,
                                 const std::string& value) const {
  CCgiPath path(cgiName_, *driver_->GetDeviceInfo());
  if (withChannel) path.Channel(channel);
  if (value.empty()) return path.Item(name);
  return path.Item(name, value);
}

bool CActiDigitalIO::QueryInputs(uint32_t count, uint32_t channel, bool withChannel) {
  const std::string path = Path(channel, withChannel, "DIO_STATUS", "");
  if (IsStopping() || !inputSender_) return true;
  std::string answer;
  if (!HUtils::RequestGet(*inputSender_, path, answer)) return false;
  const std::string value = HUtils::GetValue(answer, "DIO_STATUS", "=", "\r\n");
  unsigned mask = 0;
  // No value, or one that is not a number: the inputs stay as they were.
  if (value.empty() || !ReadMask(value, mask)) return true;
  const uint32_t first = (channel - 1) * count;
  for (uint32_t i = 0; i < count && i < 8; ++i) ChangeInputState(first + i, (mask >> i) & 1u ? 1 : 2);
  return true;
}

bool CActiDigitalIO::GetInputStates(uint32_t inputCount) {
  const uint32_t channels = driver_->GetChannelCount();
  // Fewer inputs than channels cannot be split: the unit answers for all.
  if (SingleUnit() || inputCount / channels == 0) return QueryInputs(inputCount, 1, false);
  const uint32_t perChannel = inputCount / channels;
  bool ok = true;
  for (uint32_t channel = 1; channel <= channels; ++channel) {
    if (!QueryInputs(perChannel, channel, true)) ok = false;
    if (WaitStop(kChannelPauseMs)) break;
  }
  return ok;
}

bool CActiDigitalIO::SendOutputs(uint32_t count, uint32_t channel, bool withChannel) {
  std::map<uint32_t, uint32_t> states;
  if (!CopyOutputStates((channel - 1) * count, count, states)) return false;
  unsigned mask = 0;
  for (const auto& [i, state] : states) {
    if (state == 1 && i < 32) mask |= 1u << i;
  }
  if (IsStopping() || !outputSender_) return true;
  const std::string path = Path(channel, withChannel, "DIO_OUTPUT", Format("0x%.2x", mask));
  std::string answer;
  if (!HUtils::RequestGet(*outputSender_, path, answer)) return false;
  // A refused command answers 200 with an ERROR line: the relay did not move.
  return answer.find("ERROR") == std::string::npos;
}

bool CActiDigitalIO::WriteOutputs(uint32_t index, uint32_t) {
  const uint32_t outputs = GetOutputCount();
  const uint32_t channels = driver_->GetChannelCount();
  if (SingleUnit() || outputs / channels == 0) return SendOutputs(outputs, 1, false);
  const uint32_t perChannel = outputs / channels;
  return SendOutputs(perChannel, index / perChannel + 1, true);
}

}  // namespace orbisan
