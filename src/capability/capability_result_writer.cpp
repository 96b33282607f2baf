#include "capability/capability_result_writer.h"

#include "runtime/format.h"

namespace orbisan {

namespace {

// Capability numbers the host knows.
enum Capability : uint32_t {
  kChannels = 0,
  kPtz = 1,
  kInputs = 2,
  kOutputs = 3,
  kAudioInputs = 4,
  kMotion = 5,
  kMpeg4 = 6,
  kMjpeg = 7,
  kH264 = 8,
  kReserved11 = 11,
  kReserved12 = 12,
  kPrivacyZones = 13,
  kPrivacyZonesOn = 14,
  kPrivacyZonesOther = 17,
  kExtraStreams = 27,
  kStorage = 28,
};

std::string AudioText(const CBaseCameraProperties::AudioCapability& audio) {
  return Format("Count=%u; IsStereo=%u", audio.count, audio.stereo != 0 ? 1u : 0u);
}

// The encoded highest rate of a stream, or the fallback without rates.
uint32_t HighestEncoded(const StreamCapabilities& stream, bool hostAtLeast64, uint32_t fallback) {
  if (stream.frameRates.empty()) return fallback;
  return CBaseCameraProperties::EncodeFrameRate(*stream.frameRates.rbegin(), hostAtLeast64);
}

}  // namespace

CCapabilityResultWriter::CCapabilityResultWriter(CBaseCameraProperties& properties, ipcapture::ICapabilityStore& store,
                                                 const DEVICE_INFO& device)
    : properties_(properties), store_(store), device_(device) {}

bool CCapabilityResultWriter::Save() {
  if (!SaveDeviceName() || !SaveConnectionFields() || !SaveCodecs() || !SaveResolutions() || !SaveFrameRates()) {
    return false;
  }
  SaveFlagsAndTexts();
  properties_.GetProperties(store_);
  return true;
}

bool CCapabilityResultWriter::SaveDeviceName() {
  const std::string& model = properties_.Model();
  if (model.empty()) return false;
  const std::string& brand = properties_.Brand();
  store_.SetDeviceName((brand.empty() ? model : brand + " " + model).c_str());
  return true;
}

bool CCapabilityResultWriter::SaveConnectionFields() {
  const std::string values[] = {device_.address, std::to_string(device_.port), device_.user, device_.password};
  for (uint32_t index = 1; index <= 4; ++index) {
    ipcapture::ICapabilityValue* field = store_.GetConnectionField(index);
    if (field == nullptr) return false;
    field->SetValue(values[index - 1].c_str());
  }
  return true;
}

bool CCapabilityResultWriter::SaveCodecs() {
  const std::set<uint32_t>& codecs = properties_.Stream(0).codecs;
  bool any = false;
  for (const auto& [codec, capability] : {std::pair{kCodecH264, kH264}, {kCodecMpeg4, kMpeg4}, {kCodecMjpeg, kMjpeg}}) {
    if (codecs.count(codec) == 0) continue;
    store_.SetCapability(capability, 1);
    any = true;
  }
  if (!any || properties_.Channels() == 0) return false;
  store_.SetCapability(kChannels, properties_.Channels());
  return true;
}

bool CCapabilityResultWriter::SaveResolutions() {
  const StreamCapabilities& main = properties_.Stream(0);
  if (main.resolutions.empty()) return false;
  ipcapture::IResolutionSink* sink = store_.GetResolutionSink();
  if (sink == nullptr) return false;
  const bool host64 = properties_.HostAtLeast64();
  const uint32_t fallback = HighestEncoded(main, host64, properties_.Ntsc() != 0 ? 33 : 40);
  for (const StreamResolution& r : main.resolutions) {
    const uint32_t frameValue =
        r.maxFrameRate != 0 ? CBaseCameraProperties::EncodeFrameRate(r.maxFrameRate, host64) : fallback;
    sink->Add(Format("%ux%u", r.width, r.height).c_str(), r.width, r.height, frameValue);
  }
  return true;
}

bool CCapabilityResultWriter::SaveFrameRates() {
  ipcapture::IFrameRateSink* sink = store_.GetFrameRateSink(1);
  return sink != nullptr && properties_.GetFrameRates(*sink);
}

void CCapabilityResultWriter::SaveFlagsAndTexts() {
  if (properties_.PtzSupported()) store_.SetCapability(kPtz, 1);
  if (properties_.MotionSupported()) store_.SetCapability(kMotion, 1);
  store_.SetCapability(kReserved11, 0);
  store_.SetCapability(kReserved12, 0);
  if (properties_.DigitalInputs() != 0) store_.SetCapability(kInputs, properties_.DigitalInputs());
  if (properties_.DigitalOutputs() != 0) store_.SetCapability(kOutputs, properties_.DigitalOutputs());
  if (properties_.PrivacyMaskCount() != 0) {
    store_.SetCapability(kPrivacyZones, properties_.PrivacyMaskCount());
    store_.SetCapability(kPrivacyZonesOn, 1);
    store_.SetCapability(kPrivacyZonesOther, 0);
  }
  const uint32_t streams = properties_.StreamCount();
  if (streams > 1 && properties_.HostAtLeast61()) {
    store_.SetCapability(kExtraStreams, streams - 1);
    SaveStreamItems(1, 120, "Live Stream");
    if (streams > 2) SaveStreamItems(2, 124, "Remote Stream");
  }
  if (properties_.AudioIn().count != 0) {
    store_.SetCapability(kAudioInputs, properties_.AudioIn().count);
    SaveItem(101, "Audio Input Parameters", AudioText(properties_.AudioIn()));
  }
  if (properties_.AudioOut().count != 0) SaveItem(102, "Audio Output Parameters", AudioText(properties_.AudioOut()));
  if (properties_.EdgeStorage()) store_.SetCapability(kStorage, 1);
}

void CCapabilityResultWriter::SaveStreamItems(uint32_t stream, uint32_t firstId, const char* prefix) {
  const StreamCapabilities& caps = properties_.Stream(stream);
  const bool host64 = properties_.HostAtLeast64();
  SaveItem(firstId, std::string(prefix) + ": Supported Codecs", CodecsText(caps));
  SaveItem(firstId + 1, std::string(prefix) + ": Supported Resolutions", ResolutionsText(caps, host64));
  SaveItem(firstId + 2, std::string(prefix) + ": Supported Framerates", FrameRatesText(caps, host64));
}

void CCapabilityResultWriter::SaveItem(uint32_t id, const std::string& name, const std::string& value) {
  ipcapture::ICapabilityItem* item = store_.CreateItem(id);
  if (item == nullptr) return;
  item->SetName(name.c_str());
  item->SetType(1);
  item->SetValue(value.empty() ? "(none)" : value.c_str());
  item->SetFlags(0);
}

std::string CCapabilityResultWriter::CodecsText(const StreamCapabilities& stream) {
  std::string text;
  for (VideoCodec codec : kCodecListOrder) {
    if (stream.codecs.count(codec) == 0) continue;
    if (!text.empty()) text += ",";
    text += codec == kCodecH264 ? "h264" : codec == kCodecMpeg4 ? "mpeg" : "jpeg";
  }
  return text;
}

std::string CCapabilityResultWriter::ResolutionsText(const StreamCapabilities& stream, bool hostAtLeast64) {
  const uint32_t fallback = HighestEncoded(stream, hostAtLeast64, 40);
  std::string text;
  for (const StreamResolution& r : stream.resolutions) {
    if (r.width == 0 || r.height == 0) continue;
    const uint32_t frameValue =
        r.maxFrameRate != 0 ? CBaseCameraProperties::EncodeFrameRate(r.maxFrameRate, hostAtLeast64) : fallback;
    if (!text.empty()) text += ",";
    text += Format("%ux%u:%u", r.width, r.height, frameValue);
  }
  return text;
}

std::string CCapabilityResultWriter::FrameRatesText(const StreamCapabilities& stream, bool hostAtLeast64) {
  if (stream.frameRates.empty()) return {};
  std::string values;
  for (uint32_t rate : stream.frameRates) {
    if (rate == 0) continue;
    if (!values.empty()) values += ",";
    values += std::to_string(CBaseCameraProperties::EncodeFrameRate(rate, hostAtLeast64));
  }
  uint32_t wanted = stream.defaultFrameRate != 0 ? stream.defaultFrameRate : *stream.frameRates.rbegin() / 2;
  auto it = stream.frameRates.lower_bound(wanted);
  if (it != stream.frameRates.end()) wanted = *it;
  return "values=" + values +
         ";default=" + std::to_string(CBaseCameraProperties::EncodeFrameRate(wanted, hostAtLeast64));
}

}  // namespace orbisan
