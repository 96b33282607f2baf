// libFuzzer target for the simulated camera's CGI handling: the first byte
// picks the model and the family, the rest is the query as a client sends it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/camera_clock.h"
#include "sim/camera_model.h"
#include "sim/cgi_handler.h"
#include "sim/settings_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace strandline::sim;
  if (size == 0) return 0;
  static const auto ids = CameraModelIds();
  static const char* const families[] = {"system", "encoder", "mpeg4", "update"};
  const CameraModel* model = FindCameraModel(ids[data[0] % ids.size()]);
  SettingsTable settings(*model);
  CameraClock clock;
  CgiHandler handler(settings, clock, "admin", "admin");
  std::string query(reinterpret_cast<const char*>(data + 1), size - 1);
  CgiResponse response = handler.Handle(families[(data[0] >> 4) % 4], "USER=admin&PWD=admin&" + query, false);
  if (response.status == 200 && (response.body.size() < 2 || response.body.back() != '\n')) __builtin_trap();
  StreamSettings stream = settings.Stream(1);
  if (stream.fps < 1 || stream.width <= 0 || stream.gop < 1) __builtin_trap();
  return 0;
}
