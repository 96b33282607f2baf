#include "ptz/acti_ptz_control.h"

#include <new>

#include "device/host_parameter.h"
#include "ptz/acti_proto_ptz_comm.h"
#include "ptz/acti_ptz_comm.h"

namespace orbisan {

namespace {
constexpr int32_t kUrlProtocol = 1;
}  // namespace

CBasePTZComm* CActiPTZControl::CreatePTZComm() {
  const auto channel = static_cast<uint16_t>(GetChannel());
  if (Driver()->GetIntParameter(kParamPtzProtocol) == kUrlProtocol) {
    return new (std::nothrow) CActiProtoPTZComm(Driver(), channel);
  }
  // Every other device drives a head on its serial port with Pelco-D.
  return new (std::nothrow) CActiPTZComm(Driver(), channel);
}

}  // namespace orbisan
