// strandline events: opens the driver for a device, starts its digital I/O
// and a motion channel per video input, and prints one line per callback:
//   input INDEX STATE utc=...      (STATE 1 set, 2 clear)
//   motion CHANNEL 0|1 utc=...
// then "inputs_changed= motion_frames= outputs_set=". Exit 0 when a callback
// came, 1 when none did, 2 for bad usage.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "host/commands.h"
#include "host/host_frames.h"
#include "host/host_session.h"
#include "strandline/capture_io.h"

namespace strandline::host {

namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop = true; }

std::mutex g_printMutex;

std::string NowIso() {
  HostSample clock(0, 0, "");
  clock.SetTimeNow();
  orbisan::SYSTEMTIME now;
  clock.GetTime(&now);
  return RecordingSink::IsoTime(now);
}

class InputPrinter : public orbisan::ipcapture::IIOCallback {
 public:
  void OnInputStateChanged(uint32_t index, uint32_t state) override {
    ++changes;
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::printf("input %u %u utc=%s\n", index, state, NowIso().c_str());
    std::fflush(stdout);
  }
  void OnIOFailure() override {}
  std::atomic<uint64_t> changes{0};
};

// Takes the recording stream's frames; prints the motion ones.
class MotionPrinter : public orbisan::ipcapture::IVideoFrameSink {
 public:
  explicit MotionPrinter(uint32_t channel) : channel_(channel) {}
  bool OnFrame(orbisan::ipcapture::IMediaSample* sample) override {
    if (sample == nullptr || sample->GetFourCC() != orbisan::ipcapture::kFourCC_MEMD) return true;
    if (sample->GetDataSize() < 2 || sample->GetBuffer() == nullptr) return false;
    orbisan::SYSTEMTIME time;
    sample->GetTime(&time);
    ++frames;
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::printf("motion %u %u utc=%s\n", channel_, sample->GetBuffer()[1] != 0 ? 1u : 0u,
                RecordingSink::IsoTime(time).c_str());
    std::fflush(stdout);
    return true;
  }
  void OnFormatChanged() override {}
  void OnSignalLost() override {}
  std::atomic<uint64_t> frames{0};

 private:
  uint32_t channel_;
};

// The recording stream that carries the motion channel.
class MotionStreamRequest : public HostStreamRequest {
 public:
  using HostStreamRequest::HostStreamRequest;

 private:
  uint16_t IsMotionDetectionEnabled() override { return 1; }
};

// Takes the "--output INDEX=STATE" options out of args.
bool TakeOutputs(std::vector<std::string>& args, std::vector<std::pair<uint32_t, uint32_t>>& outputs,
                 std::string& error) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--output") {
      rest.push_back(args[i]);
      continue;
    }
    unsigned index = 0;
    unsigned state = 0;
    char tail = 0;
    if (i + 1 >= args.size() || std::sscanf(args[i + 1].c_str(), "%u=%u%c", &index, &state, &tail) != 2) {
      error = "--output needs INDEX=STATE";
      return false;
    }
    outputs.emplace_back(index, state);
    ++i;
  }
  args = std::move(rest);
  return true;
}

}  // namespace

int RunEvents(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  std::vector<std::pair<uint32_t, uint32_t>> outputs;
  HostOptions options;
  // A small, cheap video stream unless asked otherwise: it only carries motion.
  options.codec = 1;
  options.width = 320;
  options.height = 240;
  options.fps = 5;
  std::string error;
  if (!TakeOutputs(args, outputs, error) || !ParseHostOptions(args, options, error)) {
    std::fprintf(stderr, "strandline events: %s\n", error.c_str());
    return 2;
  }
  g_stop = false;
  CatchStopSignals(OnStopSignal);

  HostAllocator allocator;
  HostSession session(options);
  if (!session.Open(error, &allocator)) {
    std::fprintf(stderr, "strandline events: %s\n", error.c_str());
    return 1;
  }
  InputPrinter inputs;
  uint64_t outputsSet = 0;
  orbisan::ipcapture::ICaptureIOApi* io = session.Driver()->GetDigitalIO();
  if (io != nullptr) {
    io->SetCallback(&inputs);
    if (!io->StartIO()) std::fprintf(stderr, "strandline events: the digital I/O did not start\n");
    for (const auto& [index, state] : outputs) {
      if (io->SetOutputState(index, state)) ++outputsSet;
    }
  }
  orbisan::ipcapture::IIPVideoCapture* capture = session.Driver()->GetVideoCapture();
  std::vector<std::unique_ptr<MotionPrinter>> sinks;
  MotionStreamRequest request(static_cast<uint16_t>(options.codec), static_cast<uint16_t>(options.width),
                              static_cast<uint16_t>(options.height), static_cast<uint16_t>(options.fps),
                              static_cast<uint16_t>(options.bitrate));
  for (uint32_t channel = 0; capture != nullptr && channel < options.channels; ++channel) {
    sinks.push_back(std::make_unique<MotionPrinter>(channel));
    capture->StartCapture(channel, sinks.back().get(), &request);
  }

  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(static_cast<int64_t>(options.durationSeconds * 1000));
  while (!g_stop && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  for (uint32_t channel = 0; capture != nullptr && channel < options.channels; ++channel) {
    capture->StopCapture(channel);
  }
  if (io != nullptr) io->StopIO();
  session.Close();

  uint64_t motionFrames = 0;
  for (const auto& sink : sinks) motionFrames += sink->frames.load();
  const uint64_t inputsChanged = inputs.changes.load();
  std::printf("inputs_changed=%llu motion_frames=%llu outputs_set=%llu\n",
              static_cast<unsigned long long>(inputsChanged), static_cast<unsigned long long>(motionFrames),
              static_cast<unsigned long long>(outputsSet));
  if (inputsChanged == 0 && motionFrames == 0) {
    std::fprintf(stderr, "strandline events: no input change and no motion frame arrived\n");
    return 1;
  }
  return 0;
}

}  // namespace strandline::host
