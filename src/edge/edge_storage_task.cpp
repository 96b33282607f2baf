#include "edge/edge_storage_task.h"

#include <string>
#include <vector>

#include "camera/cgi_path.h"
#include "camera/h_utils.h"
#include "device/host_parameter.h"
#include "runtime/text_utils.h"

namespace orbisan {

CEdgeStorageTask::CEdgeStorageTask(IDriver* driver)
    : CBaseRTSPEdgeStorageTask(driver), http_(*driver->GetDeviceInfo()) {
  const std::vector<std::string> ports = Split(driver->GetStringParameter(kParamRtspPorts), ",", false);
  if (!ports.empty()) {
    if (const uint16_t port = ParsePort(ports[0])) rtspPort_ = port;
  }
}

CEdgeStorageTask::~CEdgeStorageTask() {
  Abort();
  StopSession();
}

bool CEdgeStorageTask::CheckStorage() {
  std::string answer;
  const DEVICE_INFO& device = *Driver()->GetDeviceInfo();
  return HUtils::RequestGet(http_, CCgiPath(cgi::kSystem, device).Item("DISK_STATE"), answer) &&
         answer.find("MOUNT") != std::string::npos;
}

}  // namespace orbisan
