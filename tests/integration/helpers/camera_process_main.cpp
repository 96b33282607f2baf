// A simulated camera in a process of its own, worked from its standard input
// one line at a time, each answered with one line. A long test measures the
// driver's process alone this way: the camera's own threads and memory stay
// out of it. Ends at end of input (the test gone).
#include <signal.h>
#include <sys/prctl.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "sim/simulated_camera.h"

using strandline::sim::SimulatedCamera;

namespace {

// One command and its argument; the answer is "ok", "ok VALUE" or "error ...".
std::string Run(SimulatedCamera& camera, const std::string& command, long value) {
  const bool on = value != 0;
  if (command == "storage") {
    camera.SetStorageMounted(on);
  } else if (command == "retention") {
    camera.SetStorageRetention(std::chrono::seconds(value));
  } else if (command == "motion-interval") {
    camera.Motion().SetInterval(std::chrono::milliseconds(value));
  } else if (command == "motion") {
    camera.Motion().SetMotion(on);
  } else if (command == "network") {
    camera.SetNetworkOutage(!on);
    camera.Motion().SetSilent(!on);
    if (!on) camera.Motion().DropConnections();
  } else if (command == "inputs") {
    camera.SetDigitalInputs(static_cast<uint32_t>(value));
  } else if (command == "outputs") {
    return "ok " + std::to_string(camera.DigitalOutputs());
  } else if (command == "reboot") {
    camera.Reboot();
  } else if (command == "up") {
    return camera.WaitUntilUp(std::chrono::seconds(value)) ? "ok 1" : "ok 0";
  } else {
    return "error unknown command " + command;
  }
  return "ok";
}

}  // namespace

int main(int argc, char** argv) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  SimulatedCamera::Options options;
  options.model = argc > 1 ? argv[1] : "TCM5311";
  options.clock_overlay = false;
  SimulatedCamera camera(options);
  std::string error;
  if (!camera.Start(&error)) {
    std::cout << "error " << error << std::endl;
    return 1;
  }
  std::cout << "ok " << camera.HttpPort() << " " << camera.RtspPort() << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream words(line);
    std::string command;
    long value = 0;
    words >> command >> value;
    std::cout << Run(camera, command, value) << std::endl;
  }
  camera.Stop();
  return 0;
}
