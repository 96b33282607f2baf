#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace orbisan {

// Per stream kind (0 recording, 1 live, 2 remote): picture size -> the frame
// rates the camera offers at that size.
using FrameSize = std::pair<uint32_t, uint32_t>;  // width, height
using FrameRateTable = std::map<FrameSize, std::set<uint32_t>>;
using StreamKindSettings = std::map<uint32_t, FrameRateTable>;

// Reads the "Stream capabilities" text ("Recording=WxH:r,r;WxH:r.Live=...")
// back into the map. Entries that do not parse are skipped.
StreamKindSettings ParseStreamKindSettings(const std::string& text);

}  // namespace orbisan
