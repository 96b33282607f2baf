#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct MHD_Daemon;

namespace strandline::host {

// Serves GET /metrics with the text a callback builds at each request
// (Prometheus text exposition format), on its own thread.
class MetricsServer {
 public:
  using Render = std::function<std::string()>;
  ~MetricsServer();
  // Port 0 takes a free one; false with a reason when it cannot listen.
  bool Start(const std::string& address, uint16_t port, Render render, std::string& error);
  void Stop();
  uint16_t Port() const { return port_; }

 private:
  Render render_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};

}  // namespace strandline::host
