#pragma once

#include <cstdint>
#include <string>

#include "host/container_output.h"

struct AVFormatContext;
struct AVStream;

namespace strandline::host {

// Writes delivered video frames into a Matroska or MP4 file with the
// capture times as time stamps, so players show the right duration and can
// seek. The container is chosen by the file name's extension.
class ContainerWriter : public IContainerOutput {
 public:
  ContainerWriter() = default;
  ~ContainerWriter() override;
  ContainerWriter(const ContainerWriter&) = delete;
  ContainerWriter& operator=(const ContainerWriter&) = delete;

  bool Open(const std::string& path, std::string& error) override;
  bool Write(const uint8_t* data, uint32_t size, uint32_t fourcc, uint32_t width, uint32_t height,
             int64_t timeMs) override;
  void Close() override;

 private:
  bool Start(const uint8_t* data, uint32_t size, uint32_t fourcc, uint32_t width, uint32_t height);
  bool WritePending(int64_t nextPts);

  std::string path_;
  AVFormatContext* context_ = nullptr;
  AVStream* stream_ = nullptr;
  bool started_ = false;
  bool failed_ = false;
  int64_t firstMs_ = 0;
  // A frame is written once the next one arrives, which gives its duration.
  std::string pending_;
  int64_t pendingPts_ = -1;
  bool pendingKey_ = false;
  int64_t lastDuration_ = 40;
};

}  // namespace strandline::host
