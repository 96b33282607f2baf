#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace strandline::host {

// Where delivered frames go when the output is a Matroska or MP4 file. The
// writer lives in its own module (libstrandline_mux.so) so that a recording
// into a raw file, and every other command, never loads the media libraries.
class IContainerOutput {
 public:
  virtual ~IContainerOutput() = default;
  virtual bool Open(const std::string& path, std::string& error) = 0;
  // timeMs: the capture time in milliseconds since the epoch.
  virtual bool Write(const uint8_t* data, uint32_t size, uint32_t fourcc, uint32_t width, uint32_t height,
                     int64_t timeMs) = 0;
  virtual void Close() = 0;
};

// True when the file name asks for a container rather than raw frames.
bool WantsContainer(const std::string& path);
// Loads the writer module; null with the reason in error when it cannot.
std::unique_ptr<IContainerOutput> LoadContainerOutput(std::string& error);

}  // namespace strandline::host
