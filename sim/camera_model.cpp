#include "sim/camera_model.h"

#include <algorithm>
#include <cstdio>

namespace strandline::sim {
namespace {

std::vector<CameraModel> BuildModels() {
  std::vector<CameraModel> models;

  // A megapixel H.264 box camera with day/night, privacy masks and a memory card.
  {
    CameraModel m;
    m.production_id = "TCM5311";
    m.unit_type = "Camera";
    m.firmware = "V4.12.09-SIM";
    m.encoder_cap = "H264,MPEG4,MJPEG";
    m.md_cap = "3";
    m.codecs = {"H264", "MPEG4", "MJPEG"};
    m.resolutions = {{320, 240, 30}, {640, 480, 30}, {1280, 720, 30}, {1280, 1024, 15}};
    m.default_resolution = "N640x480";
    m.digital_inputs = 1;
    m.digital_outputs = 1;
    m.audio = 2;
    m.day_night = true;
    m.storage = true;
    m.h264_config_names = true;
    m.advertise_resolution_cap = true;
    m.privacy_zones = 4;
    models.push_back(m);
  }
  // An H.264 camera that can deliver a second and third stream ("/track2", "/track3").
  {
    CameraModel m;
    m.production_id = "KCM5311";
    m.unit_type = "Camera";
    m.firmware = "V4.13.01-SIM";
    m.encoder_cap = "H264,MPEG4,MJPEG";
    m.md_cap = "3";
    m.codecs = {"H264", "MPEG4", "MJPEG"};
    m.resolutions = {{320, 240, 30}, {640, 480, 30}, {1280, 720, 30}, {1280, 1024, 15}};
    m.default_resolution = "N1280x720";
    m.encoders_per_channel = 3;
    m.digital_inputs = 1;
    m.digital_outputs = 1;
    m.audio = 2;
    m.day_night = true;
    m.dual_stream = true;
    m.h264_config_names = true;
    m.advertise_resolution_cap = true;
    m.privacy_zones = 3;
    m.default_stream_mode = "DUAL";
    models.push_back(m);
  }
  // A hemispheric H.264 camera: stream modes beyond DUAL and a mounting setting.
  {
    CameraModel m;
    m.production_id = "KCM3911";
    m.unit_type = "Camera";
    m.firmware = "V5.02.04-SIM";
    m.encoder_cap = "H264,MJPEG";
    m.md_cap = "1,HEMISPHERIC";
    m.codecs = {"H264", "MJPEG"};
    m.resolutions = {{320, 240, 30}, {640, 480, 30}, {1280, 1024, 15}};
    m.default_resolution = "N1280x1024";
    m.encoders_per_channel = 3;
    m.audio = 1;
    m.fisheye = true;
    m.dual_stream = true;
    m.h264_config_names = true;
    m.advertise_resolution_cap = true;
    m.privacy_zones = 2;
    m.default_stream_mode = "FISHEYE_VIEW";
    models.push_back(m);
  }
  // An MPEG-4 / MJPEG camera with PTZ; its sizes are found by probing.
  {
    CameraModel m;
    m.production_id = "ACM8201";
    m.unit_type = "Camera";
    m.firmware = "V3.11.17-SIM";
    m.md_cap = "3";
    m.codecs = {"MPEG4", "MJPEG"};
    m.resolutions = {{160, 112, 30}, {320, 240, 30}, {352, 240, 30}, {640, 480, 30}, {720, 480, 30}};
    m.default_resolution = "N640x480";
    m.digital_inputs = 1;
    m.digital_outputs = 1;
    m.audio = 2;
    m.ptz = true;
    m.ptz_vendor = "ACTI";
    models.push_back(m);
  }
  // An older MPEG-4 only camera driven through the mpeg4 CGI.
  {
    CameraModel m;
    m.production_id = "CAM6510";
    m.unit_type = "Camera";
    m.firmware = "V2.07.08-SIM";
    m.md_cap = "1";
    m.codecs = {"MPEG4"};
    m.resolutions = {{160, 112, 30}, {320, 240, 30}, {352, 240, 30}, {720, 480, 30}};
    m.default_resolution = "N352x240";
    m.digital_inputs = 2;
    m.digital_outputs = 1;
    m.audio = 1;
    m.ptz = true;
    m.ptz_vendor = "PELCO-D";
    m.b2_key = "B2_RTP_APPENDED";
    m.b2_max = 1;
    m.has_max_bitrate = false;
    models.push_back(m);
  }
  // A four-input video server: one RTSP port and one settings set per input.
  {
    CameraModel m;
    m.production_id = "ACD2400";
    m.unit_type = "Video Server";
    m.firmware = "V3.09.12-SIM";
    m.md_cap = "3";
    m.codecs = {"MPEG4", "MJPEG"};
    m.resolutions = {{160, 112, 30}, {320, 240, 30}, {352, 240, 30}, {720, 480, 30}};
    m.default_resolution = "N352x240";
    m.channels = 4;
    m.digital_inputs = 1;
    m.digital_outputs = 1;
    m.audio = 2;
    m.ptz = true;
    m.ptz_vendor = "PELCO-D";
    models.push_back(m);
  }
  // A speed dome of the SED series (MPEG-4, PTZ, two inputs and outputs).
  {
    CameraModel m;
    m.production_id = "SED2300";
    m.unit_type = "Speed Dome";
    m.firmware = "V2.10.03-SIM";
    m.md_cap = "1";
    m.codecs = {"MPEG4"};
    m.resolutions = {{160, 112, 30}, {320, 240, 30}, {352, 240, 30}, {720, 480, 30}};
    m.default_resolution = "N720x480";
    m.digital_inputs = 2;
    m.digital_outputs = 2;
    m.ptz = true;
    m.ptz_vendor = "PELCO-D";
    m.b2_key = "B2_RTP_APPENDED";
    m.b2_max = 1;
    m.has_max_bitrate = false;
    models.push_back(m);
  }
  return models;
}

const std::vector<CameraModel>& Models() {
  static const std::vector<CameraModel> models = BuildModels();
  return models;
}

}  // namespace

bool CameraModel::SupportsCodec(std::string_view codec) const {
  return std::find(codecs.begin(), codecs.end(), codec) != codecs.end();
}

const ModelResolution* CameraModel::FindResolution(std::string_view code) const {
  if (code.empty() || code.front() != (pal ? 'P' : 'N')) return nullptr;
  for (const auto& r : resolutions) {
    if (ResolutionCode(r) == code) return &r;
  }
  return nullptr;
}

std::string CameraModel::ResolutionCode(const ModelResolution& r) const {
  char text[32];
  std::snprintf(text, sizeof(text), "%c%dx%d", pal ? 'P' : 'N', r.width, r.height);
  return text;
}

std::vector<std::string> CameraModel::StreamModes() const {
  if (fisheye) return {"SINGLE", "DUAL", "EPTZ", "MD_PRESET", "FISHEYE_VIEW"};
  if (dual_stream) return {"SINGLE", "DUAL"};
  return {"SINGLE"};
}

int CameraModel::MaxFrameRate() const {
  int best = 1;
  for (const auto& r : resolutions) best = std::max(best, r.max_fps);
  return best;
}

const CameraModel* FindCameraModel(std::string_view production_id) {
  for (const auto& m : Models()) {
    if (m.production_id == production_id) return &m;
  }
  return nullptr;
}

std::vector<std::string> CameraModelIds() {
  std::vector<std::string> ids;
  for (const auto& m : Models()) ids.push_back(m.production_id);
  return ids;
}

}  // namespace strandline::sim
