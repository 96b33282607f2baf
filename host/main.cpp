// strandline: the reference host. Loads the driver module and drives it only
// through its exported functions and host-facing interfaces.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/commands.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: strandline COMMAND [options]\n"
               "commands:\n"
               "  open      open the driver for a device, print its log, close it\n"
               "  record    record a stream from a device\n"
               "  events    print input changes and motion of a device (--duration S, --output INDEX=STATE)\n"
               "  demo      record from the built-in simulated camera\n"
               "  simulate  run the simulated camera until interrupted\n"
               "  probe     ask the driver what a device can do (--json, --as-params)\n"
               "  ptz       steer a PTZ channel: [--channel N] [--host-dir DIR] ACTION...\n"
               "            move DIR [SPEED] | zoom in|out [SPEED] | focus near|far [SPEED] |\n"
               "            iris open|close [SPEED] | stop | unzoom | wait MS | caps |\n"
               "            preset add|goto|remove NAME | preset list | preset current\n"
               "  talk      send a mu-law file to a camera's loudspeaker: --file FILE [--channel N]\n"
               "device options: --address HOST --port N --user U --password P --model M --channels N\n"
               "  --inputs N --outputs N --param INDEX=TEXT --config FILE --host-version A.B.C.D\n"
               "  --driver PATH --log-level N\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return 2;
  }
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "open") return strandline::host::RunOpen(args);
  if (command == "record") return strandline::host::RunRecord(args);
  if (command == "events") return strandline::host::RunEvents(args);
  if (command == "demo") return strandline::host::RunDemo(args);
  if (command == "ptz") return strandline::host::RunPtz(args);
  if (command == "simulate") return strandline::host::RunSimulate(argc - 1, argv + 1);
  if (command == "probe") return strandline::host::RunProbe(args);
  if (command == "talk") return strandline::host::RunTalk(args);
  if (command == "--help" || command == "-h" || command == "help") {
    Usage();
    return 0;
  }
  std::fprintf(stderr, "strandline: unknown command \"%s\"\n", command.c_str());
  Usage();
  return 2;
}
