// Feeds the input as a compound RTCP packet from the camera; the receiver
// report built afterwards and the clock offset read must come from within
// the input's bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rtsp/rtcp_report_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbisan::CRTCPReportState state;
  state.Clear();
  for (size_t i = 0; i + 1 < size && i < 64; i += 2)
    state.CountPacket(static_cast<uint16_t>(data[i] << 8 | data[i + 1]));
  const uint32_t seen = state.ReadCompound(data, size, 1000);
  uint8_t report[orbisan::CRTCPReportState::kReceiverReportSize];
  state.BuildReceiverReport(2000, report);
  int64_t offset = 0;
  const bool known = state.CameraClockOffsetMs(offset);
  // An offset only ever comes with a sender report.
  if (known && (seen & orbisan::CRTCPReportState::kSawSenderReport) == 0) std::abort();
  return 0;
}
