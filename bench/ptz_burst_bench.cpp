// A joystick burst: 1,000 Move calls from 4 host threads (250 each) on one PTZ
// channel of the exported driver, against the simulated speed dome. The
// reported time is the slowest thread's time for its 250 calls; posting must
// never wait for the camera, so it should stay far below 50 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "sim/simulated_camera.h"
#include "strandline/ptz.h"
#include "support/temp_dir.h"
#include "support/test_capture_setup.h"

namespace {

using orbisan::ipcapture::IIPPTZApi;

void BM_PtzMoveBurst(benchmark::State& state) {
  strandline::sim::SimulatedCamera::Options options;
  options.model = "SED2300";
  strandline::sim::SimulatedCamera camera(options);
  if (!camera.Start()) {
    state.SkipWithError("the simulated camera did not start");
    return;
  }
  orbisan::test::ScratchDir dir("ptz_bench");
  ::setenv("STRANDLINE_HOST_DIR", dir.Path().c_str(), 1);
  orbisan::test::DriverModule module(STRANDLINE_DRIVER_PATH);
  orbisan::test::TestCaptureSetup setup;
  setup.model = "SED2300";
  setup.port = camera.HttpPort();
  setup.params = {{6, "1"}, {9, "00:0F:7C:00:23:00"}};
  auto* driver = module.Loaded() ? module.Create() : nullptr;
  IIPPTZApi* api = nullptr;
  if (driver != nullptr && driver->Open(nullptr, nullptr, &setup) && driver->GetPTZDriverEx() != nullptr) {
    api = driver->GetPTZDriverEx()->GetPTZApiEx(0);
  }
  if (api == nullptr) {
    state.SkipWithError("no PTZ control from the driver");
  } else {
    double worstMs = 0;
    for (auto _ : state) {
      std::vector<double> seconds(4);
      std::vector<std::thread> threads;
      std::atomic<int> failed{0};
      for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
          const auto start = std::chrono::steady_clock::now();
          for (int i = 0; i < 250; ++i) {
            if (api->Move(t, 16) != 1) ++failed;
          }
          seconds[t] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
      }
      for (auto& thread : threads) thread.join();
      if (failed != 0) state.SkipWithError("a Move was refused");
      double slowest = 0;
      for (double s : seconds) slowest = std::max(slowest, s);
      worstMs = std::max(worstMs, slowest * 1000);
      state.SetIterationTime(slowest);
    }
    state.counters["worst_thread_ms"] = worstMs;
    state.counters["moves_per_burst"] = 1000;
  }
  if (driver != nullptr) {
    driver->Close();
    module.Delete(driver);
  }
  ::unsetenv("STRANDLINE_HOST_DIR");
}
BENCHMARK(BM_PtzMoveBurst)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
