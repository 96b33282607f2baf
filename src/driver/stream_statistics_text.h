#pragma once

#include <string>

#include "channels/camera_channel.h"

namespace orbisan {

// The "StreamStatistics" text the host reads: key=value pairs in a fixed
// order that only ever grows at its end; unknown figures are left empty.
std::string StreamStatisticsText(const CHANNEL_STATISTICS& statistics);

}  // namespace orbisan
