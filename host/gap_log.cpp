#include "host/gap_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace strandline::host {

namespace {

std::string IsoMs(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

}  // namespace

void GapLog::Requested(int64_t utcMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  requestedMs_ = utcMs;
}

void GapLog::LiveFrame(int64_t utcMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (firstLiveMs_ < 0) firstLiveMs_ = utcMs;
  if (lastLiveMs_ >= 0 && utcMs - lastLiveMs_ > kHoleMs) holes_.push_back({lastLiveMs_, utcMs, lastLiveMs_});
  lastLiveMs_ = std::max(lastLiveMs_, utcMs);
}

void GapLog::EdgeFrame(int64_t utcMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Played back after the hole closed: the latest holes are the likely ones.
  for (auto hole = holes_.rbegin(); hole != holes_.rend(); ++hole) {
    if (utcMs <= hole->startMs) continue;
    if (utcMs < hole->endMs && utcMs > hole->lastPointMs) {
      if (utcMs - hole->lastPointMs > kHoleMs) hole->emptyMs += utcMs - hole->lastPointMs;
      hole->lastPointMs = utcMs;
    }
    return;
  }
}

void GapLog::SignalLost(int64_t utcMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  signalLost_.push_back(utcMs);
}

void GapLog::Reconnected(int64_t utcMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  reconnects_.push_back(utcMs);
}

bool GapLog::Within(const std::vector<int64_t>& events, int64_t startMs, int64_t endMs) const {
  return std::any_of(events.begin(), events.end(),
                     [&](int64_t t) { return t >= startMs && t <= endMs + kEventSlackMs; });
}

std::vector<GapLog::Gap> GapLog::Gaps(int64_t endMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Gap> gaps;
  auto add = [&](int64_t start, int64_t end, const char* cause, int64_t emptyMs) {
    Gap gap;
    gap.startMs = start;
    gap.endMs = end;
    gap.cause = cause;
    gap.edgeSeconds = static_cast<double>(end - start - emptyMs) / 1000.0;
    gaps.push_back(gap);
  };
  if (requestedMs_ >= 0) {
    const int64_t firstEnd = firstLiveMs_ >= 0 ? firstLiveMs_ : endMs;
    if (firstEnd - requestedMs_ > kHoleMs) add(requestedMs_, firstEnd, "start", firstEnd - requestedMs_);
  }
  for (const Hole& hole : holes_) {
    // Frames that stopped without the driver reconnecting count as lost too.
    const bool reconnect =
        !Within(signalLost_, hole.startMs, hole.endMs) && Within(reconnects_, hole.startMs, hole.endMs);
    const int64_t tail = hole.endMs - hole.lastPointMs;
    add(hole.startMs, hole.endMs, reconnect ? "reconnect" : "signal_lost", hole.emptyMs + (tail > kHoleMs ? tail : 0));
  }
  // Video that stopped and had not come back when the recording ended.
  if (lastLiveMs_ >= 0 && endMs - lastLiveMs_ > kHoleMs) add(lastLiveMs_, endMs, "camera_ended", endMs - lastLiveMs_);
  return gaps;
}

bool GapLog::WriteCsv(const std::string& path, const std::vector<Gap>& gaps, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fputs("start_utc,end_utc,seconds,cause,edge_seconds\n", file);
  for (const Gap& gap : gaps) {
    std::fprintf(file, "%s,%s,%.3f,%s,%.3f\n", IsoMs(gap.startMs).c_str(), IsoMs(gap.endMs).c_str(), gap.Seconds(),
                 gap.cause.c_str(), gap.edgeSeconds);
  }
  const bool ok = std::fclose(file) == 0;
  if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
  return ok;
}

}  // namespace strandline::host
