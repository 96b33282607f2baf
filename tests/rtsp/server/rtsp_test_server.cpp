// A GStreamer RTSP server for the client tests, run as a child process so
// that GStreamer's own threads stay out of the sanitized test program.
//
//   rtsp_test_server [--auth none|basic|digest] [--user U] [--password P]
//                    --mount /path '( launch line )' [--mount ...]
//
// Prints "PORT <n>" once listening on 127.0.0.1 and runs until it is killed;
// it never outlives the test that started it.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // the test that started it has ended
  gst_init(&argc, &argv);
  std::string authMode = "none";
  std::string user = "user";
  std::string password = "pass";
  std::vector<std::pair<std::string, std::string>> mounts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--auth" && i + 1 < argc) {
      authMode = argv[++i];
    } else if (arg == "--user" && i + 1 < argc) {
      user = argv[++i];
    } else if (arg == "--password" && i + 1 < argc) {
      password = argv[++i];
    } else if (arg == "--mount" && i + 2 < argc) {
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
    if (authMode != "none") {
      gst_rtsp_media_factory_add_role(factory, "user", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                      GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
    }
    gst_rtsp_mount_points_add_factory(points, path.c_str(), factory);
  }
  g_object_unref(points);

  if (authMode != "none") {
    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "user", nullptr);
    if (authMode == "digest") {
      gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
      gst_rtsp_auth_add_digest(auth, user.c_str(), password.c_str(), token);
    } else {
      gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_BASIC);
      gchar* basic = gst_rtsp_auth_make_basic(user.c_str(), password.c_str());
      gst_rtsp_auth_add_basic(auth, basic, token);
      g_free(basic);
    }
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(server, auth);
    g_object_unref(auth);
  }

  if (gst_rtsp_server_attach(server, nullptr) == 0) {
    std::fprintf(stderr, "cannot attach server\n");
    return 1;
  }
  std::printf("PORT %d\n", gst_rtsp_server_get_bound_port(server));
  std::fflush(stdout);

  g_main_loop_run(loop);
  return 0;
}
