// A GStreamer RTSP server for the HD stream test, run as a child process so
// that GStreamer's own threads stay out of the sanitized test program.
//
//   rtsp_test_server --mount /path '( launch line )' [--mount ...]
//
// Prints "PORT <n>" once listening on 127.0.0.1 and runs until it is killed;
// it never outlives the test that started it.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // the test that started it has ended
  gst_init(&argc, &argv);
  std::vector<std::pair<std::string, std::string>> mounts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mount" && i + 2 < argc) {
      mounts.emplace_back(argv[i + 1], argv[i + 2]);
      i += 2;
    } else {
      std::fprintf(stderr, "bad argument %s\n", arg.c_str());
      return 2;
    }
  }

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  GstRTSPServer* server = gst_rtsp_server_new();
  gst_rtsp_server_set_address(server, "127.0.0.1");
  gst_rtsp_server_set_service(server, "0");
  GstRTSPMountPoints* points = gst_rtsp_server_get_mount_points(server);
  for (const auto& [path, launch] : mounts) {
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    // Each client gets its own pipeline: sessions that follow each other in
    // quick succession never meet a shared media that is still shutting down.
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    gst_rtsp_mount_points_add_factory(points, path.c_str(), factory);
  }
  g_object_unref(points);

  if (gst_rtsp_server_attach(server, nullptr) == 0) {
    std::fprintf(stderr, "cannot attach server\n");
    return 1;
  }
  std::printf("PORT %d\n", gst_rtsp_server_get_bound_port(server));
  std::fflush(stdout);

  g_main_loop_run(loop);
  return 0;
}
