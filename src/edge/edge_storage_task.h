#pragma once

#include <cstdint>

#include "camera/http_sender.h"
#include "edge/base_rtsp_edge_storage_task.h"

namespace orbisan {

// The camera family's retrieval task: the storage card is asked for over
// CGI, the recording played on the camera's RTSP port.
class CEdgeStorageTask : public CBaseRTSPEdgeStorageTask {
 public:
  static constexpr uint16_t kDefaultRtspPort = 7070;

  explicit CEdgeStorageTask(IDriver* driver);
  ~CEdgeStorageTask() override;

  uint16_t RtspPort() const { return rtspPort_; }

  // The storage query is cut short too; it stays refused until the next item.
  void SetInterval(uint32_t key, uint64_t begin, uint64_t end) override;
  void AbortChannel(uint32_t key) override;
  void Abort() override;

 protected:
  Storage CheckStorage() override;
  void FillSessionParams(RTSP_SESSION_PARAMS& params) override { params.serverPort = rtspPort_; }

 private:
  Web::CHttpSender http_;
  uint16_t rtspPort_ = kDefaultRtspPort;
};

}  // namespace orbisan
