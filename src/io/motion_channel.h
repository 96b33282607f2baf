#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "camera/http_sender.h"
#include "io/base_motion_channel.h"
#include "io/motion_message_splitter.h"
#include "runtime/logger_instance.h"

namespace orbisan {

// The motion channel of this camera family: keeps the camera's motion message
// stream ("GET_CTRL_MSG=MD,3") open, reads it piece by piece and reports the
// state of every message.
class CMotionChannel : public CBaseMotionChannel, private CLoggerInstance {
 public:
  // Largest piece read at once.
  static constexpr uint32_t kReadLimit = 16 * 1024;
  static constexpr uint32_t kRetryMs = 1000;

  CMotionChannel(uint32_t channelIndex, IDriver* driver, ipcapture::IVideoFrameSink* sink);
  ~CMotionChannel() override;

  bool Start() override;
  // Shuts the running thread's sender down: its request ends and no later one
  // is sent.
  void CancelRequest() override;

  // Splits a chunk of the stream and reports every complete message.
  void OnChunk(const std::vector<char>& chunk);

 private:
  void RunThread() override;
  void RunWith(Web::CHttpSender& sender);
  void LogUnhandledException();
  // Returns when the stop event is set or the request cannot be sent.
  void RunStream(Web::CHttpSender& sender);

  // The device record as it was at the start; the thread makes its sender
  // from it.
  DEVICE_INFO device_;
  // The sender belongs to the thread and goes (with its connection) when the
  // thread ends, so a joined thread leaves nothing open whatever it was doing
  // when the stop came. Published here only for CancelRequest.
  std::mutex senderMutex_;
  std::shared_ptr<Web::CHttpSender> sender_;
  CMotionMessageSplitter splitter_;
  bool overflowLogged_ = false;
  bool loginRefusedLogged_ = false;
};

}  // namespace orbisan
