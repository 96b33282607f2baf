#include "ptz/acti_ptz_control.h"

#include <new>

#include "device/host_parameter.h"
#include "ptz/acti_proto_ptz_comm.h"

namespace orbisan {

namespace {
constexpr int32_t kUrlProtocol = 1;
}  // namespace

CBasePTZComm* CActiPTZControl::CreatePTZComm() {
  const auto channel = static_cast<uint16_t>(GetChannel());
  if (Driver()->GetIntParameter(kParamPtzProtocol) == kUrlProtocol) {
    return new (std::nothrow) CActiProtoPTZComm(Driver(), channel);
  }
  // Heads on the camera's serial port (Pelco-D) are not driven by this build.
  Driver()->DebugMessage(kLogError, "%s: serial-port PTZ is not supported for channel %u, device %s",
                         "orbisan::CActiPTZControl::CreatePTZComm", GetChannel() + 1,
                         Driver()->GetDeviceName().c_str());
  return nullptr;
}

}  // namespace orbisan
