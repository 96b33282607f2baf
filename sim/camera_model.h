// The devices the simulated camera can pretend to be, keyed by Production ID.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strandline::sim {

// One picture size the encoder accepts, with the highest frame rate it reaches there.
struct ModelResolution {
  int width = 0;
  int height = 0;
  int max_fps = 30;
};

// Everything that makes one model answer and stream the way it does. The CGI
// handler and the settings table read it; nothing here changes at run time.
struct CameraModel {
  std::string production_id;
  std::string unit_type;                     // SYSTEM_INFO "Unit Type"
  std::string firmware;                      // SYSTEM_INFO "Firmware Version"
  std::string encoder_cap;                   // SYSTEM_INFO "ENCODER_CAP"; empty = line absent
  std::string md_cap;                        // SYSTEM_INFO "MD_CAP"; empty = line absent
  std::string sensor_board;                  // SYSTEM_INFO "Sensor Board"; empty = line absent
  std::vector<std::string> codecs;           // accepted VIDEO_ENCODER values, first = default
  std::vector<ModelResolution> resolutions;  // first = smallest
  std::string default_resolution;            // code such as "N640x480"
  int channels = 1;                          // video inputs; above 1 = video server with one RTSP port each
  int encoders_per_channel = 1;              // 3 for units that serve "/track1".."/track3" with own settings
  int digital_inputs = 0;
  int digital_outputs = 0;
  int audio = 0;  // SYSTEM_INFO "Audio": 0 none, 1 input, 2 input and output
  bool pal = false;
  bool ptz = false;
  std::string ptz_vendor;  // empty = PTZ_VENDOR unknown to the unit
  bool day_night = false;
  bool fisheye = false;
  bool storage = false;                   // DISK_STATE reports a mounted card
  bool dual_stream = false;               // VIDEO_STREAM may be DUAL
  bool h264_config_names = false;         // CONFIG_GET uses the MEDIA1_* names of the H.264 units
  bool has_max_bitrate = true;            // VIDEO_MAX_BITRATE exists besides VIDEO_BITRATE
  bool advertise_resolution_cap = false;  // SYSTEM_INFO lists VIDEO_RESOLUTION_CAP
  std::string b2_key = "RTP_B2";          // or "B2_RTP_APPENDED" on older units
  int b2_max = 2;                         // highest value the B2 and RTSP_AUTHEN switches take
  int privacy_zones = 0;
  std::string default_stream_mode = "SINGLE";

  bool SupportsCodec(std::string_view codec) const;
  // Finds a resolution code ("N640x480", "P352x288"); null when the unit does not offer it.
  const ModelResolution* FindResolution(std::string_view code) const;
  std::string ResolutionCode(const ModelResolution& r) const;
  std::vector<std::string> StreamModes() const;
  int MaxFrameRate() const;
};

// The model with exactly this Production ID, or null.
const CameraModel* FindCameraModel(std::string_view production_id);
// Production IDs of every model, in table order.
std::vector<std::string> CameraModelIds();

}  // namespace strandline::sim
