#include "runtime/time_utils.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace orbisan {

namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool FromTm(const std::tm& tm, uint16_t ms, SYSTEMTIME& out) {
  if (tm.tm_year + 1900 < 1601 || tm.tm_year + 1900 > 30827) return false;
  out.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
  out.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
  out.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  out.wDay = static_cast<uint16_t>(tm.tm_mday);
  out.wHour = static_cast<uint16_t>(tm.tm_hour);
  out.wMinute = static_cast<uint16_t>(tm.tm_min);
  out.wSecond = static_cast<uint16_t>(tm.tm_sec);
  out.wMilliseconds = ms;
  return true;
}

bool Split(uint64_t fileTime, bool local, SYSTEMTIME& out) {
  if (fileTime >= 0x8000000000000000ull) return false;
  const int64_t units = static_cast<int64_t>(fileTime) - static_cast<int64_t>(kFileTimeUnixEpoch);
  int64_t seconds = units / 10000000;
  int64_t rem = units % 10000000;
  if (rem < 0) {
    rem += 10000000;
    --seconds;
  }
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if ((local ? localtime_r(&t, &tm) : gmtime_r(&t, &tm)) == nullptr) return false;
  return FromTm(tm, static_cast<uint16_t>(rem / 10000), out);
}

std::atomic<int64_t> wallClockShift{0};

}  // namespace

void ShiftWallClockForTesting(int64_t units) { wallClockShift.fetch_add(units); }

uint64_t NowFileTime() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const int64_t units =
      std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100 + wallClockShift.load();
  if (units < -static_cast<int64_t>(kFileTimeUnixEpoch)) return 0;
  return static_cast<uint64_t>(units + static_cast<int64_t>(kFileTimeUnixEpoch));
}

uint32_t ElapsedMsSince(uint64_t fileTime) {
  const uint64_t now = NowFileTime();
  if (fileTime >= now) return 0;
  return static_cast<uint32_t>((now - fileTime) / kFileTimeUnitsPerMs);
}

uint64_t SystemTimeToFileTime64(const SYSTEMTIME& t) {
  if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
      t.wDay > DaysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
      t.wMilliseconds > 999) {
    return 0;
  }
  const int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay);
  const int64_t seconds = days * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
  const int64_t units =
      seconds * 10000000 + static_cast<int64_t>(t.wMilliseconds) * 10000 + static_cast<int64_t>(kFileTimeUnixEpoch);
  return units < 0 ? 0 : static_cast<uint64_t>(units);
}

bool FileTimeToSystemTimeUtc(uint64_t fileTime, SYSTEMTIME& out) { return Split(fileTime, false, out); }

bool FileTimeToSystemTimeLocal(uint64_t fileTime, SYSTEMTIME& out) { return Split(fileTime, true, out); }

std::string FormatLocalTime(uint64_t fileTime) {
  if (fileTime == 0) return {};
  SYSTEMTIME t;
  if (!FileTimeToSystemTimeLocal(fileTime, t)) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%.4hu/%.2hu/%.2hu %.2hu:%.2hu:%.2hu.%.3hu", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

uint32_t TickCountMs() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

uint64_t SteadyMs() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

uint64_t SteadyUs() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

CTime::CTime() : stamp_(NowFileTime()), steadyMs_(static_cast<int64_t>(SteadyMs())) {}

void CTime::Touch() {
  const int64_t steady = static_cast<int64_t>(SteadyMs());
  const uint64_t stamp = NowFileTime();
  CAutoLock guard(lock_);
  stamp_ = stamp;
  steadyMs_ = steady;
}

void CTime::Set(uint64_t stamp) {
  // The steady stamp lies as far back (or ahead) as the given time does now.
  const int64_t steady = static_cast<int64_t>(SteadyMs());
  const int64_t agoMs =
      (static_cast<int64_t>(NowFileTime()) - static_cast<int64_t>(stamp)) / static_cast<int64_t>(kFileTimeUnitsPerMs);
  CAutoLock guard(lock_);
  stamp_ = stamp;
  steadyMs_ = steady - agoMs;
}

uint64_t CTime::Get() {
  CAutoLock guard(lock_);
  return stamp_;
}

uint32_t CTime::ElapsedMs() {
  int64_t stamp;
  {
    CAutoLock guard(lock_);
    stamp = steadyMs_;
  }
  const int64_t now = static_cast<int64_t>(SteadyMs());
  if (stamp >= now) return 0;
  const uint64_t elapsed = static_cast<uint64_t>(now - stamp);
  return elapsed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(elapsed);
}

}  // namespace orbisan
