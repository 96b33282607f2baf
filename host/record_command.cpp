#include "host/record_command.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/commands.h"
#include "host/host_audio.h"
#include "host/host_frames.h"
#include "host/host_session.h"
#include "host/metrics_server.h"
#include "host/stream_snapshot.h"

namespace strandline::host {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_progressShown{false};

// The longest a stop may take before the process ends without it: the
// driver bounds each thread's stop by twice the connect time-out (10 s).
constexpr auto kStopBound = std::chrono::seconds(20);

void WriteLine(const char* text) {
  // Only async-signal-safe calls: this runs in a signal handler too.
  const ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)written;
}

// The first signal asks for a clean stop; a second one ends the process at
// once, for a driver that does not stop.
void OnSignal(int signal) {
  if (!g_interrupted.exchange(true)) return;
  WriteLine("\nstrandline record: interrupted again, ending at once without a clean stop\n");
  ::_exit(128 + signal);
}

// Ends the process when the stop has not finished within kStopBound.
class StopWatchdog {
 public:
  StopWatchdog()
      : thread_([this] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!changed_.wait_for(lock, kStopBound, [this] { return done_; })) {
            WriteLine("\nstrandline record: the driver did not stop within 20 s, ending at once\n");
            ::_exit(1);
          }
        }) {}
  ~StopWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

void ClearProgress() {
  if (g_progressShown.exchange(false)) std::fputs("\r\033[K", stderr);
}

}  // namespace

namespace {

// One driver object with one stream, as a recorder holds per camera.
struct Recording {
  explicit Recording(const HostOptions& options) : session(options) {}
  RecordingSink sink;
  HostAllocator allocator;
  HostSession session;
  orbisan::ipcapture::IIPVideoCaptureEx2* capture = nullptr;
  bool started = false;
  uint32_t number = 1;
  uint64_t reconnects = 0;  // as last seen, to date each new one
};

// The host's and the driver's figures of one recording now.
StreamSnapshot Snapshot(Recording& r, const HostOptions& options) {
  StreamSnapshot s;
  s.device = options.address + ":" + std::to_string(options.port);
  s.input = options.input;
  s.kind = options.streamKind;
  s.driver = r.number;
  s.host = r.sink.Stats();
  s.haveHealth = r.started && QueryStreamHealth(r.capture, options.input, options.streamKind, s.health);
  uint32_t reserved = 0;
  if (options.streamKind != 0 || !r.capture->GetStreamState(options.input, &s.state, &reserved, nullptr, 0)) {
    const bool flowing = s.health.secondsSinceLastFrame && *s.health.secondsSinceLastFrame < 2;
    s.state = flowing ? 0 : s.host.frames == 0 ? 1 : 2;
  }
  for (const GapLog::Gap& gap : r.sink.Gaps().Gaps(RecordingSink::UtcNowMs())) {
    ++s.gaps;
    s.gapSeconds += gap.Seconds();
  }
  return s;
}

}  // namespace

int RecordStream(const HostOptions& options) {
  g_interrupted = false;
  CatchStopSignals(OnSignal);

  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  std::vector<std::unique_ptr<Recording>> recordings;
  std::string error;
  for (uint32_t i = 0; i < options.streams; ++i) {
    auto recording = std::make_unique<Recording>(options);
    // With several streams only the first writes the output files.
    if (i == 0 && (!recording->sink.OpenOutputs(options.out, options.index, error) ||
                   (options.edge && !recording->sink.OrderByCaptureTime(error)))) {
      std::fprintf(stderr, "strandline record: %s\n", error.c_str());
      return 1;
    }
    if (terminal) recording->session.Log().SetBeforeLine(&ClearProgress);
    if (!recording->session.Open(error, &recording->allocator)) {
      std::fprintf(stderr, "strandline record: %s\n", error.c_str());
      return 1;
    }
    recording->capture = recording->session.Driver()->GetVideoCaptureEx2();
    recording->number = i + 1;
    if (recording->capture == nullptr) {
      std::fprintf(stderr, "strandline record: the driver has no video capture object\n");
      return 1;
    }
    recordings.push_back(std::move(recording));
  }
  // Audio of the first driver object, on host channel 0 from the recorded input.
  AudioRecorder audio;
  orbisan::ipcapture::IIPAudioCapture2* audioCapture = nullptr;
  const bool withAudio = options.audioOnly || !options.audio.empty();
  if (withAudio) {
    audioCapture = recordings[0]->session.Driver()->GetAudioCapture();
    if (audioCapture == nullptr) {
      std::fprintf(stderr,
                   "strandline record: the driver has no audio capture object (--param 101=\"Count=1; "
                   "IsStereo=0\" asks for one)\n");
      return 1;
    }
    if (!audio.Open(options.audio, error)) {
      std::fprintf(stderr, "strandline record: %s\n", error.c_str());
      return 1;
    }
  }
  HostStreamRequest request(static_cast<uint16_t>(options.codec), static_cast<uint16_t>(options.width),
                            static_cast<uint16_t>(options.height), static_cast<uint16_t>(0x7000 | options.fps),
                            static_cast<uint16_t>(options.bitrate));
  const auto start = std::chrono::steady_clock::now();
  bool anyStarted = false;
  if (audioCapture != nullptr) {
    anyStarted = audioCapture->OpenChannel(0, options.input, &audio, nullptr);
    if (!anyStarted) std::fprintf(stderr, "strandline record: the driver could not open the audio channel\n");
  }
  for (auto& r : recordings) {
    if (options.audioOnly) break;
    r->sink.MarkRequested();
    if (options.edge) {
      const uint16_t on = 1;
      if (!r->capture->SetParameter("EdgeStorageState", &on, 2)) {
        std::fprintf(stderr, "strandline record: the driver does not take edge storage\n");
      }
    }
    r->started = options.streamKind == 0
                     ? r->capture->StartCapture(options.input, &r->sink, &request)
                     : r->capture->StartStream(options.input, options.streamKind, &r->sink, &request);
    if (!r->started) std::fprintf(stderr, "strandline record: the driver could not start the stream\n");
    anyStarted |= r->started;
  }
  auto total = [&] {
    StreamStats sum;
    for (auto& r : recordings) {
      const StreamStats s = r->sink.Stats();
      if (sum.frames == 0) {
        sum.width = s.width;
        sum.height = s.height;
        sum.fourcc = s.fourcc;
        sum.firstFrameMs = s.firstFrameMs;
      }
      sum.frames += s.frames;
      sum.keyframes += s.keyframes;
      sum.bytes += s.bytes;
      sum.signalLost += s.signalLost;
      sum.edgeFrames += s.edgeFrames;
      if (s.firstFrameMs > sum.firstFrameMs) sum.firstFrameMs = s.firstFrameMs;  // the slowest stream
    }
    return sum;
  };
  auto snapshots = [&] {
    std::vector<StreamSnapshot> all;
    for (auto& r : recordings) all.push_back(Snapshot(*r, options));
    return all;
  };
  MetricsServer metrics;
  if (options.metricsPort >= 0 && anyStarted && !options.audioOnly) {
    if (metrics.Start(
            options.metricsAddress, static_cast<uint16_t>(options.metricsPort),
            [&] { return RenderMetrics(snapshots()); }, error)) {
      std::fprintf(stderr, "strandline record: metrics on http://%s:%u/metrics\n", options.metricsAddress.c_str(),
                   static_cast<unsigned>(metrics.Port()));
    } else {
      std::fprintf(stderr, "strandline record: %s\n", error.c_str());
    }
  }
  // The status line: every --stats seconds, every 2 s on a terminal.
  const double statsSeconds = options.quiet || options.audioOnly ? 0
                              : options.statsSeconds > 0         ? options.statsSeconds
                              : terminal                         ? 2
                                                                 : 0;
  const auto statsInterval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(statsSeconds > 0 ? statsSeconds : 1));
  const auto limit = std::chrono::duration<double>(options.durationSeconds);
  auto nextStatus = start + statsInterval;
  auto nextLook = start + std::chrono::seconds(1);
  while (anyStarted && !g_interrupted) {
    const auto now = std::chrono::steady_clock::now();
    const StreamStats stats = total();
    const uint64_t counted = options.audioOnly ? audio.Frames() : stats.frames;
    if (options.frames != 0 ? counted >= options.frames : now - start >= limit) break;
    // A frame count alone must not wait forever for a camera that never comes.
    if (options.frames != 0 && now - start >= std::chrono::duration<double>(options.durationSeconds * 6)) break;
    if (now >= nextLook) {
      // Dates the driver's reconnects for the gap list.
      for (auto& r : recordings) {
        StreamHealth health;
        if (!r->started || !QueryStreamHealth(r->capture, options.input, options.streamKind, health)) continue;
        if (health.reconnects > r->reconnects) r->sink.Gaps().Reconnected(RecordingSink::UtcNowMs());
        r->reconnects = health.reconnects;
      }
      nextLook += std::chrono::seconds(1);
    }
    if (statsSeconds > 0 && now >= nextStatus) {
      const std::string line = StatusLine(snapshots());
      if (terminal) {
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        g_progressShown = true;
      } else {
        std::fprintf(stderr, "%s\n", line.c_str());
      }
      nextStatus += statsInterval;
      if (nextStatus < now) nextStatus = now + statsInterval;
    }
    // Wake only as often as the status line or a frame limit needs: the
    // host's own wake-ups should not weigh on the driver's CPU figures.
    std::this_thread::sleep_for(std::chrono::milliseconds(statsSeconds > 0 || options.frames != 0 ? 20 : 100));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int64_t endUtcMs = RecordingSink::UtcNowMs();
  metrics.Stop();
  // Read before the stop: the driver lets go of a stream's numbers with it.
  StreamHealth driverStats;
  for (auto& r : recordings) {
    StreamHealth one;
    if (!r->started || !QueryStreamHealth(r->capture, options.input, options.streamKind, one)) continue;
    driverStats.rtpLost += one.rtpLost;
    driverStats.framesDropped += one.framesDropped;
    if (driverStats.failure.empty()) driverStats.failure = one.failure;
  }
  StopWatchdog watchdog;
  uint32_t audioState = 0;
  if (audioCapture != nullptr) {
    audioState = audioCapture->GetChannelState(0);
    audioCapture->CloseChannel(0);
    audio.Close();
  }
  for (auto& r : recordings) {
    if (options.audioOnly) break;
    if (options.streamKind == 0) {
      r->capture->StopCapture(options.input);
    } else {
      r->capture->StopStream(options.input, options.streamKind);
    }
  }
  ClearProgress();
  for (auto& r : recordings) {
    r->session.Close();
    r->sink.CloseOutputs();
  }

  if (recordings.size() > 1) {
    // Rate of each stream from its first to its last frame: a stream that
    // drops frames shows a rate below the camera's.
    double lowest = 1e9, highest = 0, sum = 0;
    for (auto& r : recordings) {
      const StreamStats s = r->sink.Stats();
      const double span = static_cast<double>(s.lastFrameMs - s.firstFrameMs) / 1000.0;
      const double rate = s.frames > 1 && span > 0 ? static_cast<double>(s.frames - 1) / span : 0;
      lowest = std::min(lowest, rate);
      highest = std::max(highest, rate);
      sum += rate;
    }
    std::fprintf(stderr, "strandline record: %zu streams, frames per second per stream min %.2f mean %.2f max %.2f\n",
                 recordings.size(), lowest, sum / static_cast<double>(recordings.size()), highest);
  }
  const StreamStats stats = total();
  uint64_t gaps = 0;
  double gapSeconds = 0;
  for (auto& r : recordings) {
    if (options.audioOnly) break;
    const std::vector<GapLog::Gap> list = r->sink.Gaps().Gaps(endUtcMs);
    for (const GapLog::Gap& gap : list) gapSeconds += gap.Seconds();
    gaps += list.size();
    // With several streams the file lists the first one's, as the outputs do.
    if (r == recordings.front() && !options.gaps.empty() && !GapLog::WriteCsv(options.gaps, list, error)) {
      std::fprintf(stderr, "strandline record: %s\n", error.c_str());
    }
  }
  const double fps = seconds > 0 ? static_cast<double>(stats.frames) / seconds : 0;
  const double kbps = seconds > 0 ? static_cast<double>(stats.bytes) * 8 / 1000 / seconds : 0;
  if (options.audioOnly) {
    if (audio.Frames() == 0) {
      std::fprintf(stderr, "strandline record: no audio frames arrived from %s:%u within %.1f s\n",
                   options.address.c_str(), static_cast<unsigned>(options.port), seconds);
    }
  } else if (stats.frames == 0) {
    const std::string reason = driverStats.failure.empty() ? std::string() : ": " + driverStats.failure;
    std::fprintf(stderr, "strandline record: no frames arrived from %s:%u within %.1f s%s\n", options.address.c_str(),
                 static_cast<unsigned>(options.port), seconds, reason.c_str());
  }
  std::printf(
      "frames=%llu keyframes=%llu bytes=%llu seconds=%.3f fps=%.2f kbps=%.1f width=%u height=%u fourcc=%s "
      "first_frame_ms=%lld signal_lost=%llu rtp_lost=%llu frames_dropped=%llu audio_frames=%llu audio_bytes=%llu "
      "audio_state=%u edge_frames=%llu gaps=%llu gap_seconds=%.1f\n",
      static_cast<unsigned long long>(stats.frames), static_cast<unsigned long long>(stats.keyframes),
      static_cast<unsigned long long>(stats.bytes), seconds, fps, kbps, stats.width, stats.height,
      stats.frames ? RecordingSink::FourCCText(stats.fourcc).c_str() : "none",
      static_cast<long long>(stats.firstFrameMs), static_cast<unsigned long long>(stats.signalLost),
      static_cast<unsigned long long>(driverStats.rtpLost), static_cast<unsigned long long>(driverStats.framesDropped),
      static_cast<unsigned long long>(audio.Frames()), static_cast<unsigned long long>(audio.Bytes()), audioState,
      static_cast<unsigned long long>(stats.edgeFrames), static_cast<unsigned long long>(gaps), gapSeconds);
  std::fflush(stdout);
  if (options.audioOnly) return audio.Frames() > 0 ? 0 : 1;
  return stats.frames > 0 ? 0 : 1;
}

int RunRecord(const std::vector<std::string>& args) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(args, options, error)) {
    std::fprintf(stderr, "strandline record: %s\n", error.c_str());
    return 2;
  }
  return RecordStream(options);
}

}  // namespace strandline::host
