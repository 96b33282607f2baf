#include "sim/simulate_command.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/event_pattern.h"
#include "sim/simulated_camera.h"

namespace strandline::sim {
namespace {

std::atomic<int> g_wake_fd{-1};

void OnSignal(int) {
  int fd = g_wake_fd.load();
  if (fd >= 0) {
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
  }
}

bool ParseNumber(const std::string& text, long low, long high, long* out) {
  if (text.empty() || text.size() > 9) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

bool ParseHttpAuth(const std::string& text, HttpAuth* out) {
  if (text == "none")
    *out = HttpAuth::kNone;
  else if (text == "basic")
    *out = HttpAuth::kBasic;
  else if (text == "digest")
    *out = HttpAuth::kDigest;
  else if (text == "either")
    *out = HttpAuth::kEither;
  else if (text == "digest-sha256")
    *out = HttpAuth::kDigestSha256;
  else
    return false;
  return true;
}

bool ParseRtspAuth(const std::string& text, RtspAuth* out) {
  if (text == "none")
    *out = RtspAuth::kNone;
  else if (text == "basic")
    *out = RtspAuth::kBasic;
  else if (text == "digest")
    *out = RtspAuth::kDigest;
  else if (text == "digest-sha256")
    *out = RtspAuth::kDigestSha256;
  else
    return false;
  return true;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "simulate: %s (see --help)\n", message.c_str());
  return 2;
}

void PrintHelp() {
  std::printf(
      "usage: simulate [--http-port N] [--rtsp-port N] [--user U --password P] [--model M]\n"
      "                [--http-auth none|basic|digest|either|digest-sha256] [--rtsp-auth "
      "none|basic|digest|digest-sha256]\n"
      "                [--source FILE [--replay]] [--https] [--reboot-seconds S] [--multicast-port N] [--clock] "
      "[--verbose]\n"
      "                [--input-pattern MASK[,MASK...][@SECONDS]] [--motion-period SECONDS]\n"
      "                [--clock-offset SECONDS] [--refuse-clock] [--quirk NAME]... [--quirk list]\n"
      "--source FILE loops a pre-encoded clip on every path through GStreamer; with --replay (H.264 clips,\n"
      "no --quirk) the clip is cut into RTP packets once and one paced sender sends them to every unicast\n"
      "session, each starting on a key frame: hundreds of HD streams from one process\n"
      "models:");
  for (const auto& id : SimulatedCamera::Models()) std::printf(" %s", id.c_str());
  std::printf("\n");
}

void PrintQuirks() {
  for (const QuirkInfo& info : AllQuirks()) {
    const char* only = info.transport == QuirkTransport::kUdp           ? " (RTP over UDP only)"
                       : info.transport == QuirkTransport::kInterleaved ? " (interleaved only)"
                                                                        : "";
    std::printf("%-28s %s%s\n", info.name, info.summary, only);
  }
}

// Blocks until SIGINT or SIGTERM arrives; the previous handlers come back afterwards.
void WaitForSignal() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pause();
    return;
  }
  g_wake_fd = fds[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction old_int {};
  struct sigaction old_term {};
  sigaction(SIGINT, &action, &old_int);
  sigaction(SIGTERM, &action, &old_term);
  while (true) {
    pollfd wait{fds[0], POLLIN, 0};
    int ready = poll(&wait, 1, -1);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) break;
  }
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  g_wake_fd = -1;
  close(fds[0]);
  close(fds[1]);
}

}  // namespace

int RunSimulateCommand(int argc, char** argv) {
  SimulatedCamera::Options options;
  options.http_port = 8080;
  options.rtsp_port = 7070;
  bool have_user = false;
  bool have_password = false;
  bool verbose = false;
  bool refuse_clock = false;
  EventPattern events;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string text;
    long number = 0;
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--https") {
      options.https = true;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--refuse-clock") {
      refuse_clock = true;
    } else if (arg == "--clock") {
      options.clock_overlay = true;
    } else if (arg == "--http-port" || arg == "--rtsp-port" || arg == "--multicast-port") {
      if (!value(&text) || !ParseNumber(text, 0, 65535, &number)) return Usage(arg + " needs a port number");
      if (arg == "--http-port") options.http_port = static_cast<uint16_t>(number);
      if (arg == "--rtsp-port") options.rtsp_port = static_cast<uint16_t>(number);
      if (arg == "--multicast-port") {
        if (number % 2 != 0 || number == 0) return Usage("--multicast-port needs an even port number");
        options.multicast_port = static_cast<uint16_t>(number);
      }
    } else if (arg == "--reboot-seconds") {
      if (!value(&text) || !ParseNumber(text, 0, 3600, &number)) return Usage("--reboot-seconds needs 0 to 3600");
      options.reboot_duration = std::chrono::seconds(number);
    } else if (arg == "--clock-offset") {
      // Seconds the camera's clock starts off, "-" for behind.
      const bool behind = i + 1 < argc && argv[i + 1][0] == '-';
      if (!value(&text) || !ParseNumber(behind ? text.substr(1) : text, 0, 100000000, &number)) {
        return Usage("--clock-offset needs seconds, optionally negative");
      }
      options.clock_offset = std::chrono::seconds(behind ? -number : number);
    } else if (arg == "--input-pattern") {
      if (!value(&text) || !events.ParseInputPattern(text)) {
        return Usage("--input-pattern needs masks such as 0x00,0x01,0x03, optionally @SECONDS");
      }
    } else if (arg == "--motion-period") {
      if (!value(&text) || !ParseNumber(text, 1, 3600, &number)) return Usage("--motion-period needs 1 to 3600");
      events.SetMotionPeriod(std::chrono::seconds(number));
    } else if (arg == "--quirk") {
      if (!value(&text)) return Usage("--quirk needs a name (--quirk list shows them)");
      if (text == "list") {
        PrintQuirks();
        return 0;
      }
      if (!options.quirks.Add(text)) return Usage("unknown quirk " + text + " (--quirk list shows them)");
    } else if (arg == "--user") {
      if (!value(&options.user)) return Usage("--user needs a name");
      have_user = true;
    } else if (arg == "--password") {
      if (!value(&options.password)) return Usage("--password needs a value");
      have_password = true;
    } else if (arg == "--model") {
      if (!value(&options.model)) return Usage("--model needs a Production ID");
    } else if (arg == "--source") {
      if (!value(&options.source_file)) return Usage("--source needs a file");
    } else if (arg == "--replay") {
      options.replay = true;
    } else if (arg == "--http-auth") {
      if (!value(&text) || !ParseHttpAuth(text, &options.http_auth)) {
        return Usage("--http-auth takes none, basic, digest, either or digest-sha256");
      }
    } else if (arg == "--rtsp-auth") {
      if (!value(&text) || !ParseRtspAuth(text, &options.rtsp_auth)) {
        return Usage("--rtsp-auth takes none, basic, digest or digest-sha256");
      }
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (have_user != have_password) return Usage("--user and --password go together");
  if (options.replay && options.source_file.empty()) return Usage("--replay needs --source FILE");
  if (options.replay && !options.quirks.Empty()) return Usage("--replay takes no --quirk");
  bool known = false;
  for (const auto& id : SimulatedCamera::Models()) known = known || id == options.model;
  if (!known) return Usage("unknown model " + options.model);
  if (verbose) options.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };

  SimulatedCamera camera(options);
  camera.SetClockRefusing(refuse_clock);
  std::string error;
  if (!camera.Start(&error)) {
    std::fprintf(stderr, "simulate: %s\n", error.c_str());
    return 1;
  }
  std::printf("READY %s://127.0.0.1:%u rtsp://127.0.0.1:%u\n", options.https ? "https" : "http", camera.HttpPort(),
              camera.RtspPort());
  std::fflush(stdout);
  events.Start(camera);
  WaitForSignal();
  events.Stop();
  camera.Stop();
  return 0;
}

}  // namespace strandline::sim
