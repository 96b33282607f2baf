#pragma once

#include <map>
#include <string>

#include "device/stream_kind_settings.h"

namespace orbisan {

// The camera's resolution codes ("N640x480", "P720x576") by picture size.
const std::map<FrameSize, std::string>& PalResolutionCodes();
const std::map<FrameSize, std::string>& NtscResolutionCodes();

}  // namespace orbisan
