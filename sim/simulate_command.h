// The "simulate" subcommand: runs a simulated camera until interrupted.
#pragma once

namespace strandline::sim {

// argv[0] is the subcommand's name. Options:
//   --http-port N      HTTP port (default 8080; 0 = any free port)
//   --rtsp-port N      RTSP port of the first input (default 7070; 0 = any)
//   --user U --password P   login (default admin / admin)
//   --model M          Production ID (default TCM5311)
//   --http-auth none|basic|digest|either|digest-sha256  (default none)
//   --rtsp-auth none|basic|digest|digest-sha256        (default none)
//   --source FILE      loop a pre-encoded clip instead of encoding live
//   --https            HTTPS with a self-signed certificate on the HTTP port
//   --reboot-seconds S how long SAVE_REBOOT keeps the camera away (default 3)
//   --multicast-port N group port of "/multicast" (default: a free one)
//   --clock            draw the running time over the live picture
//   --verbose          one line per HTTP request on standard error
//   --help
// When listening it prints "READY http://127.0.0.1:N rtsp://127.0.0.1:M" (https://
// with --https) on standard output, runs until SIGINT or SIGTERM, stops and
// returns 0. Bad usage: a one-line message on standard error and 2. A camera
// that cannot start: a one-line reason and 1.
int RunSimulateCommand(int argc, char** argv);

}  // namespace strandline::sim
