#pragma once

#include <cstdint>

namespace orbisan {

// Calendar time split into fields (UTC unless a call says otherwise).
struct SYSTEMTIME {
  uint16_t wYear = 0;
  uint16_t wMonth = 0;
  uint16_t wDayOfWeek = 0;
  uint16_t wDay = 0;
  uint16_t wHour = 0;
  uint16_t wMinute = 0;
  uint16_t wSecond = 0;
  uint16_t wMilliseconds = 0;
};

}  // namespace orbisan
