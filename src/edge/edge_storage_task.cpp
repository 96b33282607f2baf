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

void CEdgeStorageTask::SetInterval(uint32_t key, uint64_t begin, uint64_t end) {
  CBaseRTSPEdgeStorageTask::SetInterval(key, begin, end);
  http_.Resume();
}

void CEdgeStorageTask::AbortChannel(uint32_t key) {
  CBaseRTSPEdgeStorageTask::AbortChannel(key);
  if (StopEvent().IsSet()) http_.Shutdown();
}

void CEdgeStorageTask::Abort() {
  CBaseRTSPEdgeStorageTask::Abort();
  http_.Shutdown();
}

CEdgeStorageTask::Storage CEdgeStorageTask::CheckStorage() {
  // An abort between the item's start and this query is not lost.
  if (StopEvent().IsSet()) return Storage::kUnanswered;
  std::string answer;
  const DEVICE_INFO& device = *Driver()->GetDeviceInfo();
  if (!HUtils::RequestGet(http_, CCgiPath(cgi::kSystem, device).Item("DISK_STATE"), answer))
    return Storage::kUnanswered;
  return answer.find("MOUNT") != std::string::npos ? Storage::kMounted : Storage::kNone;
}

}  // namespace orbisan
