#include "sim/camera_clock.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "sim/cgi_query.h"

namespace strandline::sim {
namespace {

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool CameraClock::Parse(std::string_view text, long long* utc_seconds, int* mode, int* zone_hours) {
  auto fields = Split(text, ',');
  if (fields.size() != 4) return false;
  if (!AllDigits(fields[0]) || fields[0].size() > 2) return false;
  // MMDD0000YYYY
  std::string_view date = fields[1];
  if (date.size() != 12 || !AllDigits(date) || date.substr(4, 4) != "0000") return false;
  int month = Number(date.substr(0, 2));
  int day = Number(date.substr(2, 2));
  int year = Number(date.substr(8, 4));
  if (year < 1970 || year > 2099 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  auto clock = Split(fields[2], ':');
  if (clock.size() != 3) return false;
  for (auto part : clock) {
    if (part.size() != 2 || !AllDigits(part)) return false;
  }
  int hour = Number(clock[0]);
  int minute = Number(clock[1]);
  int second = Number(clock[2]);
  if (hour > 23 || minute > 59 || second > 59) return false;
  std::string_view zone = fields[3];
  if (zone.size() < 2 || zone.size() > 3 || (zone[0] != '+' && zone[0] != '-') || !AllDigits(zone.substr(1))) {
    return false;
  }
  int zone_value = Number(zone.substr(1));
  if (zone_value > 14) return false;
  if (zone[0] == '-') zone_value = -zone_value;

  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  // The text is local camera time in the given zone.
  *utc_seconds = static_cast<long long>(timegm(&tm)) - zone_value * 3600LL;
  *mode = Number(fields[0]);
  *zone_hours = zone_value;
  return true;
}

bool CameraClock::Set(std::string_view text) {
  long long utc = 0;
  int mode = 0;
  int zone = 0;
  if (!Parse(text, &utc, &mode, &zone)) return false;
  auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  std::lock_guard<std::mutex> lock(mutex_);
  if (refusing_) return false;
  offset_ = std::chrono::seconds(utc) - now;
  mode_ = mode;
  zone_hours_ = zone;
  ++set_count_;
  return true;
}

void CameraClock::SetOffset(std::chrono::seconds offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  offset_ = offset;
}

void CameraClock::SetRefusing(bool refusing) {
  std::lock_guard<std::mutex> lock(mutex_);
  refusing_ = refusing;
}

int CameraClock::SetCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_count_;
}

std::chrono::seconds CameraClock::Offset() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return offset_;
}

std::string CameraClock::Text() const {
  std::chrono::seconds offset;
  int mode;
  int zone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    offset = offset_;
    mode = mode_;
    zone = zone_hours_;
  }
  auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  std::time_t local = static_cast<std::time_t>((now + offset).count() + zone * 3600LL);
  std::tm tm{};
  gmtime_r(&local, &tm);
  char text[64];
  std::snprintf(text, sizeof(text), "%d,%.2d%.2d0000%.4d,%.2d:%.2d:%.2d,%c%.2d", mode, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, zone < 0 ? '-' : '+', zone < 0 ? -zone : zone);
  return text;
}

}  // namespace strandline::sim
