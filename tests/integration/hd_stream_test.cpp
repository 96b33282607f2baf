// Full HD as cameras send it: 20 s of a 1080p30 8 Mbit/s H.264 clip with a key
// frame every second (bursts of 100 and more packets) from the simulated camera
// and, at the same time, from GStreamer's own RTSP server, each recorded by the
// reference host, over UDP and over interleaved TCP. Nothing the servers sent
// may go missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rtsp/gst_rtsp_server_process.h"
#include "sim/simulated_camera.h"

namespace {

using strandline::sim::SimulatedCamera;

constexpr int kSeconds = 20;
constexpr size_t kGop = 30;  // frames from one key frame to the next, as the clip is made

std::string Shell(const std::string& command, int* status) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int result = ::pclose(pipe);
  *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return text;
}

std::string TempPath(const std::string& name) {
  return std::string(STRANDLINE_BUILD_DIR) + "/hd-" + std::to_string(::getpid()) + "-" + name;
}

// The Annex B clip, made once into the source tree's build/clips (shared by
// every preset); "" on failure.
std::string HdClip() {
  int status = -1;
  std::string out = Shell(std::string(STRANDLINE_SOURCE_DIR) + "/scripts/make-clip --seconds 30", &status);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return status == 0 ? out : "";
}

uint64_t KernelUdpReceiveBufferErrors() {
  std::ifstream snmp("/proc/net/snmp");
  std::string names, values;
  while (std::getline(snmp, names) && std::getline(snmp, values)) {
    if (names.rfind("Udp:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value) {
      if (name == "RcvbufErrors") return std::stoull(value);
    }
  }
  return 0;
}

struct Recording {
  std::string summary;  // the record command's last line
  std::string errors;   // its log
  std::vector<bool> key;
};

Recording Record(uint16_t httpPort, uint16_t rtspPort, bool interleaved, const std::string& tag) {
  const std::string index = TempPath(tag + ".csv");
  const std::string config = TempPath(tag + ".xml");
  const std::string log = TempPath(tag + ".log");
  std::string command = std::string(STRANDLINE_HOST_PATH) +
                        " record --address 127.0.0.1 --user admin --password admin --model TCM5311 --port " +
                        std::to_string(httpPort) + " --param 7=" + std::to_string(rtspPort) +
                        " --codec h264 --width 1920 --height 1080 --fps 30 --duration " + std::to_string(kSeconds) +
                        " --out /dev/null --log-level 2 --index " + index;
  if (interleaved) {
    std::ofstream(config) << "<Configuration><Default><RTPMode>RTPOVERRTSP</RTPMode></Default></Configuration>";
    command += " --config " + config;
  }
  Recording recording;
  int status = -1;
  std::string out = Shell(command + " 2>" + log, &status);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  recording.summary = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
  std::ifstream err(log);
  std::getline(err, recording.errors, '\0');
  std::ifstream csv(index);
  std::string line;
  std::getline(csv, line);  // header
  while (std::getline(csv, line)) recording.key.push_back(!line.empty() && line.back() == '1');
  std::remove(index.c_str());
  std::remove(config.c_str());
  std::remove(log.c_str());
  return recording;
}

// -1 when the summary has no such field.
long long Field(const std::string& summary, const std::string& name) {
  size_t at = (" " + summary).find(" " + name + "=");
  if (at == std::string::npos) return -1;
  return std::atoll(summary.c_str() + at + name.size() + 1);
}

// The server sends every frame of a group of pictures, so between the first and
// the last key frame delivered there must be whole groups and nothing else.
void ExpectEveryFrame(const Recording& r, const std::string& tag) {
  const std::string context =
      tag + ": " + r.summary + "\nlog tail: " + r.errors.substr(r.errors.size() > 2000 ? r.errors.size() - 2000 : 0);
  std::vector<size_t> keys;
  for (size_t i = 0; i < r.key.size(); ++i) {
    if (r.key[i]) keys.push_back(i);
  }
  ASSERT_GE(keys.size(), static_cast<size_t>(kSeconds) * 3 / 4) << context;
  size_t short_groups = 0;
  for (size_t k = 1; k < keys.size(); ++k) short_groups += keys[k] - keys[k - 1] != kGop;
  EXPECT_EQ(short_groups, 0u) << context;
  EXPECT_EQ(keys.back() - keys.front(), kGop * (keys.size() - 1)) << context;
  EXPECT_LE(r.key.size() - keys.back(), kGop) << context;
  for (const char* counter : {"rtp_lost", "frames_dropped"}) {
    EXPECT_EQ(Field(r.summary, counter), 0) << counter << " " << context;
  }
}

class HdStream : public ::testing::TestWithParam<bool> {};

TEST_P(HdStream, EveryFrameOfTheSimulatedCameraAndOfGStreamersServerArrives) {
  const bool interleaved = GetParam();
  const std::string clip = HdClip();
  ASSERT_FALSE(clip.empty()) << "scripts/make-clip failed";
  const std::string matroska = clip.substr(0, clip.size() - 5) + ".mkv";

  SimulatedCamera::Options options;
  options.source_file = clip;
  SimulatedCamera camera(options);
  std::string error;
  ASSERT_TRUE(camera.Start(&error)) << error;
  const std::string launch = "( filesrc location=" + matroska +
                             " ! matroskademux ! h264parse config-interval=-1 ! rtph264pay name=pay0 pt=96 )";
  orbisan::test::GstRtspServerProcess gst(STRANDLINE_RTSP_TEST_SERVER,
                                          {"--mount", "/", launch, "--mount", "/track1", launch});
  ASSERT_NE(gst.port(), 0);

  const uint64_t dropsBefore = KernelUdpReceiveBufferErrors();
  Recording direct;
  std::thread other([&] { direct = Record(camera.HttpPort(), gst.port(), interleaved, "gst"); });
  Recording simulated = Record(camera.HttpPort(), camera.RtspPort(), interleaved, "sim");
  other.join();
  const uint64_t drops = KernelUdpReceiveBufferErrors() - dropsBefore;
  const std::string note = std::string(interleaved ? " over TCP" : " over UDP") +
                           ", UDP datagrams the kernel dropped meanwhile: " + std::to_string(drops);
  ExpectEveryFrame(simulated, "simulated camera" + note);
  ExpectEveryFrame(direct, "GStreamer's server" + note);
}

INSTANTIATE_TEST_SUITE_P(Transports, HdStream, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Interleaved" : "Udp"; });

}  // namespace
