#include "camera/resolution_codes.h"

namespace orbisan {

const std::map<FrameSize, std::string>& PalResolutionCodes() {
  static const std::map<FrameSize, std::string> codes = {
      {{176, 144}, "P176x144"}, {{352, 288}, "P352x288"}, {{640, 480}, "P640x480"}, {{720, 576}, "P720x576"}};
  return codes;
}

const std::map<FrameSize, std::string>& NtscResolutionCodes() {
  static const std::map<FrameSize, std::string> codes = {{{160, 112}, "N160x112"},   {{352, 240}, "N352x240"},
                                                         {{640, 480}, "N640x480"},   {{720, 480}, "N720x480"},
                                                         {{1280, 720}, "N1280x720"}, {{1280, 1024}, "N1280x1024"}};
  return codes;
}

}  // namespace orbisan
