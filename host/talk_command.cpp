// strandline talk: sends a G.711 mu-law file (raw, or a WAV file holding
// mu-law) to a camera's loudspeaker through the driver's audio sender, in
// one-second buffers at real time. Prints each state change of the channel
//   state STATE NAME utc=...
// then "buffers= bytes= state=". Exit 0 when every buffer was taken and the
// channel ran, 1 otherwise, 2 for bad usage.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "host/commands.h"
#include "host/host_audio.h"
#include "host/host_frames.h"
#include "host/host_session.h"
#include "strandline/audio_output.h"

namespace strandline::host {

namespace {

using namespace orbisan::ipcapture;

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop = true; }

constexpr uint32_t kHostChannelId = 1;
constexpr uint32_t kBytesPerSecond = 8000;

const char* StateName(uint32_t state) {
  static const char* const kNames[] = {"stopped", "starting", "running", "stopping", "failed", "broken"};
  return state < 6 ? kNames[state] : "unknown";
}

class StatePrinter : public IAudioOutputObserver {
 public:
  void OnAudioOutputState(uint32_t, uint32_t state) override {
    last = state;
    if (state == kAudioRunning) ranOnce = true;
    HostSample clock(0, 0, "");
    clock.SetTimeNow();
    orbisan::SYSTEMTIME now;
    clock.GetTime(&now);
    std::lock_guard<std::mutex> lock(mutex_);
    std::printf("state %u %s utc=%s\n", state, StateName(state), RecordingSink::IsoTime(now).c_str());
    std::fflush(stdout);
  }
  std::atomic<uint32_t> last{kAudioStopped};
  std::atomic<bool> ranOnce{false};

 private:
  std::mutex mutex_;
};

struct MuLawFormat : IAudioFormat {
  bool IsEnabled() override { return true; }
  uint32_t GetFourCC() override { return kFourCC_711M; }
};

struct OneFormat : IAudioFormatList {
  uint32_t GetCount() override { return 1; }
  IAudioFormat* GetFormat(uint32_t index) override { return index == 0 ? &format : nullptr; }
  MuLawFormat format;
};

uint32_t Le(const std::vector<uint8_t>& b, size_t at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(b[at + i]) << (8 * i);
  return value;
}

// The mu-law bytes of a raw file, or of the data chunk of a WAV file whose
// format is mu-law at 8000 samples per second, mono.
bool ReadMuLaw(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
    out = std::move(file);
    return true;
  }
  bool muLaw = false;
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = Le(file, at + 4, 4);
    const size_t body = at + 8;
    if (size > file.size() - body) {
      error = path + ": a WAV chunk runs past the end of the file";
      return false;
    }
    if (std::memcmp(&file[at], "fmt ", 4) == 0 && size >= 16) {
      muLaw = Le(file, body, 2) == 7 && Le(file, body + 2, 2) == 1 && Le(file, body + 4, 4) == 8000 &&
              Le(file, body + 14, 2) == 8;
    } else if (std::memcmp(&file[at], "data", 4) == 0) {
      if (!muLaw) {
        error = path + ": the WAV file does not hold mu-law at 8000 Hz, mono";
        return false;
      }
      out.assign(file.begin() + static_cast<long>(body), file.begin() + static_cast<long>(body + size));
      return true;
    }
    at = body + size + (size & 1);
  }
  error = path + ": no data chunk in the WAV file";
  return false;
}

// Takes "--file FILE" and "--channel N" out of args.
bool TakeTalkOptions(std::vector<std::string>& args, std::string& file, uint32_t& channel, std::string& error) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--file" || args[i] == "--channel") && i + 1 >= args.size()) {
      error = args[i] + " needs a value";
      return false;
    }
    if (args[i] == "--file") {
      file = args[++i];
    } else if (args[i] == "--channel") {
      char tail = 0;
      if (std::sscanf(args[++i].c_str(), "%u%c", &channel, &tail) != 1) {
        error = "--channel needs a number";
        return false;
      }
    } else {
      rest.push_back(args[i]);
    }
  }
  if (file.empty()) {
    error = "--file FILE is required";
    return false;
  }
  args = std::move(rest);
  return true;
}

}  // namespace

int RunTalk(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  std::string file;
  uint32_t channel = 1;
  HostOptions options;
  std::string error;
  if (!TakeTalkOptions(args, file, channel, error) || !ParseHostOptions(args, options, error)) {
    std::fprintf(stderr, "strandline talk: %s\n", error.c_str());
    return 2;
  }
  std::vector<uint8_t> audio;
  if (!ReadMuLaw(file, audio, error)) {
    std::fprintf(stderr, "strandline talk: %s\n", error.c_str());
    return 2;
  }
  // The host offers one loudspeaker channel unless told otherwise.
  options.params.emplace(102, "Count=1; IsStereo=0");
  g_stop = false;
  CatchStopSignals(OnStopSignal);

  HostAllocator allocator;
  HostSession session(options);
  if (!session.Open(error, &allocator)) {
    std::fprintf(stderr, "strandline talk: %s\n", error.c_str());
    return 1;
  }
  IIPAudioSender* sender = session.Driver()->GetAudioSender();
  StatePrinter states;
  OneFormat formats;
  if (sender == nullptr || !sender->OpenChannel(kHostChannelId, channel, &states, &formats)) {
    std::fprintf(stderr, "strandline talk: the driver has no loudspeaker channel for this device\n");
    session.Close();
    return 1;
  }
  uint64_t buffers = 0, bytes = 0, refused = 0;
  const auto start = std::chrono::steady_clock::now();
  for (size_t at = 0, n = 0; at < audio.size() && !g_stop; at += kBytesPerSecond, ++n) {
    // Real time: buffer n goes out n seconds after the first.
    const auto due = start + std::chrono::seconds(n);
    while (!g_stop && std::chrono::steady_clock::now() < due)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const uint32_t size = static_cast<uint32_t>(std::min<size_t>(kBytesPerSecond, audio.size() - at));
    HostAudioSample buffer(kFourCC_711M, size, "talk");
    buffer.SetData(audio.data() + at, size);
    buffer.SetFormat(8000, 8, false);
    buffer.SetBitRate(64000);
    buffer.SetChannelId(kHostChannelId);
    if (sender->SendAudio(&buffer)) {
      ++buffers;
      bytes += size;
    } else {
      ++refused;
    }
  }
  // The last buffer plays for up to a second; give the channel that long.
  const auto end = start + std::chrono::milliseconds(audio.size() * 1000 / kBytesPerSecond + 1000);
  while (!g_stop && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const uint32_t state = sender->GetChannelState(kHostChannelId);
  sender->CloseChannel(kHostChannelId);
  session.Close();
  std::printf("buffers=%llu bytes=%llu state=%u\n", static_cast<unsigned long long>(buffers),
              static_cast<unsigned long long>(bytes), state);
  std::fflush(stdout);
  if (refused != 0)
    std::fprintf(stderr, "strandline talk: %llu buffers were refused\n", static_cast<unsigned long long>(refused));
  return refused == 0 && state == kAudioRunning ? 0 : 1;
}

}  // namespace strandline::host
