// The simulated camera's storage card and the network outage it bridges.
#include "sim/simulated_camera.h"

namespace strandline::sim {

void SimulatedCamera::SetStorageMounted(bool mounted) { card_->SetMounted(mounted); }

void SimulatedCamera::SetStorageRetention(std::chrono::seconds keep) { card_->SetRetention(keep); }

void SimulatedCamera::SetNetworkOutage(bool outage) {
  std::lock_guard<std::mutex> lock(services_mutex_);
  refuse_ = outage;
  rtsp_.SetRefuseConnections(outage);
  if (outage) rtsp_.DropConnections();
}

}  // namespace strandline::sim
