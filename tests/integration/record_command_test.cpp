// The reference host's record command as a user meets it: its exit statuses,
// the reason in its "no frames" line, how it ends on signals, and a recording
// that decodes with an index and a summary that match its frames.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulated_camera.h"
#include "support/host_process.h"
#include "support/index_csv.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;
using strandline::sim::SimulatedCamera;

namespace {

using Record = orbisan::test::HostProcess;

struct Camera {
  // With a clip: the replay mode's prepared packets instead of the live encoder.
  explicit Camera(strandline::sim::QuirkSet quirks = {}, const std::string& clip = "") {
    SimulatedCamera::Options options;
    options.quirks = quirks;
    options.source_file = clip;
    options.replay = !clip.empty();
    camera = std::make_unique<SimulatedCamera>(options);
    started = camera->Start();
  }
  std::vector<std::string> Args(const std::string& password, const std::string& seconds) const {
    return orbisan::test::HostArgs("record", camera->HttpPort(),
                                   "--width 320 --height 240 --param 7=" + std::to_string(camera->RtspPort()) +
                                       " --password " + password + " --duration " + seconds);
  }
  std::unique_ptr<SimulatedCamera> camera;
  bool started = false;
};

// One value of a metrics page: the first series of the family; -1 when absent.
double Metric(const std::string& page, const std::string& family) {
  const size_t at = page.find("\n" + family + "{");
  if (at == std::string::npos) return -1;
  const size_t value = page.find("} ", at);
  return value == std::string::npos ? -1 : std::stod(page.substr(value + 2));
}

TEST(RecordCommand, FirstSignalStopsCleanlyASecondEndsAtOnceAndMetricsAreServedMeanwhile) {
  // A camera that sends a packet twice now and then, and swaps neighbours.
  strandline::sim::QuirkSet quirks;
  quirks.Add(strandline::sim::Quirk::kDuplicate);
  quirks.Add(strandline::sim::Quirk::kReorder);
  Camera sim(quirks);
  ASSERT_TRUE(sim.started);
  {
    std::vector<std::string> args = sim.Args("admin", "120");
    args.insert(args.end(), {"--metrics-port", "0"});
    Record record(args);
    for (int i = 0; i < 300 && sim.camera->RtspClientCount() == 0; ++i) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(2s);  // frames flow
    // Scraped twice while recording: the counters grow, and promtool takes the page.
    const std::string err = record.Err();
    const size_t url = err.find("metrics on http://127.0.0.1:");
    ASSERT_NE(url, std::string::npos) << err;
    const std::string address = err.substr(url + 11, err.find('\n', url) - url - 11);
    std::string first, second;
    ASSERT_EQ(orbisan::test::RunShell("curl -sf " + address, &first), 0) << address;
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(orbisan::test::RunShell("curl -sf " + address, &second), 0) << address;
    for (const char* counter : {"strandline_frames_total", "strandline_received_bytes_total"}) {
      EXPECT_GT(Metric(first, counter), 0) << counter << "\n" << first;
      EXPECT_GT(Metric(second, counter), Metric(first, counter)) << counter << "\n" << second;
    }
    EXPECT_NE(second.find("strandline_frames_total{device=\"127.0.0.1:" + std::to_string(sim.camera->HttpPort()) +
                          "\",input=\"0\",stream=\"rec\""),
              std::string::npos)
        << second;
    EXPECT_GT(Metric(second, "strandline_frame_rate"), 0) << second;
    EXPECT_GE(Metric(second, "strandline_rtp_jitter_seconds"), 0) << second;
    EXPECT_GT(Metric(second, "strandline_rtp_duplicate_packets_total"), 0) << second;
    EXPECT_GT(Metric(second, "strandline_rtp_reordered_packets_total"), 0) << second;
    EXPECT_EQ(Metric(second, "strandline_rtp_lost_packets_total"), 0) << second;
    if (orbisan::test::RunShell("command -v promtool >/dev/null") != 0) {
      std::fprintf(stderr, "promtool is not installed (Debian package prometheus): the page's format goes unchecked\n");
    } else {
      orbisan::test::ScratchDir dir("strandline_metrics");
      dir.Write("page", second);
      std::string lint;
      EXPECT_EQ(orbisan::test::RunShell("promtool check metrics < " + dir.File("page") + " 2>&1", &lint), 0) << lint;
      EXPECT_EQ(lint, "") << second;
    }
    record.Signal(SIGTERM);
    ASSERT_EQ(record.Wait(25s), 0) << record.Err();
    EXPECT_NE(record.Out().find("frames="), std::string::npos);
    EXPECT_EQ(record.Err().find("ending at once"), std::string::npos) << record.Err();
  }
  {
    Record record(sim.Args("admin", "120"));
    for (int i = 0; i < 300 && sim.camera->RtspClientCount() == 0; ++i) std::this_thread::sleep_for(50ms);
    record.Signal(SIGINT);
    record.Signal(SIGINT);
    const int status = record.Wait(5s);
    ASSERT_NE(status, -1) << "a second signal ends the process at once";
    // The second signal may also come after the clean stop already ended.
    if (record.Err().find("interrupted again, ending at once") != std::string::npos) {
      EXPECT_EQ(status, 128 + SIGINT);
    } else {
      EXPECT_NE(record.Out().find("frames="), std::string::npos) << record.Err();
    }
  }
}

// The summary's field names up to the first that is not "name=value".
std::vector<std::string> SummaryNames(const std::string& line) {
  std::vector<std::string> names;
  std::istringstream words(line);
  for (std::string word; words >> word && word.find('=') != std::string::npos;) {
    names.push_back(word.substr(0, word.find('=')));
  }
  return names;
}

TEST(RecordCommand, RecordingDecodesWithOneIndexRowPerFrameTheSummaryInOrderAndNoFramesSaysWhy) {
  std::string clip;
  ASSERT_EQ(orbisan::test::RunShell(std::string(STRANDLINE_SOURCE_DIR) +
                                        "/scripts/make-clip --size 320x240 --kbps 300 --fps 25 --seconds 4",
                                    &clip),
            0);
  clip.erase(clip.find_last_not_of("\r\n") + 1);
  Camera sim;
  Camera replay({}, clip);
  ASSERT_TRUE(sim.started);
  ASSERT_TRUE(replay.started);
  orbisan::test::ScratchDir dir("strandline_container");
  struct Case {
    std::string name;
    const Camera* camera;
  };
  for (const auto& [name, camera] : {Case{"rec.mkv", &sim}, Case{"rec.mp4", &sim}, Case{"replay.mkv", &replay}}) {
    std::vector<std::string> args = camera->Args("admin", "4");
    args.insert(args.end(), {"--out", dir.File(name), "--index", dir.File(name + ".csv")});
    Record record(args);
    ASSERT_EQ(record.Wait(40s), 0) << record.Err();
    const std::vector<long long> index = orbisan::test::IndexTimes(dir.Read(name + ".csv"));
    ASSERT_GT(index.size(), 10u) << name;
    for (size_t i = 1; i < index.size(); ++i) EXPECT_LT(index[i - 1], index[i]) << name << " row " << i;
    const std::vector<std::string> names = SummaryNames(record.Out());
    const std::vector<std::string> first = {"frames",      "keyframes", "bytes",         "seconds", "fps",
                                            "kbps",        "width",     "height",        "fourcc",  "first_frame_ms",
                                            "signal_lost", "rtp_lost",  "frames_dropped"};
    ASSERT_GE(names.size(), first.size()) << record.Out();
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + first.size()), first) << record.Out();
    EXPECT_NE(record.Out().find("frames=" + std::to_string(index.size()) + " "), std::string::npos) << record.Out();
    // Every picture decodes (ffprobe decodes without a muxer that would object to two frames a
    // millisecond apart), one per index row.
    const orbisan::test::CommandResult decoded =
        orbisan::test::RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                   "frame=best_effort_timestamp_time", "-of", "csv=p=0", dir.File(name)});
    EXPECT_EQ(decoded.exit_code, 0) << name;
    EXPECT_EQ(decoded.err, "") << name;
    EXPECT_EQ(static_cast<size_t>(std::count(decoded.out.begin(), decoded.out.end(), '\n')), index.size()) << name;
    // The container runs to the end of the last frame and carries each frame
    // at the time of its index row.
    const orbisan::test::CommandResult duration = orbisan::test::RunCommand(
        {"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", dir.File(name)});
    const double recorded = (index.back() + index.back() / static_cast<double>(index.size() - 1)) / 1000;
    EXPECT_NEAR(std::stod(duration.out), recorded, 0.5) << name;
    std::string packets;
    ASSERT_EQ(orbisan::test::RunShell(
                  "ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 " + dir.File(name),
                  &packets),
              0)
        << name;
    std::vector<long long> times;
    std::istringstream lines(packets);
    for (std::string line; std::getline(lines, line);) times.push_back(std::llround(std::stod(line) * 1000));
    EXPECT_EQ(times, index) << name;
    // The replay keeps the clip's rate, 25 frames a second: the median step, so
    // that a stall of the loaded machine does not count.
    if (camera == &replay) {
      std::vector<long long> steps;
      for (size_t i = 1; i < index.size(); ++i) steps.push_back(index[i] - index[i - 1]);
      std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
      EXPECT_NEAR(steps[steps.size() / 2], 40, 2) << name;
    }
  }

  // The "no frames" line says why, and a bad option exits 2.
  {
    std::vector<std::string> args = sim.Args("admin", "3");
    args.push_back("--no-such-option");
    Record record(args);
    EXPECT_EQ(record.Wait(30s), 2) << record.Err();
  }
  // A refused login, then a camera that refuses RTSP connections.
  const std::string from = "no frames arrived from 127.0.0.1:" + std::to_string(sim.camera->HttpPort());
  for (const auto& [password, reason] :
       {std::pair<std::string, std::string>{"wrong", "s: the camera refused the user name or password over HTTP (401)"},
        {"admin", "connection refused"}}) {
    sim.camera->SetRtspRefuseConnections(password == "admin");
    Record record(sim.Args(password, "3"));
    ASSERT_EQ(record.Wait(30s), 1) << record.Err();
    const std::string err = record.Err();
    const size_t line = err.find(from);
    ASSERT_NE(line, std::string::npos) << err;
    EXPECT_NE(err.find(reason, line), std::string::npos) << err;
    EXPECT_TRUE(password != "admin" || record.Out().find(" rtp_lost=0 frames_dropped=0 ") != std::string::npos)
        << record.Out();
  }
}

}  // namespace
