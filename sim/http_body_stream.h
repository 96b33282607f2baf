// An answer body that goes on for as long as the camera has something to say
// (the motion message stream), produced while the client reads.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace strandline::sim {

class HttpBodyStream {
 public:
  static constexpr long kEnd = -1;   // the body is complete
  static constexpr long kDrop = -2;  // close the connection at once

  virtual ~HttpBodyStream() = default;
  // Copies up to max bytes into buffer. Waits at most about `wait` for data;
  // 0 when there is none yet, or kEnd / kDrop.
  virtual long Next(char* buffer, size_t max, std::chrono::milliseconds wait) = 0;
  virtual std::string ContentType() const = 0;
};

}  // namespace strandline::sim
