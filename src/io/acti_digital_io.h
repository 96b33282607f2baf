#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "camera/http_sender.h"
#include "io/io_base.h"

namespace orbisan {

// Digital I/O of this camera family over the CGI commands DIO_STATUS and
// DIO_OUTPUT. A video server splits its inputs and outputs evenly over its
// channels and is addressed one channel at a time.
class CActiDigitalIO : public CIOBase {
 public:
  // Wait between the channels of one poll of a video server.
  static constexpr uint32_t kChannelPauseMs = 500;

  explicit CActiDigitalIO(IDriver* driver);
  ~CActiDigitalIO() override;

 protected:
  bool WriteOutputs(uint32_t index, uint32_t state) override;
  bool GetInputStates(uint32_t inputCount) override;
  void OnIOStarted() override;
  void CancelRequests() override;

 private:
  bool SingleUnit() const;
  bool QueryInputs(uint32_t count, uint32_t channel, bool withChannel);
  bool SendOutputs(uint32_t count, uint32_t channel, bool withChannel);
  // The CGI path of one item; an empty value asks for the item.
  std::string Path(uint32_t channel, bool withChannel, const std::string& name, const std::string& value) const;

  std::unique_ptr<Web::CHttpSender> outputSender_;
  std::unique_ptr<Web::CHttpSender> inputSender_;
  uint32_t singleChannelOverride_;
  std::string cgiName_;
};

}  // namespace orbisan
